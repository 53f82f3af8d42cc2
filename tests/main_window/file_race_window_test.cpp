#include "files/settings_table.h"
#include "main_window/main_window.h"
#include "platform/virtual_clock.h"
#include "program/command_set.h"
#include "program/editing.h"
#include "program/listing.h"
#include "simulator/simulated_port.h"
#include "support/fake_files.h"
#include "support/fake_messages.h"
#include "support/program_files.h"
#include "support/window_fixture.h"
#include "transfer/send_dialog.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

using namespace kqm;

namespace {

int sizeOf(QVector<program::ProgramRow> rows) {
    platform::SilentMessages silent;
    return program::computeListing(rows, silent).programSize;
}

// The window connected to the simulated unit, a program file open, and
// another program (a second connection) changing that file at any moment:
// while the send dialog, the print dialog or a box is open, while it holds
// the file locked, right before Save As.
class FileRaceWindowTest : public test::WindowFixture {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        form = makeWindow(clock, port);
        form->Form_Load();
        ASSERT_TRUE(form->linkState().UnitConnected);
        files::SettingsTable& settings = form->settingsTable();
        ASSERT_TRUE(settings.setPreferenceOn(files::SettingsTable::VerifySendPreference, false));
        ASSERT_TRUE(
            settings.setPreferenceOn(files::SettingsTable::BackupBeforeSendPreference, false));
        // Close to the unit's memory, so that a few lines more do not fit.
        QVector<test::Line> lines;
        QVector<program::ProgramRow> sized;
        while (sizeOf(sized) < program::UnitMemoryBytes - 20) {
            lines << test::Line{QStringLiteral("N500\r@0G")};
            program::ProgramRow row;
            row.command = lines.last().command;
            sized << row;
        }
        lines << test::Line{QStringLiteral("Q")};
        path = dir.filePath(QStringLiteral("race.mdb"));
        test::WriteProgramFile(path, lines);
        dialogs.choose(path);
        click("cmdOpen");
        messages.clear();
    }

    // What another program does to the file the window shows.
    void elsewhere(const std::function<void(program::ProgramTable&)>& change) {
        program::ProgramTable other;
        ASSERT_TRUE(other.open(path));
        change(other);
    }
    void insertElsewhere(const QString& command) {
        elsewhere([&](program::ProgramTable& other) {
            program::ProgramState state;
            platform::SilentMessages silent;
            const int at = static_cast<int>(random.bounded(std::max(1, static_cast<int>(rows().size()) - 1)));
            EXPECT_TRUE(program::insertLine(other, state, silent, at, command, QString()).ok);
        });
    }
    void deleteElsewhere() {
        elsewhere([&](program::ProgramTable& other) {
            program::ProgramState state;
            platform::SilentMessages silent;
            const int at = static_cast<int>(random.bounded(std::max(1, static_cast<int>(rows().size()) - 1)));
            EXPECT_TRUE(program::deleteLine(other, state, silent, at).ok);
        });
    }
    QVector<program::ProgramRow> rows() { return test::ReadProgramFile(path); }
    QStringList commands(const QVector<program::ProgramRow>& of) {
        QStringList list;
        for (const auto& row : of)
            list << QString(row.command).remove(QLatin1Char('\r')); // as the grid shows it
        return list;
    }

    // The grid, the memory label and the fit are those of the file, once the
    // window had a moment (a look held back by a lock is taken again).
    void expectAgree() {
        const auto file = rows();
        QElapsedTimer waited;
        waited.start();
        while (gridColumn(2) != commands(file) && waited.elapsed() < 3000)
            QTest::qWait(50);
        EXPECT_EQ(gridColumn(2), commands(file));
        const int size = sizeOf(file);
        EXPECT_EQ(labelText("lblBytesUsed"), program::memoryCaption(size));
        EXPECT_EQ(form->programState().ProgramSize, size);
        EXPECT_EQ(form->programState().ProgramFits, size <= program::UnitMemoryBytes);
    }

    QString pdfText(const QString& pdf) {
        QProcess text;
        text.start(QStringLiteral("pdftotext"), {"-layout", pdf, "-"});
        EXPECT_TRUE(text.waitForFinished(30000)) << "pdftotext (poppler-utils) is needed";
        return QString::fromUtf8(text.readAllStandardOutput());
    }

    platform::VirtualClock clock;
    simulator::SimulatedPort port{clock};
    QString path;
    QRandomGenerator random;
};

// A random sequence of the window's actions, each with another program's
// change at the moment that matters; after every step what the window shows,
// sends and prints is the file as it was at that moment.
TEST_F(FileRaceWindowTest, WhatIsShownSentAndPrintedIsTheFile) {
    const quint32 seed = QRandomGenerator::global()->generate();
    std::printf("seed %u\n", seed);
    SCOPED_TRACE(seed);
    random.seed(seed);
    const QStringList commandsToAdd = {"W5", "A10", "N500\r@0G", "B600", "N500\r@0G"};
    int saves = 0;
    for (int step = 0; step < 24; ++step) {
        SCOPED_TRACE(step);
        messages.clear();
        messages.whileOpen = nullptr;
        printDialogs.whileOpen = nullptr;
        const int kind = step < 3 ? step : static_cast<int>(random.bounded(7));
        switch (kind) {
        case 0: { // a lock held while the user deletes: a short wait, then words
            QSqlDatabase locker = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "locker");
            locker.setDatabaseName(path);
            ASSERT_TRUE(locker.open());
            ASSERT_TRUE(QSqlQuery(locker).exec(QStringLiteral("BEGIN EXCLUSIVE")));
            const QStringList before = gridColumn(2);
            auto* grid = form->findChild<QTableView*>(QStringLiteral("DBGrid2"));
            grid->selectRow(1);
            QElapsedTimer held;
            held.start();
            click("cmdDelete");
            EXPECT_LT(held.elapsed(), program::SqliteFile::LockWaitMs + 1000);
            ASSERT_EQ(messages.texts().size(), 1);
            EXPECT_TRUE(messages.texts().first().contains("another program is changing"))
                << messages.texts().first().toStdString();
            EXPECT_EQ(gridColumn(2), before);
            QSqlQuery(locker).exec(QStringLiteral("ROLLBACK"));
            locker.close();
            locker = QSqlDatabase();
            QSqlDatabase::removeDatabase(QStringLiteral("locker"));
            break;
        }
        case 1: { // the send dialog open while the file changes
            click("cmdSend");
            auto* dialog = form->findChild<transfer::Form2*>();
            if (!dialog) {
                // Refused at once: the program the file holds does not fit.
                EXPECT_GT(sizeOf(rows()), program::UnitMemoryBytes);
                EXPECT_EQ(messages.texts().size(), 1);
                break;
            }
            insertElsewhere(commandsToAdd.at(static_cast<int>(random.bounded(commandsToAdd.size()))));
            auto* ok = dialog->findChild<QPushButton*>(QStringLiteral("cmdOK"));
            for (int press = 0; press < 3 && form->findChild<transfer::Form2*>(); ++press)
                QTest::mouseClick(ok, Qt::LeftButton);
            if (auto* still = form->findChild<transfer::Form2*>())
                still->reject();
            const auto file = rows();
            if (sizeOf(file) <= program::UnitMemoryBytes) {
                EXPECT_EQ(port.unit().program().size(), file.size());
            }
            break;
        }
        case 2: { // printed while the print dialog is open and the file changes
            const QString pdf = dir.filePath(QStringLiteral("race-%1.pdf").arg(step));
            printDialogs.pdfPath = pdf;
            QVector<program::ProgramRow> confirmed;
            printDialogs.whileOpen = [&] {
                insertElsewhere(QStringLiteral("W7"));
                confirmed = rows();
            };
            form->findChild<QAction*>(QStringLiteral("mnuPrint"))->trigger();
            const QString text = pdfText(pdf);
            EXPECT_TRUE(text.contains(program::memoryCaption(sizeOf(confirmed))))
                << text.right(300).toStdString();
            EXPECT_TRUE(text.contains(QStringLiteral("Wait 7")));
            break;
        }
        case 3: // Save As right after another program's change
            insertElsewhere(QStringLiteral("W9"));
            path = dir.filePath(QStringLiteral("saved-%1.mdb").arg(++saves));
            dialogs.choose(path);
            click("cmdSave");
            break;
        case 4: // a line the window knows no size of: its box open while more changes
            messages.whileOpen = [&](const QString& text) {
                if (text.contains(QStringLiteral("J5")) && rows().size() < 400)
                    insertElsewhere(QStringLiteral("W3"));
            };
            insertElsewhere(QStringLiteral("J5"));
            QTest::qWait(200);
            // The user takes the line out again.
            elsewhere([&](program::ProgramTable& other) {
                const auto now = other.readRows();
                ASSERT_TRUE(now);
                for (int i = 0; i < now->size(); ++i) {
                    if (now->at(i).command == QLatin1String("J5")) {
                        program::ProgramState state;
                        platform::SilentMessages silent;
                        EXPECT_TRUE(program::deleteLine(other, state, silent, i).ok);
                        break;
                    }
                }
            });
            break;
        case 5:
            insertElsewhere(commandsToAdd.at(static_cast<int>(random.bounded(commandsToAdd.size()))));
            break;
        default:
            deleteElsewhere();
            break;
        }
        messages.whileOpen = nullptr;
        expectAgree();
    }
}

} // namespace

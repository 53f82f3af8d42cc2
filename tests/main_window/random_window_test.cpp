#include "platform/virtual_clock.h"
#include "program/command_set.h"
#include "simulator/simulated_port.h"
#include "support/program_files.h"
#include "support/window_fixture.h"
#include "transfer/send.h"
#include "transfer/send_dialog.h"

#include <QAction>
#include <QCheckBox>
#include <QDockWidget>
#include <QFile>
#include <QLineEdit>
#include <QPixmapCache>
#include <QRadioButton>
#include <QTabWidget>

#include <gtest/gtest.h>

#include <random>

#include <malloc.h>

using namespace kqm;
using platform::MessageAnswer;

namespace {

// The real window against the simulated unit, driven by a seeded random
// sequence of user actions: every button and menu, dialogs answered at random,
// Stop Motion at random moments, the unit's faults switched on and off. After
// every step: named files change only through the commands that may change
// them, a send never cuts a program line nor mixes frames, and the grid shows
// the bound file's rows.
class RandomWindow : public test::WindowFixture {
protected:
    void run(unsigned seed, int steps) {
        random.seed(seed);
        form = makeWindow(clock, port);
        form->Form_Load();
        form->show(); // the machine view polls positions only while it shows
        named = {dir.filePath("a.mdb"), dir.filePath("b.mdb"), dir.filePath("c.mdb")};
        test::WriteProgramFile(named[0], {{"A10"}, {"N500\r@0G"}, {"W5"}, {"Q"}});
        test::WriteProgramFile(named[1], {{"B600"}, {"&0_3"}, {"Q"}});
        // A machine of the unit and one that is not on the line: its runs
        // and its position poll mix with everything else.
        machineFile = dir.filePath("m.kqmachine");
        QFile machine(machineFile);
        if (machine.open(QIODevice::WriteOnly))
            machine.write(R"({"name": "m", "units": [{"axis": 0, "program": "a.mdb"},
                {"axis": 2, "program": "b.mdb"}]})");
        machine.close();
        // At a random moment, mostly inside an exchange's waits: Stop Motion,
        // or another action that must then be refused.
        if (!listening)
            clock.addListener([this](double now) {
                if (stopAt < 0 || now < stopAt)
                    return;
                stopAt = -1;
                switch (meanwhile) {
                case 0:
                    dialogs.choose(named[0]);
                    click("cmdOpen");
                    break;
                case 1:
                    selectAnyRow();
                    click("cmdDelete");
                    break;
                case 2:
                    click("SSCommand1");
                    break;
                case 3:
                    click("cmdUpload");
                    break;
                case 4:
                    if (machineOpen())
                        click("cmdSendAll");
                    break;
                default:
                    click("cmdStopAll");
                    break;
                }
            });
        listening = true;
        for (int step = 0; step < steps; ++step) {
            SCOPED_TRACE(QStringLiteral("seed %1 step %2").arg(seed).arg(step).toStdString());
            act();
            if (::testing::Test::HasFatalFailure())
                return;
        }
    }

    // Closes the window and forgets what the run recorded, so that the next
    // run starts as the first did.
    void finishRun() {
        form->close();
        form.reset();
        port.unit().faults() = {};
        port.clearWrites();
        messages.clear();
        copier.copies.clear();
    }

    bool machineOpen() const {
        return !form->findChild<QDockWidget*>(QStringLiteral("dckMachine"))->isHidden();
    }

    int number(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }
    bool chance(int percent) { return number(1, 100) <= percent; }
    MessageAnswer anyAnswer() {
        const MessageAnswer answers[] = {MessageAnswer::Ok, MessageAnswer::Cancel,
                                         MessageAnswer::Yes, MessageAnswer::No};
        return answers[number(0, 3)];
    }

    QMap<QString, QByteArray> snapshot() const {
        QMap<QString, QByteArray> files;
        for (const QString& file : named)
            files[file] = QFile::exists(file) ? test::FileBytes(file) : QByteArray();
        return files;
    }

    void editorAnswer() {
        const bool cancel = chance(20);
        const int kind = number(0, 4);
        const QString value =
            chance(15) ? QStringLiteral("4,000") : QString::number(number(1, 200));
        test::AnswerModal([cancel, kind, value](QDialog* editor) {
            if (!editor)
                return;
            if (!cancel) {
                const char* options[] = {"optAcceleration", "optWait", "optQuit", "optLoop",
                                         "optGoRelative"};
                const char* boxes[] = {"txtAcceleration", "txtWait", nullptr, "txtLoopTimesToLoop",
                                       "txtGoRelative"};
                if (kind >= 1 && kind <= 3)
                    editor->findChild<QTabWidget*>(QStringLiteral("SSTab1"))->setCurrentIndex(2);
                auto* option = editor->findChild<QRadioButton*>(QString::fromLatin1(options[kind]));
                QTest::mouseClick(option, Qt::LeftButton, {}, QPoint(6, option->height() / 2));
                if (boxes[kind])
                    editor->findChild<QLineEdit*>(QString::fromLatin1(boxes[kind]))->setText(value);
                if (kind == 3)
                    editor->findChild<QLineEdit*>(QStringLiteral("txtLoopLineNumber"))
                        ->setText(QStringLiteral("0"));
                QTest::mouseClick(editor->findChild<QPushButton*>(QStringLiteral("btnOK")),
                                  Qt::LeftButton);
            }
            // A refused value leaves the editor open: cancel it then.
            if (QApplication::activeModalWidget() == editor)
                QTest::mouseClick(editor->findChild<QPushButton*>(QStringLiteral("btnCancel")),
                                  Qt::LeftButton);
        });
    }

    void selectAnyRow() {
        auto* grid = form->findChild<QTableView*>(QStringLiteral("DBGrid2"));
        const int rows = grid->model()->rowCount();
        if (rows > 0 && chance(85))
            grid->selectRow(number(0, rows - 1));
        else
            grid->clearSelection();
    }

    void toggleFault() {
        auto& faults = port.unit().faults();
        switch (number(0, 4)) {
        case 0:
            faults.silent = !faults.silent;
            break;
        case 1:
            faults.garbage = !faults.garbage;
            break;
        case 2:
            faults.corruptMemory = !faults.corruptMemory;
            break;
        case 3:
            faults.replyDelay = faults.replyDelay > 0 ? 0.0 : 0.3;
            break;
        default:
            faults.burstSize = faults.burstSize > 0 ? 0 : 3;
            faults.burstGap = 0.05;
            break;
        }
    }

    // One random user action, then the checks.
    void act() {
        if (chance(10))
            toggleFault();
        for (int i = 0; i < 3; ++i)
            messages.answerNext(anyAnswer());
        stopAt = chance(30) ? clock.now() + number(1, 40) / 10.0 : -1;
        meanwhile = number(0, 7);
        const auto before = snapshot();
        const QString boundBefore = form->programTable().path();
        enum Kind { Edit, File, Upload, Other } kind = Other;
        QByteArray sendExpected;
        const qsizetype writesBefore = port.writeCount();
        bool sent = false;
        switch (number(0, 18)) {
        case 0:
            editorAnswer();
            click("cmdAdd");
            kind = Edit;
            break;
        case 1:
            selectAnyRow();
            editorAnswer();
            click("cmdInsert");
            kind = Edit;
            break;
        case 2:
            selectAnyRow();
            editorAnswer();
            click("cmdChange");
            kind = Edit;
            break;
        case 3:
            selectAnyRow();
            click("cmdDelete");
            kind = Edit;
            break;
        case 4:
            dialogs.choose(chance(80) ? std::optional<QString>(named[number(0, 2)]) : std::nullopt);
            click("cmdOpen");
            kind = File;
            break;
        case 5:
            dialogs.choose(chance(80) ? std::optional<QString>(named[number(0, 2)]) : std::nullopt);
            click("cmdSave");
            kind = File;
            break;
        case 6:
            click("SSCommand1");
            kind = File;
            break;
        case 7:
            click("cmdUpload");
            kind = Upload;
            break;
        case 8: {
            click("cmdSend");
            auto* dialog = form->findChild<transfer::Form2*>();
            if (dialog) {
                sendExpected = dialog->ProgramSendText().toLatin1();
                QTest::mouseClick(
                    dialog->findChild<QPushButton*>(chance(80) ? QStringLiteral("cmdOK")
                                                               : QStringLiteral("cmdCancel")),
                    Qt::LeftButton);
                sent = true;
            }
            break;
        }
        case 9:
            click("cmdView");
            break;
        case 10:
            click(chance(50) ? "cmdRun" : "cmdStop");
            break;
        case 11:
            click("cmdConnect");
            break;
        case 12: {
            const char* motion[] = {"cmdSendAccel",       "cmdSendBase", "cmdSendMax",
                                    "cmdJogSpeed",        "cmdDirPlus",  "cmdSendGo",
                                    "cmdAbsoluteMove",    "Command1",    "cmdHomeType0",
                                    "cmdVerifyParameters"};
            click(motion[number(0, 9)]);
            break;
        }
        case 13:
            QTest::mouseClick(form->findChild<QCheckBox*>(QStringLiteral("chkOutput1")),
                              Qt::LeftButton);
            break;
        case 14:
            form->findChild<QTabWidget*>(QStringLiteral("SSTab2"))->setCurrentIndex(number(0, 1));
            break;
        case 15:
            printDialogs.pdfPath = chance(50) ? dir.filePath("listing.pdf") : QString();
            click("cmdPrint");
            break;
        case 16:
            click("cmdEnableAutostart");
            break;
        case 17: {
            // A machine run leaves the user's axis current, and its sends
            // go through the same frames as any other.
            if (!machineOpen()) {
                dialogs.choose(machineFile);
                form->findChild<QAction*>(QStringLiteral("mnuOpenMachine"))->trigger();
            }
            const QString axis = form->linkState().AxisAddress;
            click(chance(50) ? "cmdCheckAll" : "cmdSendAll");
            EXPECT_EQ(form->linkState().AxisAddress, axis);
            break;
        }
        default:
            click("cmdStopAll");
            break;
        }
        QCoreApplication::processEvents();
        stopAt = -1;
        check(before, boundBefore, kind, sent ? sendExpected : QByteArray(), writesBefore);
    }

    void check(const QMap<QString, QByteArray>& before, const QString& boundBefore, int kind,
               const QByteArray& sendText, qsizetype writesBefore) {
        // Named files change only through a file command, or an edit of the
        // file that was bound; an upload writes only the working copy.
        const auto after = snapshot();
        for (const QString& file : named) {
            if (after[file] == before[file])
                continue;
            const bool allowed = kind == 1 /*File*/ || (kind == 0 /*Edit*/ && file == boundBefore);
            EXPECT_TRUE(allowed) << "changed: " << file.toStdString();
        }
        if (form->programTable().path() != boundBefore) {
            EXPECT_TRUE(kind == 1 || kind == 2) << "rebound by another action";
        }

        // The wire: frames one at a time, and a send's program lines whole.
        QByteArray wire;
        for (const auto& write : port.writesSince(writesBefore))
            wire += write.byte;
        for (const QByteArray& frame : wire.split('\r')) {
            EXPECT_LE(frame.count('@'), 1) << "mixed frames: " << frame.toStdString();
            if (!frame.isEmpty() && frame != "VE") {
                EXPECT_TRUE(frame.startsWith('@')) << frame.toStdString();
            }
        }
        if (!sendText.isEmpty() && wire.startsWith(sendText.left(6)))
            checkSend(wire, sendText);

        // The grid shows the bound file's rows.
        const QString bound = form->programTable().path();
        if (!bound.isEmpty()) {
            QStringList stored;
            for (const auto& row : test::ReadProgramFile(bound))
                stored << program::StripCrLf(row.command); // as the grid shows it
            EXPECT_EQ(gridColumn(2), stored);
        }
        EXPECT_FALSE(form->deviceLink().exchanges().isBusy());
        EXPECT_EQ(cursor.depth(), 0);
    }

    // What went out is the lead-in and whole lines, then, if it was stopped,
    // the clean end; or, when the whole program went out, perhaps the stop.
    void checkSend(const QByteArray& wire, const QByteArray& text) {
        const QByteArray axis = text.mid(2, text.indexOf('E') - 2); // "\r@" axis "E0\r"
        const QByteArray prefix = "@" + axis;
        const QByteArray end = prefix + "Q\r" + prefix + ".\r" + prefix + "E0\r" + prefix + "Q\r";
        QByteArray sent = wire;
        if (wire.startsWith(text)) {
            sent = wire.mid(text.size());
            EXPECT_TRUE(sent.isEmpty() || sent.startsWith(prefix + ".\r")) << sent.toStdString();
            return;
        }
        ASSERT_TRUE(wire.endsWith(end)) << "a send that ended early: " << wire.toStdString();
        const QByteArray lines = wire.left(wire.size() - end.size());
        ASSERT_TRUE(text.startsWith(lines)) << wire.toStdString();
        // It stopped at a line's end: what follows in the full text is a new
        // line (a frame that is not the go of a move).
        const QByteArray rest = text.mid(lines.size());
        EXPECT_TRUE(rest.startsWith(prefix)) << rest.toStdString();
        EXPECT_FALSE(rest.startsWith(prefix + "G\r") && lines.right(9).contains("N"))
            << "a go move cut in two";
    }

    platform::VirtualClock clock;
    simulator::SimulatedPort port{clock};
    std::mt19937 random;
    QStringList named;
    QString machineFile;
    double stopAt = -1;
    int meanwhile = 0;
    bool listening = false;
};

TEST_F(RandomWindow, SeededSequencesKeepEveryInvariant) {
    // Seeds that once failed stay here as regressions, with fresh ones.
    // KQM_RANDOM_SEEDS=N tries N more, from KQM_RANDOM_SEED_BASE (1001 when
    // not set), so that a soak can run seeds never run before.
    QList<unsigned> seeds = {20261208u, 1u, 2u};
    const int extra = qEnvironmentVariableIntValue("KQM_RANDOM_SEEDS");
    bool baseGiven = false;
    const unsigned base = qEnvironmentVariableIntValue("KQM_RANDOM_SEED_BASE", &baseGiven);
    for (int i = 0; i < extra; ++i)
        seeds << (baseGiven ? base : 1001u) + static_cast<unsigned>(i);
    if (extra > 0)
        std::printf("random window: seeds %u to %u besides the fixed ones\n", seeds.at(3),
                    seeds.last());
    for (const unsigned seed : seeds) {
        run(seed, 150);
        if (HasFailure())
            return;
        finishRun();
    }
}

// What a window allocates goes with it: windows that are made, used and
// closed one after another leave the heap as it was, give or take caches.
TEST_F(RandomWindow, ClosedWindowsGiveTheirMemoryBack) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator keeps freed memory in quarantine";
#endif
    const auto useWindows = [this](unsigned first, int count) {
        for (int i = 0; i < count && !HasFailure(); ++i) {
            run(first + static_cast<unsigned>(i), 25);
            finishRun();
        }
    };
    useWindows(7000, 10); // fonts, styles and SQLite's caches fill once
    // Painting shown windows fills Qt's pixmap cache (bounded, 10 MB by
    // default): it is emptied before each reading.
    QPixmapCache::clear();
    const size_t before = mallinfo2().uordblks;
    useWindows(7100, 200);
    QPixmapCache::clear();
    const size_t after = mallinfo2().uordblks;
    std::printf("heap in use before 200 windows: %zu bytes, after: %zu bytes\n", before, after);
    EXPECT_LT(static_cast<double>(after) - static_cast<double>(before), 2.0 * 1024 * 1024);
}

} // namespace

// Runs the real main window in a program directory and makes edits through
// its controls, telling on standard output when each edit is complete; or,
// with "check", starts it again and prints what it shows and holds. The crash
// test kills the first at random moments and checks with the second.
#include "edit_script.h"
#include "files/file_copy.h"
#include "files/listing_printer.h"
#include "link/device_port.h"
#include "main_window/main_window.h"
#include "platform/app_paths.h"
#include "platform/busy_cursor.h"
#include "platform/clock.h"
#include "platform/file_dialogs.h"
#include "platform/messages.h"
#include "program/editing.h"
#include "support/test_form.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <cstdio>

using namespace kqm;
namespace crash = kqm::test::crash;

namespace {

class PrintingMessages final : public platform::Messages {
public:
    platform::MessageAnswer show(platform::MessageIcon, const QString& text,
                                 platform::MessageButtons) override {
        std::printf("box: %s\n", qPrintable(QString(text).replace(QLatin1Char('\n'), ' ')));
        std::fflush(stdout);
        return platform::MessageAnswer::No;
    }
};

class NoDialogs final : public platform::FileDialogs {
public:
    std::optional<QString> openFileName(const QString&, const QString&, const QString&) override {
        return {};
    }
    std::optional<QString> saveFileName(const QString&, const QString&, const QString&) override {
        return {};
    }
};

class NoPrinter final : public files::PrintDialogs {
public:
    bool choosePrinter(QPrinter&, const QString&) override { return false; }
};

void answerEditor(int step) {
    test::AnswerModal([step](QDialog* editor) {
        if (!editor)
            return;
        const QString value = crash::StepValue(step);
        if (crash::KindOf(step) != crash::Kind::ChangeSecond) {
            editor->findChild<QTabWidget*>(QStringLiteral("SSTab1"))->setCurrentIndex(2);
            auto* wait = editor->findChild<QRadioButton*>(QStringLiteral("optWait"));
            QTest::mouseClick(wait, Qt::LeftButton, {}, QPoint(6, wait->height() / 2));
        }
        editor->findChild<QLineEdit*>(QStringLiteral("txtWait"))->setText(value);
        const char* word = crash::KindOf(step) == crash::Kind::InsertFirst    ? "insert "
                           : crash::KindOf(step) == crash::Kind::ChangeSecond ? "change "
                                                                              : "add ";
        editor->findChild<QLineEdit*>(QStringLiteral("txtComment(2)"))
            ->setText(QString::fromLatin1(word) + value);
        QTest::mouseClick(editor->findChild<QPushButton*>(QStringLiteral("btnOK")), Qt::LeftButton);
    });
}

void edit(ui::Form1& form, int step) {
    auto* grid = form.findChild<QTableView*>(QStringLiteral("DBGrid2"));
    const auto click = [&form](const char* name) {
        QTest::mouseClick(form.findChild<QPushButton*>(QString::fromLatin1(name)), Qt::LeftButton);
    };
    switch (crash::KindOf(step)) {
    case crash::Kind::InsertFirst:
        grid->selectRow(0);
        answerEditor(step);
        click("cmdInsert");
        break;
    case crash::Kind::ChangeSecond:
        grid->selectRow(1);
        answerEditor(step);
        click("cmdChange");
        break;
    case crash::Kind::DeleteLast:
        grid->selectRow(grid->model()->rowCount() - 1);
        click("cmdDelete");
        break;
    case crash::Kind::Add:
        answerEditor(step);
        click("cmdAdd");
        break;
    }
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 3)
        return 2;
    const QString mode = QString::fromLocal8Bit(argv[1]);
    platform::FixedAppPaths paths(QString::fromLocal8Bit(argv[2]));
    PrintingMessages messages;
    platform::SystemClock clock;
    platform::CountingBusyCursor cursor;
    link::DevicePort port([](int) { return QString(); },
                          [](const QString&) { return std::unique_ptr<platform::SerialPort>(); });
    NoDialogs dialogs;
    files::AtomicFileCopier copier;
    NoPrinter printer;
    test::TestForm form({messages, clock, paths, cursor, port, dialogs, copier, printer});
    form.Form_Load();

    if (mode == QLatin1String("check")) {
        const auto rows = form.programTable().readRows();
        if (!rows)
            return 1;
        for (const auto& row : *rows) {
            std::printf("row: %lld|%lld|%s|%s|%s\n", static_cast<long long>(row.lineNo),
                        static_cast<long long>(row.address), qPrintable(row.command),
                        qPrintable(row.listing), qPrintable(row.comment));
        }
        return 0; // no clean exit is recorded: the next check recovers again
    }

    // The long program the edits work on, stored in one go.
    auto rows = form.programTable().readRows().value_or(QVector<program::ProgramRow>{});
    if (rows.isEmpty()) {
        QVector<program::ProgramRow> lines;
        for (const crash::Line& line : crash::InitialProgram())
            program::appendProgramLine(lines, line.command, line.comment);
        program::storeAndRefresh(form.programTable(), rows, lines, form.programState(), messages);
        form.RefreshListing();
    }
    std::printf("ready\n");
    std::fflush(stdout);
    for (int step = 0;; ++step) {
        edit(form, step);
        std::printf("done %d\n", step);
        std::fflush(stdout);
    }
}

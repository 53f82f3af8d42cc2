#include "files/listing_printer.h"
#include "files/printed_listing.h"
#include "files/program_files.h"
#include "files/startup.h"
#include "program/edit_history.h"
#include "program/editing.h"
#include "support/fake_messages.h"
#include "support/qt_printers.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

using namespace kqm::files;

namespace {

TEST(BackupNameRule, EveryCase) {
    const std::pair<const char*, const char*> cases[] = {
        {"A.XY", "A.BAK"},
        {"A.C", "A.BAK"},
        {"A.", "A.BAK"},
        {"PROG.MDB", "PROG.BAK"},
        {"prog.mdb", "prog.BAK"},
        {"prog", "prog.BAK"},
        {"prog.mdbx", "prog.mdbx.BAK"},
        {"/d/x.y/prog", "/d/x.y/prog.BAK"},
        {"/d/ABC.MDB", "/d/ABC.BAK"},
        {"a.b.c", "a.b.BAK"},
        // The rule applies to the name alone: the backup stays beside the file.
        {"/home/u/x./ab", "/home/u/x./ab.BAK"},
        {"/home/u/x.y/ab", "/home/u/x.y/ab.BAK"},
        {"C:\\pro.g\\ab", "C:\\pro.g\\ab.BAK"},
    };
    for (const auto& [name, backup] : cases)
        EXPECT_EQ(backupName(QString::fromLatin1(name)), QString::fromLatin1(backup)) << name;
}

TEST(SameFileTest, RealPathsDecide) {
    QTemporaryDir dir;
    const QString file = dir.filePath("p.mdb");
    QFile(file).open(QIODevice::WriteOnly);
    EXPECT_TRUE(sameFile(file, dir.path() + "/./p.mdb"));
    EXPECT_FALSE(sameFile(file, dir.filePath("q.mdb")));
}

kqm::program::ProgramRow row(int line, const QString& command, const QString& comment = " ") {
    kqm::program::ProgramRow r;
    r.lineNo = line;
    r.address = (line - 1) * 2;
    r.command = command;
    r.listing = QStringLiteral("text %1").arg(line);
    r.comment = comment;
    return r;
}

const LineHeights Heights{300, 250};
const QDateTime When(QDate(2026, 3, 4), QTime(21, 5));

TEST(PrintedListing, OneLineOnOnePage) {
    const auto items = layOutListing({row(1, "N500\r\n@0G", "go")}, "/p/prog.mdb",
                                     "Memory: 7 of 2047 bytes used.", When, Heights);
    const QVector<PlacedText> expected = {
        {0, 500, 100, "Quorvex Motion KQM20 Program Listing     Mar 4,2026,09:05 PM", 12, true,
         false},
        {0, 500, 400, "/p/prog.mdb", 12, false, true},
        {0, 500, 900, "Line", 10, true, false, 440},
        {0, 1000, 900, "Addr.", 10, true, false, 590},
        {0, 1650, 900, "KQM20 Command", 10, true, false, 1590},
        {0, 3300, 900, "Command", 10, true, false, 3940},
        {0, 7300, 900, "Comments", 10, true, false, -1},
        {0, 500, 1150, "1", 10, false, false, 440},
        {0, 1000, 1150, "0", 10, false, false, 590},
        {0, 1650, 1150, "N500@0G", 10, false, false, 1590},
        {0, 3300, 1150, "text 1", 10, false, false, 3940},
        {0, 7300, 1150, "go", 10, false, false, -1},
        {0, 500, 1400, "Memory: 7 of 2047 bytes used.", 10, true, false},
    };
    EXPECT_EQ(items, expected);
    EXPECT_EQ(listingTitle(QDateTime(QDate(2026, 12, 17), QTime(9, 30))),
              QStringLiteral("Quorvex Motion KQM20 Program Listing     Dec 17,2026,09:30 AM"));
}

TEST(PrintedListing, HeadingsRepeatOnEveryNewPage) {
    QVector<kqm::program::ProgramRow> rows;
    for (int line = 1; line <= 120; ++line)
        rows << row(line, "G");
    const auto items = layOutListing(rows, "f", "Memory", When, Heights);
    // Rows start at 1150 and are 250 apart: the last row on page 0 starts at
    // or before 14699 and the next page starts with the headings at 100.
    int lastPage = 0;
    for (const PlacedText& item : items) {
        if (item.text == QLatin1String("Line")) {
            EXPECT_TRUE(item.bold);
            EXPECT_EQ(item.y, item.page == 0 ? 900 : 100);
        }
        if (item.x == 500 && !item.bold && item.pointSize == 10) {
            EXPECT_LE(item.y, 14699 + 250) << item.text.toStdString();
        }
        lastPage = std::max(lastPage, item.page);
    }
    const auto firstOnPage1 = std::find_if(items.begin(), items.end(), [](const PlacedText& item) {
        return item.page == 1 && item.x == 500 && !item.bold;
    });
    ASSERT_NE(firstOnPage1, items.end());
    EXPECT_EQ(firstOnPage1->text, QStringLiteral("56")); // 55 rows fit on the first page
    EXPECT_EQ(firstOnPage1->y, 350);
    EXPECT_EQ(lastPage, 2);
    int headingRows = 0;
    for (const PlacedText& item : items)
        headingRows += item.text == QLatin1String("Comments");
    EXPECT_EQ(headingRows, 3);
    // Title and file name are printed once.
    EXPECT_EQ(std::count_if(items.begin(), items.end(),
                            [](const PlacedText& item) { return item.italic; }),
              1);
}

TEST(PrintedListing, MemoryLineAloneOnANewPage) {
    // 54 rows end at 1150 + 54 * 250 = 14650, past 14600.
    QVector<kqm::program::ProgramRow> rows;
    for (int line = 1; line <= 54; ++line)
        rows << row(line, "G");
    auto items = layOutListing(rows, "f", "Memory: 108 of 2047 bytes used.", When, Heights);
    EXPECT_EQ(items.last(),
              (PlacedText{1, 500, 100, "Memory: 108 of 2047 bytes used.", 10, true, false}));
    rows.removeLast();
    items = layOutListing(rows, "f", "Memory", When, Heights);
    EXPECT_EQ(items.last().page, 0);
    EXPECT_EQ(items.last().y, 14400);
}

} // namespace

namespace {

// Qt's own print dialog offers the program's PDF in its file box, without
// making the PDF the chosen printer.
TEST(PrintDialog, OffersTheProgramsPdfFile) {
    QString offered;
    QTimer::singleShot(0, [&offered] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        if (auto* file = dialog->findChild<QLineEdit*>(QStringLiteral("filename")))
            offered = file->text();
        dialog->reject();
    });
    QPrinter printer;
    kqm::files::QtPrintDialogs dialogs;
    EXPECT_FALSE(dialogs.choosePrinter(printer, QStringLiteral("/work/line 3/cutter.pdf")));
    EXPECT_EQ(offered, QStringLiteral("/work/line 3/cutter.pdf"));
    EXPECT_EQ(printer.docName(), QStringLiteral("cutter"));
    EXPECT_TRUE(printer.outputFileName().isEmpty());
}

} // namespace

namespace {

// A template that has taken undo steps of its own (edited with kqmctl edit)
// hands none of them to the files made from it.
TEST(ProgramFromTemplate, StartsWithNoHistory) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ProgramDirectoryFiles files;
    files.templ = dir.filePath(QStringLiteral("blank.kqm"));
    QString error;
    ASSERT_TRUE(kqm::program::ProgramTable::createEmptyProgramFile(files.templ, &error));
    {
        kqm::program::ProgramTable templ;
        ASSERT_TRUE(templ.open(files.templ));
        kqm::program::ProgramState state;
        kqm::test::FakeMessages messages;
        ASSERT_TRUE(kqm::program::addLine(templ, state, messages, "A10", "").ok);
        ASSERT_TRUE(kqm::program::undoLabel(templ.file()).has_value());
    }
    const QString made = dir.filePath(QStringLiteral("new.mdb"));
    ASSERT_TRUE(makeProgramFile(files, made, &error)) << error.toStdString();
    kqm::program::ProgramTable program;
    ASSERT_TRUE(program.open(made));
    EXPECT_FALSE(kqm::program::undoLabel(program.file()).has_value());
    EXPECT_EQ(program.readRows()->size(), 1); // the template's line itself stays
}

} // namespace

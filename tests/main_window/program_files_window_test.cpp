#include "files/legacy_program.h"
#include "files/program_files.h"
#include "files/settings_table.h"
#include "main_window/main_window.h"
#include "platform/app_paths.h"
#include "platform/busy_cursor.h"
#include "platform/virtual_clock.h"
#include "simulator/simulated_port.h"
#include "support/fake_files.h"
#include "support/fake_messages.h"
#include "support/legacy_fixtures.h"
#include "support/program_files.h"
#include "support/window_fixture.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace kqm;
using files::CopyResult;
using platform::MessageAnswer;

namespace {

// The main window with an offline port, a scripted file dialog and a copier
// that can fail.
class FileCommandsTest : public test::WindowFixture {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        form = makeWindow(clock, port);
        form->Form_Load();
        messages.clear();
    }

    QString file(const char* name) { return dir.filePath(QString::fromLatin1(name)); }
    QString workingCopy() { return file("temp.mdb"); }
    QStringList listing() { return gridColumn(3); }
    QString current() { return labelText("lblCurrentFile"); }
    // Puts an unsaved program into the working copy, as edits would.
    void unsavedProgram() {
        form->programTable().close();
        test::WriteProgramFile(workingCopy(), {{"A10"}, {"Q"}});
        ASSERT_TRUE(form->programTable().open(workingCopy()));
        ASSERT_TRUE(form->RefreshListing());
    }

    platform::VirtualClock clock;
    simulator::SimulatedPort port{clock};
};

TEST_F(FileCommandsTest, OpenTakesABackupAndListsTheProgram) {
    test::WriteProgramFile(file("ABC.MDB"), {{"A10"}, {"W5"}, {"Q"}});
    const QByteArray original = test::FileBytes(file("ABC.MDB"));
    form->findChild<QTabWidget*>(QStringLiteral("SSTab2"))->setCurrentIndex(0);
    dialogs.choose(file("ABC.MDB"));
    click("cmdOpen");
    EXPECT_EQ(dialogs.lastDirectory, dir.path());
    EXPECT_EQ(dialogs.lastFilter, QStringLiteral("Program Files (*.mdb);;All Files (*.*)"));
    EXPECT_EQ(test::FileBytes(file("ABC.BAK")), original);
    EXPECT_EQ(listing(), (QStringList{"Accel/Decel=10", "Wait 5", "Quit"}));
    EXPECT_EQ(current(), QDir::toNativeSeparators(file("ABC.MDB")));
    EXPECT_EQ(form->findChild<QTabWidget*>(QStringLiteral("SSTab2"))->currentIndex(), 1);
    auto* grid = form->findChild<QTableView*>(QStringLiteral("DBGrid2"));
    EXPECT_EQ(grid->selectionModel()->selectedRows().first().row(), 0);
    EXPECT_TRUE(messages.boxes().isEmpty()); // a named file is never "unsaved"

    // Cancel in the dialog changes nothing.
    click("cmdOpen");
    EXPECT_EQ(current(), QDir::toNativeSeparators(file("ABC.MDB")));

    // Save As offers the program's own name; the working copy's is never offered.
    click("cmdSave");
    EXPECT_EQ(QFileInfo(dialogs.lastDirectory).fileName(), QStringLiteral("ABC.MDB"));
    click("SSCommand1");
    click("cmdSave");
    EXPECT_TRUE(QFileInfo(dialogs.lastDirectory).isDir()) << dialogs.lastDirectory.toStdString();
}

TEST_F(FileCommandsTest, ChoosingTheOpenFileOffersTheRestore) {
    test::WriteProgramFile(file("p.mdb"), {{"A10"}});
    dialogs.choose(file("p.mdb"));
    click("cmdOpen");
    form->programTable().file().exec("UPDATE Main SET Command = 'W99', Listing = '!'");
    form->RefreshListing();

    dialogs.choose(file("p.mdb"));
    messages.answerNext(MessageAnswer::No);
    click("cmdOpen");
    EXPECT_EQ(
        messages.texts(),
        QStringList{"Current program file selected - do you wish to restore the program file?"});
    EXPECT_EQ(listing(), QStringList{"Wait 99"});

    dialogs.choose(file("p.mdb"));
    messages.answerNext(MessageAnswer::Yes);
    click("cmdOpen");
    EXPECT_EQ(listing(), QStringList{"Accel/Decel=10"});
    EXPECT_EQ(current(), QDir::toNativeSeparators(file("p.mdb")));
}

TEST_F(FileCommandsTest, UnsavedProgramIsProtected) {
    test::WriteProgramFile(file("other.mdb"), {{"G"}});
    unsavedProgram();

    // Cancel: nothing happens, after the file was chosen.
    dialogs.choose(file("other.mdb"));
    messages.answerNext(MessageAnswer::Cancel);
    click("cmdOpen");
    EXPECT_EQ(messages.texts(), QStringList{files::UnsavedOpenWarning});
    EXPECT_EQ(current(), QDir::toNativeSeparators(workingCopy()));

    // Yes: Save As runs and the chosen file stays unopened.
    messages.clear();
    dialogs.choose(file("other.mdb"));
    dialogs.choose(file("saved.mdb"));
    messages.answerNext(MessageAnswer::Yes);
    click("cmdOpen");
    EXPECT_EQ(current(), QDir::toNativeSeparators(file("saved.mdb")));
    EXPECT_EQ(test::ReadProgramFile(file("saved.mdb")).size(), 2);
    EXPECT_EQ(test::ReadProgramFile(workingCopy()).size(), 2); // kept on disk too
    EXPECT_FALSE(QFile::exists(file("other.BAK")));

    // A named file is bound now: New asks nothing.
    messages.clear();
    click("SSCommand1");
    EXPECT_TRUE(messages.boxes().isEmpty());
    EXPECT_EQ(current(), QDir::toNativeSeparators(workingCopy()));
    EXPECT_TRUE(listing().isEmpty());
}

TEST_F(FileCommandsTest, NewProgramAsksAboutTheUnsavedOne) {
    unsavedProgram();
    messages.answerNext(MessageAnswer::Cancel);
    click("SSCommand1");
    EXPECT_EQ(messages.texts(), QStringList{files::UnsavedNewWarning});
    EXPECT_EQ(listing().size(), 2);
    messages.answerNext(MessageAnswer::No);
    click("SSCommand1");
    EXPECT_TRUE(listing().isEmpty());
    EXPECT_EQ(form->programState().ProgramSize, 0);
}

TEST_F(FileCommandsTest, SaveAsOntoItselfSaysSo) {
    test::WriteProgramFile(file("p.mdb"), {{"A10"}});
    dialogs.choose(file("p.mdb"));
    click("cmdOpen");
    dialogs.choose(file("p.mdb"));
    click("cmdSave");
    EXPECT_EQ(messages.texts(), QStringList{"Program is already saved"});
    EXPECT_EQ(messages.boxes().at(0).icon, platform::MessageIcon::Information);
    EXPECT_EQ(current(), QDir::toNativeSeparators(file("p.mdb")));
    EXPECT_EQ(listing(), QStringList{"Accel/Decel=10"});
}

// The working copy is never a place to save to: from an unsaved program or
// a named one, the program stays where it was, and Recent Programs never
// lists the working copy. A restore whose backup went names the file.
TEST_F(FileCommandsTest, TheWorkingCopyIsNoSaveAsTarget) {
    unsavedProgram();
    for (const bool named : {false, true}) {
        SCOPED_TRACE(named);
        const QString before = current();
        const QByteArray bytes = test::FileBytes(workingCopy());
        messages.clear();
        dialogs.choose(workingCopy());
        click("cmdSave");
        ASSERT_EQ(messages.texts().size(), 1);
        EXPECT_TRUE(messages.texts().first().contains("working copy")) << messages.texts().first().toStdString();
        EXPECT_EQ(current(), before);
        EXPECT_EQ(test::FileBytes(workingCopy()), bytes);
        EXPECT_EQ(form->findChild<QAction*>(QStringLiteral("mnuRecentProgram(0)")) != nullptr, named);
        dialogs.choose(file("named.mdb"));
        if (!named)
            click("cmdSave");
    }
    // The backup of the open file went: nothing is closed or copied.
    ASSERT_TRUE(QFile::remove(file("named.BAK")) || !QFile::exists(file("named.BAK")));
    messages.clear();
    dialogs.choose(file("named.mdb"));
    click("cmdOpen");
    ASSERT_EQ(messages.texts().size(), 1);
    EXPECT_TRUE(messages.texts().first().contains(QDir::toNativeSeparators(file("named.BAK"))))
        << messages.texts().first().toStdString();
    EXPECT_EQ(current(), QDir::toNativeSeparators(file("named.mdb")));
    EXPECT_EQ(listing().size(), 2);
}

// A file whose listing cannot be written (another program holds it) is not
// bound: the window never shows one file's rows while another is bound.
TEST_F(FileCommandsTest, AFileThatCannotBeRefreshedIsNotBound) {
    test::WriteProgramFile(file("a.mdb"), {{"A10"}, {"Q"}});
    test::WriteProgramFile(file("b.mdb"), {{"W5"}, {"W6"}, {"Q"}}); // listing pending
    dialogs.choose(file("a.mdb"));
    click("cmdOpen");
    ASSERT_EQ(current(), QDir::toNativeSeparators(file("a.mdb")));
    const int sizeOfA = form->programState().ProgramSize;
    {
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "holder");
        other.setDatabaseName(file("b.mdb"));
        ASSERT_TRUE(other.open());
        QSqlQuery hold(other);
        ASSERT_TRUE(hold.exec(QStringLiteral("BEGIN IMMEDIATE"))); // others read, none write
        messages.clear();
        dialogs.choose(file("b.mdb"));
        click("cmdOpen");
        hold.exec(QStringLiteral("ROLLBACK"));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("holder"));
    ASSERT_EQ(messages.boxes().size(), 1);
    EXPECT_TRUE(messages.texts().first().contains(QStringLiteral("cannot be used")));
    EXPECT_EQ(current(), QDir::toNativeSeparators(file("a.mdb")));
    EXPECT_EQ(listing(), (QStringList{"Accel/Decel=10", "Quit"}));
    EXPECT_EQ(form->programState().ProgramSize, sizeOfA);
    EXPECT_EQ(form->programTable().path(), file("a.mdb"));
}

TEST_F(FileCommandsTest, SaveAsAddsTheExtensionToANameWithout) {
    unsavedProgram();
    dialogs.choose(file("cycle1"));
    click("cmdSave");
    EXPECT_TRUE(QFile::exists(file("cycle1.mdb")));
    EXPECT_FALSE(QFile::exists(file("cycle1")));
    EXPECT_EQ(current(), QDir::toNativeSeparators(file("cycle1.mdb")));
    dialogs.choose(file("cycle2.prg"));
    click("cmdSave");
    EXPECT_TRUE(QFile::exists(file("cycle2.prg")));
    EXPECT_EQ(listing(), (QStringList{"Accel/Decel=10", "Quit"}));
}

TEST_F(FileCommandsTest, CopyFailuresAreReportedAndTheProgramStaysUsable) {
    test::WriteProgramFile(file("p.mdb"), {{"A10"}});
    test::WriteProgramFile(file("q.mdb"), {{"W5"}});

    copier.failNext(CopyResult::Failure::NoSpace);
    dialogs.choose(file("p.mdb"));
    click("cmdOpen");
    EXPECT_EQ(messages.texts(), QStringList{"Disk is full - no backup file create"});
    EXPECT_EQ(current(), QDir::toNativeSeparators(file("p.mdb"))); // opened all the same

    messages.clear();
    copier.failNext(CopyResult::Failure::AccessDenied);
    dialogs.choose(file("q.mdb"));
    click("cmdOpen");
    EXPECT_EQ(messages.texts(), QStringList{"Disk is write protected - cannot open program file"});
    EXPECT_EQ(messages.boxes().at(0).icon, platform::MessageIcon::Warning);
    EXPECT_EQ(current(), QDir::toNativeSeparators(file("p.mdb")));

    messages.clear();
    copier.failNext(CopyResult::Failure::Other);
    dialogs.choose(file("q.mdb"));
    click("cmdOpen");
    EXPECT_EQ(messages.texts(), QStringList{"open program file error: simulated failure"});
    EXPECT_EQ(messages.boxes().at(0).icon, platform::MessageIcon::None);

    // The bound file still takes edits.
    EXPECT_TRUE(program::addLine(form->programTable(), form->programState(), messages, "Q", "").ok);

    messages.clear();
    copier.failNext(CopyResult::Failure::NoSpace);
    click("SSCommand1");
    ASSERT_EQ(messages.boxes().size(), 1);
    EXPECT_TRUE(messages.boxes().at(0).text.startsWith("A new program could not be started"));
    EXPECT_EQ(current(), QDir::toNativeSeparators(file("p.mdb")));

    messages.clear();
    copier.failNext(CopyResult::Failure::NoSpace);
    dialogs.choose(file("r.mdb"));
    click("cmdSave");
    ASSERT_EQ(messages.boxes().size(), 1);
    EXPECT_TRUE(messages.boxes().at(0).text.startsWith("The program could not be saved as"));
    EXPECT_FALSE(QFile::exists(file("r.mdb")));
    EXPECT_EQ(current(), QDir::toNativeSeparators(file("p.mdb")));
    EXPECT_EQ(listing(), (QStringList{"Accel/Decel=10", "Quit"}));
}

TEST_F(FileCommandsTest, AFileThatIsNoProgramIsRefused) {
    QFile text(file("notes.mdb"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write(QByteArray(2048, 'n'));
    text.close();
    dialogs.choose(file("notes.mdb"));
    click("cmdOpen");
    ASSERT_EQ(messages.boxes().size(), 1);
    EXPECT_TRUE(messages.boxes().at(0).text.contains("is not a program file"));
    EXPECT_EQ(current(), QDir::toNativeSeparators(workingCopy()));
    EXPECT_FALSE(QFile::exists(file("notes.BAK")));
}

TEST_F(FileCommandsTest, PrintingTheListing) {
    click("cmdPrint");
    EXPECT_EQ(messages.texts(), QStringList{"The program is empty."});
    EXPECT_EQ(printDialogs.shown, 0);

    unsavedProgram();
    messages.clear();
    click("cmdPrint"); // cancelled in the print dialog
    EXPECT_EQ(printDialogs.shown, 1);
    EXPECT_TRUE(messages.boxes().isEmpty());

    printDialogs.pdfPath = file("listing.pdf");
    click("cmdPrint");
    EXPECT_TRUE(messages.boxes().isEmpty());
    EXPECT_TRUE(test::FileBytes(file("listing.pdf")).startsWith("%PDF"));
    EXPECT_EQ(cursor.depth(), 0);
}

TEST_F(FileCommandsTest, ClosingWithAnUnsavedProgramAsksFirst) {
    unsavedProgram();
    form->show();
    messages.answerNext(MessageAnswer::Cancel);
    EXPECT_FALSE(form->close());
    messages.answerNext(MessageAnswer::Yes); // Save As, then cancelled in its dialog
    EXPECT_FALSE(form->close());
    dialogs.choose(file("kept.mdb"));
    messages.answerNext(MessageAnswer::Yes);
    EXPECT_TRUE(form->close());
    EXPECT_EQ(test::ReadProgramFile(file("kept.mdb")).size(), 2);
    files::SettingsTable settings;
    ASSERT_TRUE(settings.open(file("config.kqm")));
    EXPECT_EQ(settings.record(files::SettingsTable::CleanExit), QStringLiteral("1"));
}

} // namespace

namespace {

// An Access program file of the older kind: File > Open reads it, asks, and
// converts it into a new program file beside it, which becomes the bound
// file. No leaves everything as it was. The Access file is only read and no
// backup is made of it; a bad one is refused with its reason.
TEST_F(FileCommandsTest, AnAccessProgramFileIsConvertedOnTheUsersWord) {
    const QString legacy = file("OLD.MDB");
    ASSERT_TRUE(QFile::copy(test::legacyFixture(QStringLiteral("jet4-program.mdb")), legacy));
    const QByteArray original = test::FileBytes(legacy);
    const qsizetype lines = files::readLegacyProgram(legacy).rows.size();
    ASSERT_GT(lines, 10);
    test::WriteProgramFile(file("prev.mdb"), {{"A10"}, {"Q"}});
    dialogs.choose(file("prev.mdb"));
    click("cmdOpen");
    messages.clear();

    dialogs.choose(legacy);
    messages.answerNext(MessageAnswer::No);
    click("cmdOpen");
    ASSERT_EQ(messages.boxes().size(), 1);
    EXPECT_EQ(messages.boxes().at(0).icon, platform::MessageIcon::Question);
    for (const QString& part : {QStringLiteral("Access 2000 (Jet 4)"),
                                QStringLiteral("%1 lines").arg(lines), QStringLiteral("OLD.MDB")})
        EXPECT_TRUE(messages.texts().at(0).contains(part)) << messages.texts().at(0).toStdString();
    EXPECT_EQ(current(), QDir::toNativeSeparators(file("prev.mdb")));
    EXPECT_EQ(listing(), (QStringList{"Accel/Decel=10", "Quit"}));

    messages.clear();
    dialogs.choose(legacy);
    messages.answerNext(MessageAnswer::Yes);
    dialogs.choose(file("OLD-converted.mdb"));
    click("cmdOpen");
    EXPECT_EQ(dialogs.lastDirectory, file("OLD-converted.mdb")); // proposed beside it
    EXPECT_EQ(current(), QDir::toNativeSeparators(file("OLD-converted.mdb")));
    EXPECT_EQ(listing().size(), lines);
    EXPECT_EQ(listing().value(0), QStringLiteral("Accel/Decel=10")); // refreshed
    EXPECT_GT(form->programState().ProgramSize, 0);
    EXPECT_EQ(test::FileBytes(legacy), original);
    EXPECT_FALSE(QFile::exists(file("OLD.BAK")));

    messages.clear();
    const QString locked = file("LOCKED.mdb");
    ASSERT_TRUE(QFile::copy(test::legacyFixture(QStringLiteral("jet4-password.mdb")), locked));
    dialogs.choose(locked);
    click("cmdOpen");
    ASSERT_EQ(messages.boxes().size(), 1);
    EXPECT_TRUE(messages.texts().at(0).contains(QStringLiteral("password")));
    EXPECT_EQ(current(), QDir::toNativeSeparators(file("OLD-converted.mdb")));
    EXPECT_FALSE(QFile::exists(file("LOCKED.BAK")));
}

// A damaged Access file that crashes libmdb: the window says so and goes on
// with the program that was open; nothing is converted.
TEST_F(FileCommandsTest, ADamagedAccessFileLeavesTheWindowRunning) {
    test::WriteProgramFile(file("prev.mdb"), {{"A10"}, {"Q"}});
    dialogs.choose(file("prev.mdb"));
    click("cmdOpen");
    messages.clear();
    const QString damaged = test::writeDamagedCopy(dir.path(), test::DamagedLegacyCopies[0]);
    dialogs.choose(damaged);
    click("cmdOpen");
    ASSERT_EQ(messages.boxes().size(), 1);
    EXPECT_EQ(messages.boxes().at(0).icon, platform::MessageIcon::Warning);
    EXPECT_TRUE(messages.texts().at(0).contains(QStringLiteral("is damaged and could not be read")))
        << messages.texts().at(0).toStdString();
    EXPECT_EQ(current(), QDir::toNativeSeparators(file("prev.mdb")));
    EXPECT_EQ(listing(), (QStringList{"Accel/Decel=10", "Quit"}));
}

} // namespace

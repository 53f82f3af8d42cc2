#include "files/machine_file.h"
#include "support/program_files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kqm::files;

namespace {

class MachineFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir(dir.path()).mkpath("programs"));
        kqm::test::WriteProgramFile(dir.filePath("programs/feeder.mdb"), {{"A10"}, {"Q"}});
        kqm::test::WriteProgramFile(dir.filePath("programs/press.mdb"), {{"W5"}, {"Q"}});
        ASSERT_TRUE(QFile::copy(QStringLiteral(KQM_LEGACY_FIXTURES "/jet3-program.mdb"),
                                dir.filePath("programs/old.mdb")));
        QFile notes(dir.filePath("programs/notes.txt"));
        ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
        notes.write("feeder: check the belt\n");
    }
    QString write(const QByteArray& json) {
        const QString path = dir.filePath("line.kqmachine");
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(json);
        return path;
    }
    QTemporaryDir dir;
};

TEST_F(MachineFileTest, ReadsTheUnitsAndWritesThemBack) {
    QString problem;
    const auto machine = readMachineFile(write(R"({"name": "press", "units": [
                  {"axis": 3, "program": "programs/feeder.mdb", "model": "KQM20"},
                  {"axis": 0, "program": "programs/../programs/press.mdb"}]})"),
                                         &problem);
    ASSERT_TRUE(machine) << problem.toStdString();
    EXPECT_EQ(machine->name, QStringLiteral("press"));
    ASSERT_EQ(machine->units.size(), 2);
    EXPECT_EQ(machine->units.at(0).axis, 3);
    EXPECT_EQ(machine->units.at(0).program, dir.filePath("programs/feeder.mdb"));
    EXPECT_EQ(machine->units.at(0).model, std::optional<QString>("KQM20"));
    EXPECT_EQ(machine->units.at(1).program, dir.filePath("programs/press.mdb"));
    EXPECT_FALSE(machine->units.at(1).model);

    // Written elsewhere, the paths stay right: relative to the new file.
    ASSERT_TRUE(QDir(dir.path()).mkpath("saved"));
    const QString saved = dir.filePath("saved/copy.kqmachine");
    ASSERT_TRUE(writeMachineFile(saved, *machine, &problem)) << problem.toStdString();
    QFile written(saved);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_TRUE(written.readAll().contains("../programs/feeder.mdb"));
    const auto again = readMachineFile(saved, &problem);
    ASSERT_TRUE(again) << problem.toStdString();
    EXPECT_EQ(again->units.at(0).program, machine->units.at(0).program);
    EXPECT_EQ(again->units.at(1).model, machine->units.at(1).model);
}

TEST_F(MachineFileTest, RefusesABadFileAndNamesTheProblem) {
    const struct {
        QByteArray json;
        const char* problem;
    } cases[] = {
        {R"({"name": "press", "units": [)", "not valid JSON"},
        {R"([1, 2])", "no JSON object"},
        {R"({"name": "press", "units": [], "colour": "red"})", "unknown field \"colour\""},
        {R"({"units": []})", "has no name"},
        {R"({"name": "press", "units": {}})", "must be a list"},
        {R"({"name": "p", "units": [{"axis": 1, "program": "programs/press.mdb", "speed": 5}]})",
         "unit 1: unknown field \"speed\""},
        {R"({"name": "p", "units": [{"axis": 32, "program": "programs/press.mdb"}]})",
         "unit 1: the axis must be a whole number from 0 to 31"},
        {R"({"name": "p", "units": [{"axis": 2.5, "program": "programs/press.mdb"}]})",
         "from 0 to 31"},
        {R"({"name": "p", "units": [{"axis": 1, "program": "programs/press.mdb"},
                                    {"axis": 1, "program": "programs/feeder.mdb"}]})",
         "axis 1 is named twice"},
        {R"({"name": "p", "units": [{"axis": 4, "program": "programs/gone.mdb"}]})",
         "axis 4: the program file"},
        {R"({"name": "p", "units": [{"axis": 4}]})", "axis 4: no program file is named"},
        {R"({"name": "p", "units": [{"axis": 5, "program": "programs/old.mdb"}]})",
         "older (Access) kind"},
        {R"({"name": "p", "units": [{"axis": 6, "program": "programs/press.mdb",
                                     "model": "KQM99"}]})",
         "the model must be KQM20 or KQM21"},
        {R"({"name": "press", "units": []})", "the machine has no units"},
        {R"({"name": "press", "name": "feeder", "units": [{"axis": 1, "program": "programs/press.mdb"}]})",
         "the field \"name\" is given twice"},
        {R"({"name": "p", "units": [{"axis": 1, "program": "programs/press.mdb", "ax\u0069s": 2}]})",
         "the field \"axis\" is given twice"},
        {R"({"name": "p", "units": [{"axis": 1, "program": "programs/notes.txt"}]})",
         "notes.txt is not a program file"},
        {R"({"name": "p", "units": [{"axis": 1, "program": "programs"}]})",
         "is a folder, not a program file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json.toStdString());
        QString problem;
        EXPECT_FALSE(readMachineFile(write(c.json), &problem));
        EXPECT_TRUE(problem.contains(QString::fromLatin1(c.problem))) << problem.toStdString();
    }
}

} // namespace

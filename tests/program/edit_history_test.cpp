#include "program/branch_targets.h"
#include "program/edit_history.h"
#include "program/editing.h"
#include "program/listing.h"
#include "support/fake_messages.h"
#include "support/program_files.h"

#include <QDataStream>
#include <QFile>
#include <QHash>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <random>

using namespace kqm::program;

namespace {

// Random programs whose comments name each line ("L7"), so that a line can
// be followed through edits that move contents between records.
class RandomPrograms {
public:
    explicit RandomPrograms(unsigned seed) : m_random(seed) {}

    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_random); }

    // A command; branches name the start of a random line of `rows` (or, now
    // and then, an address into a line or past the end).
    QString command(const QVector<ProgramRow>& rows, int* target = nullptr) {
        static const QStringList plain = {"A10", "B200", "M3000", "G",         "S",  "F",
                                          "+",   "-",    "W5",    "Z40",       "H0", "O1",
                                          "?3",  "N77",  "P5,G",  "N500\r@0G", "Q"};
        const int kind = below(10);
        if (kind < 3 && !rows.isEmpty()) {
            const QVector<int> starts = lineStarts(rows);
            int line = below(static_cast<int>(rows.size()));
            int address = starts.at(line);
            if (below(8) == 0)
                address += 1; // into the line
            else if (target)
                *target = line;
            return kind == 0 ? QStringLiteral("X%1").arg(address)
                             : QStringLiteral("&%1_%2").arg(address).arg(1 + below(9));
        }
        if (kind == 3 && !rows.isEmpty())
            return QStringLiteral("U0,1,%1").arg(1 + below(static_cast<int>(rows.size())));
        return plain.at(below(static_cast<int>(plain.size())));
    }

    QString nextId() { return QStringLiteral("L%1").arg(++m_ids); }

private:
    std::mt19937 m_random;
    int m_ids = 0;
};

// The comment of the line a branch names: the last line starting at its
// address; "end" after the last line; empty into a line.
QString targetOf(const QVector<ProgramRow>& rows, int address) {
    const QVector<int> starts = lineStarts(rows);
    QString found;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (starts.at(i) == address)
            found = rows.at(i).comment;
    }
    if (found.isEmpty() && address == starts.last())
        return QStringLiteral("end");
    return found;
}

class EditHistoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("history.mdb"));
    }

    void open(const QVector<kqm::test::Line>& lines) {
        kqm::test::WriteProgramFile(path, lines);
        ASSERT_TRUE(table.open(path));
        ASSERT_TRUE(RefreshListing(table, state, messages).ok);
    }

    QVector<ProgramRow> rows() { return table.readRows().value_or(QVector<ProgramRow>{}); }

    EditResult commit(const EditPlan& plan) {
        return commitPlan(table, state, messages, rows(), plan, std::nullopt);
    }

    QTemporaryDir dir;
    QString path;
    ProgramTable table;
    ProgramState state;
    kqm::test::FakeMessages messages;
};

// Random edit sequences on random programs: after every edit each loop and
// goto names the instruction it named before (or the line that took the
// place of a deleted one); undoing every step gives back the table exactly,
// and redoing them gives back the edited one.
TEST_F(EditHistoryTest, RandomEditsKeepBranchTargetsAndUndoToTheOriginal) {
    for (unsigned seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE(::testing::Message() << "seed " << seed);
        RandomPrograms random(seed);
        table.close();
        QFile::remove(path);
        QVector<kqm::test::Line> lines;
        QVector<ProgramRow> sketch;
        const int size = 3 + random.below(15);
        for (int i = 0; i < size; ++i) {
            ProgramRow row;
            row.command = random.command(sketch);
            sketch.push_back(row);
            lines.push_back({row.command, QStringLiteral("!"), random.nextId()});
        }
        open(lines);
        const QVector<ProgramRow> original = rows();
        int steps = 0;
        for (int edit = 0; edit < 12; ++edit) {
            const QVector<ProgramRow> before = rows();
            const int count = static_cast<int>(before.size());
            const int row = count ? random.below(count) : 0;
            int chosen = -1;
            const QString command = random.command(before, &chosen);
            const QString id = random.nextId();
            EditPlan plan;
            switch (count ? random.below(6) : 0) {
            case 0:
                plan = planAdd(before, command, id);
                break;
            case 1:
                plan = planInsert(before, row, command, id);
                break;
            case 2:
                plan = planChange(before, row, command, before.at(row).comment);
                break;
            case 3: {
                QList<int> doomed{row};
                for (int extra = random.below(3); extra > 0; --extra)
                    doomed << random.below(count);
                plan = planDelete(before, doomed);
                break;
            }
            case 4: {
                ProgramRow pasted;
                pasted.command = QStringLiteral("W9");
                pasted.comment = id;
                plan = planPaste(before, row, {pasted, pasted});
                plan.rows[row + 1].comment = random.nextId();
                break;
            }
            default: {
                const int first = random.below(count);
                const int length = 1 + random.below(count - first);
                const int direction =
                    first > 0 && (first + length == count || random.below(2)) ? -1 : 1;
                plan = planMove(before, first, length, direction);
                break;
            }
            }
            if (!plan.error.isEmpty())
                continue;
            const EditResult result = commit(plan);
            ASSERT_TRUE(result.ok) << result.error.toStdString();
            const QVector<ProgramRow> after = rows();
            if (after != before)
                ++steps; // an edit that changes nothing is no step
            QHash<QString, const ProgramRow*> old;
            for (const ProgramRow& line : before)
                old.insert(line.comment, &line);
            QHash<QString, int> survivors;
            for (qsizetype i = 0; i < after.size(); ++i)
                survivors.insert(after.at(i).comment, static_cast<int>(i));
            for (const ProgramRow& line : after) {
                const auto address = branchAddress(line.command);
                if (!address)
                    continue;
                const ProgramRow* was = old.value(line.comment);
                if (!was) {
                    // A line written now names the line chosen for it.
                    if (line.comment == id && chosen >= 0) {
                        EXPECT_EQ(targetOf(after, *address),
                                  targetOf(before, *branchAddress(command)))
                            << line.command.toStdString();
                    }
                    continue;
                }
                if (was->command != line.command && !branchAddress(was->command))
                    continue; // changed into a branch by this edit: checked above
                if (plan.label.startsWith(QLatin1String("Change")) &&
                    was->command != line.command && line.comment == before.at(row).comment) {
                    if (chosen >= 0) {
                        EXPECT_EQ(targetOf(after, *address),
                                  targetOf(before, *branchAddress(command)));
                    }
                    continue;
                }
                QString named = targetOf(before, *branchAddress(was->command));
                if (named.isEmpty() || named == QLatin1String("end")) {
                    EXPECT_EQ(*address, *branchAddress(was->command)) << line.command.toStdString();
                    continue;
                }
                // A removed target hands on to the next line still there.
                qsizetype index = 0;
                while (before.at(index).comment != named)
                    ++index;
                while (index < before.size() && !survivors.contains(before.at(index).comment))
                    ++index;
                const QString expected =
                    index < before.size() ? before.at(index).comment : QStringLiteral("end");
                EXPECT_EQ(targetOf(after, *address), expected)
                    << plan.label.toStdString() << ": " << line.command.toStdString();
            }
        }
        const QVector<ProgramRow> edited = rows();
        for (int i = 0; i < steps; ++i)
            ASSERT_TRUE(undoStep(table).ok);
        EXPECT_TRUE(undoStep(table).nothing);
        EXPECT_EQ(rows(), original);
        for (int i = 0; i < steps; ++i)
            ASSERT_TRUE(redoStep(table).ok);
        EXPECT_TRUE(redoStep(table).nothing);
        EXPECT_EQ(rows(), edited);
    }
}

// Deleting several lines at once renumbers line-number branches as deleting
// them one at a time from the bottom up does.
TEST_F(EditHistoryTest, DeletingSeveralLinesEqualsDeletingThemBottomUp) {
    RandomPrograms random(7);
    for (int round = 0; round < 60; ++round) {
        QVector<ProgramRow> rows;
        const int size = 2 + random.below(12);
        for (int i = 0; i < size; ++i) {
            ProgramRow row;
            row.rowid = i + 1;
            row.command = random.below(2) ? QStringLiteral("U0,1,%1").arg(random.below(size + 2))
                                          : QStringLiteral("&3,%1").arg(random.below(size + 2));
            rows.push_back(row);
        }
        QList<int> doomed;
        for (int n = 1 + random.below(size); n > 0; --n)
            doomed << random.below(size);
        QVector<ProgramRow> oneByOne = rows;
        QList<int> order = doomed;
        std::sort(order.begin(), order.end(), std::greater<>());
        order.erase(std::unique(order.begin(), order.end()), order.end());
        for (const int row : order)
            oneByOne = planDelete(oneByOne, {row}).rows;
        const EditPlan together = planDelete(rows, doomed);
        ASSERT_EQ(together.rows.size(), oneByOne.size());
        for (qsizetype i = 0; i < oneByOne.size(); ++i)
            EXPECT_EQ(together.rows.at(i).command, oneByOne.at(i).command) << "round " << round;
    }
}

TEST_F(EditHistoryTest, TheHistoryIsKeptInTheFileBesideMain) {
    open({{"A10", "!", "a"}, {"Q"}});
    const QStringList mainColumns = table.file().columns(ProgramTable::TableName);
    EXPECT_FALSE(table.file().hasTable(HistoryTableName)); // made by the first change
    ASSERT_TRUE(deleteLine(table, state, messages, 0).ok);
    ASSERT_TRUE(addLine(table, state, messages, "W5", "").ok);
    EXPECT_EQ(table.file().columns(ProgramTable::TableName), mainColumns);
    EXPECT_EQ(undoLabel(table.file()), QStringLiteral("Add line 2"));
    const QVector<ProgramRow> edited = rows();
    ASSERT_TRUE(undoStep(table).ok);
    EXPECT_EQ(redoLabel(table.file()), QStringLiteral("Add line 2"));

    // A copy of the file (Save As) and a reopened file (a restart) carry it.
    table.close();
    const QString copy = dir.filePath(QStringLiteral("copy.mdb"));
    ASSERT_TRUE(QFile::copy(path, copy));
    ProgramTable copied;
    ASSERT_TRUE(copied.open(copy));
    ASSERT_TRUE(redoStep(copied).ok);
    EXPECT_EQ(copied.readRows(), edited);
    ASSERT_TRUE(undoStep(copied).ok);
    const HistoryMove back = undoStep(copied);
    ASSERT_TRUE(back.ok);
    EXPECT_EQ(back.label, QStringLiteral("Delete line 1"));
    EXPECT_EQ(back.currentRow, 0);
    EXPECT_EQ(back.rows.first().comment, QStringLiteral("a"));

    // A change after an undo ends the redo path.
    ASSERT_TRUE(addLine(copied, state, messages, "W6", "").ok);
    EXPECT_FALSE(redoLabel(copied.file()));
    const auto entries = readHistory(copied.file());
    ASSERT_TRUE(entries);
    ASSERT_EQ(entries->size(), 1);
    EXPECT_FALSE(entries->first().undone);
}

TEST_F(EditHistoryTest, OnlyTheLastTwoHundredStepsAreKept) {
    open({{"Q"}});
    for (int i = 0; i < HistoryDepth + 5; ++i)
        ASSERT_TRUE(changeLine(table, state, messages, 0, QStringLiteral("W%1").arg(i + 1), "").ok);
    EXPECT_EQ(readHistory(table.file())->size(), HistoryDepth);
    for (int i = 0; i < HistoryDepth; ++i)
        ASSERT_TRUE(undoStep(table).ok);
    EXPECT_TRUE(undoStep(table).nothing);
    EXPECT_EQ(rows().first().command, QStringLiteral("W5"));
}

// Files made before steps were kept compactly hold steps of every changed
// record (five fields); undo and redo still take them.
TEST_F(EditHistoryTest, StepsOfOlderFilesAreStillTaken) {
    open({{"A10", "!", "a"}, {"Q"}});
    const QVector<ProgramRow> before = rows();
    ASSERT_TRUE(changeLine(table, state, messages, 0, "A20", "b").ok);
    const QVector<ProgramRow> after = rows();
    const auto older = [](const ProgramRow& row) {
        QByteArray bytes;
        QDataStream stream(&bytes, QIODevice::WriteOnly);
        stream.setVersion(QDataStream::Qt_6_4);
        stream << qint32(1) << row.rowid << row.lineNo << row.address << row.command << row.listing
               << row.comment;
        return qCompress(bytes);
    };
    QSqlQuery query(table.file().database());
    query.prepare(QStringLiteral("UPDATE EditHistory SET rows_before = ?, rows_after = ?"));
    query.addBindValue(older(before.first()));
    query.addBindValue(older(after.first()));
    ASSERT_TRUE(query.exec());
    ASSERT_TRUE(undoStep(table).ok);
    EXPECT_EQ(rows(), before);
    ASSERT_TRUE(redoStep(table).ok);
    EXPECT_EQ(rows(), after);
}

// Another program changed the table after the step: nothing is restored,
// the history is dropped and the reason given.
TEST_F(EditHistoryTest, AStepThatNoLongerFitsTheTableIsRefused) {
    open({{"A10"}, {"Q"}});
    ASSERT_TRUE(changeLine(table, state, messages, 0, "A20", "").ok);
    QSqlQuery query(table.file().database());
    ASSERT_TRUE(query.exec(QStringLiteral("UPDATE Main SET Command = 'A99' WHERE rowid = 1")));
    const QVector<ProgramRow> outside = rows();
    const HistoryMove move = undoStep(table);
    EXPECT_FALSE(move.ok);
    EXPECT_FALSE(move.nothing);
    EXPECT_TRUE(move.error.contains(QLatin1String("cleared")));
    EXPECT_EQ(rows(), outside);
    EXPECT_TRUE(undoStep(table).nothing);
}

} // namespace

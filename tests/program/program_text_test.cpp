#include "program/listing.h"
#include "program/program_text.h"
#include "program/stored_command.h"
#include "support/fake_messages.h"
#include "support/program_files.h"
#include "support/qt_printers.h"

#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <iterator>

using namespace kqm::program;

namespace kqm::program {
void PrintTo(const ProgramTextError& error, std::ostream* os) {
    *os << error.line << ": " << error.message.toStdString();
}
} // namespace kqm::program

namespace {

TEST(StoredCommand, FormsRangesAndFaults) {
    using F = StoredCommandFault;
    // Commands separated by "|", the carriage return of a go move as "\r".
    const struct {
        F fault;
        const char* commands;
    } groups[] = {
        {F::None, "A1|A255|B70|B5000|M20000|G|S|.|F|+|-|Q|H0|H1|O0|O3|?0|?15|W1|W10000|X0|X-5|"
                  "X32767|Z8388607|N0|N8388607|N500\r@0G|N500\r@31G|N500\r@BG|N500,G|P0\r@3G|"
                  "P8388607,G|P100|&0_1|&2057_255|&3,4|&255,0|I1,2,7|I-1,0,32767|U0,3,7|U0,9,7"},
        {F::Unknown, "|J500|D1|a10|~A10| A10"},
        {F::Malformed, "A|A1x|A 10|A+5|A10.5|Q1|A0100|X-0|N500\r@0|N500@0G|N500\n@0G|N500\r@0G |"
                       "N500,G,G|N500\r@07G|N500\r@xG|&12_|&12|&1_2_3|I1,2|U0,3|H|?1,2"},
        {F::OutOfRange, "A0|A256|B69|B5001|M69|M20001|W0|W10001|Z-1|Z8388608|N8388608|N-1,G|P-1|"
                        "P9000000\r@0G|N5\r@32G|X32768|X-32769|O4|?16|H7|&2058_1|&12_0|&12_256|"
                        "&0,4|&3,-1|I1,2,32768|I40000,2,7|U0,40000,7|A99999999999999999999999"},
    };
    for (const auto& group : groups) {
        for (const QString& command : QString::fromLatin1(group.commands).split(u'|')) {
            const StoredCommandCheck check = checkStoredCommand(command);
            EXPECT_EQ(check.fault, group.fault) << readableCommand(command).toStdString();
            EXPECT_EQ(check.message.isEmpty(), check.ok());
        }
    }
    // The words, in the editor's names for its boxes where it has them.
    const char* const messages[][2] = {
        {"", "no command"},
        {"J500", "unknown command (J500)"},
        {"A", "malformed command (A): expected A100"},
        {"Q1", "malformed command (Q1): Q takes nothing after the letter"},
        {"A0100", "malformed command (A0100): write 0100 as 100"},
        {"A0", "Accel/Decel must be 1 to 255 (A0)"},
        {"N8388608", "Registration Index must be 0 to 8388607 (N8388608)"},
        {"N8388608\r@0G", "Steps must be 0 to 8388607 (N8388608 @0G)"},
        {"N5\r@32G", "Axis address must be 0 to 31 (N5 @32G)"},
        {"&2058_1", "Address Number must be 0 to 2057 (&2058_1)"},
        {"&12_0", "Times to Loop must be 1 to 255 (&12_0)"},
    };
    for (const auto& [command, message] : messages)
        EXPECT_EQ(checkStoredCommand(QString::fromLatin1(command)).message, message);
}

// A random command of every stored form, within the ranges its form allows.
QString randomCommand(QRandomGenerator& random) {
    const struct {
        const char* format;
        int ranges[3][2];
    } forms[] = {
        // clang-format off
        {"A%1", {{1, 255}}}, {"B%1", {{70, 5000}}}, {"M%1", {{70, 20000}}},
        {"N%1", {{0, 8388607}}}, {"N%1\r@%2G", {{0, 8388607}, {0, 31}}}, {"N%1,G", {{0, 8388607}}},
        {"P%1\r@%2G", {{0, 8388607}, {0, 31}}}, {"P%1,G", {{0, 8388607}}}, {"P%1", {{0, 8388607}}},
        {"Z%1", {{0, 8388607}}}, {"H%1", {{0, 1}}}, {"O%1", {{0, 3}}}, {"?%1", {{0, 15}}},
        {"W%1", {{1, 10000}}}, {"X%1", {{-32768, 32767}}}, {"&%1_%2", {{0, 2057}, {1, 255}}},
        {"&%1,%2", {{1, 255}, {0, 40}}}, {"I%1,%2,%3", {{-32768, 32767}, {-5, 5}, {0, 40}}},
        {"U%1,%2,%3", {{-3, 3}, {0, 3}, {0, 40}}},
        {"G", {}}, {"S", {}}, {".", {}}, {"F", {}}, {"+", {}}, {"-", {}}, {"Q", {}},
        // clang-format on
    };
    const auto& form = forms[random.bounded(int(std::size(forms)))];
    QString command = QString::fromLatin1(form.format);
    for (qsizetype i = 0, operands = command.count(u'%'); i < operands; ++i)
        command = command.arg(random.bounded(form.ranges[i][0], form.ranges[i][1] + 1));
    return command;
}

// Text with everything a comment or a listing may hold: the separator, escapes,
// quotes, line breaks, blanks at either end, controls, other scripts. (Never a
// leading U+FEFF: SQLite takes that for a byte-order mark and drops it.)
QString randomText(QRandomGenerator& random) {
    static const QStringList pieces =
        QStringLiteral(" |  |;| ; |\\|\\n|\\u0041|\"|'|\t|\n|\r\n|\r|#|listing:| listing: x|\\&|"
                       "\\s|a|Zz 9|é|中文|😀|\u2028|a\uFEFF|\x01|\x7F|\u0085")
            .split(u'|') +
        QStringList{QString(QChar(0xD800)), QString(QChar(0xDC00))};
    QString text;
    for (int i = random.bounded(8); i > 0; --i) {
        char32_t code = random.bounded(1, 0x110000);
        if (random.bounded(4) == 0 && (code < 0xD800 || code > 0xDFFF))
            text += QString::fromUcs4(&code, 1);
        else
            text += pieces.at(random.bounded(pieces.size()));
    }
    return text;
}

// Listings stored verbatim or left by another tool beside pending ones, and
// comments empty, absent or anything.
QVector<kqm::test::Line> randomProgram(QRandomGenerator& random) {
    QVector<kqm::test::Line> lines(random.bounded(40));
    for (kqm::test::Line& line : lines) {
        line.command = randomCommand(random);
        const int listing = random.bounded(6);
        line.listing = listing == 0 ? line.command : listing == 1 ? randomText(random) : "!";
        const int comment = random.bounded(4);
        line.comment = comment == 0 ? randomText(random) : comment == 1 ? QString() : " ";
    }
    return lines;
}

class ProgramTextTest : public ::testing::Test {
protected:
    // The rows of a program file written and refreshed as the window does.
    QVector<ProgramRow> stored(const QString& name, const QVector<kqm::test::Line>& lines) {
        const QString path = dir.filePath(name);
        QFile::remove(path);
        kqm::test::WriteProgramFile(path, lines);
        ProgramTable table;
        EXPECT_TRUE(table.open(path)) << table.lastError().toStdString();
        ProgramState state;
        EXPECT_TRUE(RefreshListing(table, state, messages).ok);
        table.close();
        return kqm::test::ReadProgramFile(path);
    }

    QTemporaryDir dir;
    kqm::test::FakeMessages messages;
};

TEST_F(ProgramTextTest, ExportThenImportGivesTheSameTable) {
    for (quint32 seed = 1; seed <= 200; ++seed) {
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        QRandomGenerator random(seed);
        const QVector<ProgramRow> original = stored(QStringLiteral("a.mdb"), randomProgram(random));
        const QByteArray file = writeProgramText(original).toUtf8();

        const ProgramTextRead read = readProgramText(QString::fromUtf8(file), true);
        ASSERT_TRUE(read.ok()) << read.errors.first().line << ": "
                               << read.errors.first().message.toStdString() << "\n"
                               << file.toStdString();
        QVector<kqm::test::Line> imported;
        for (const ProgramRow& row : read.rows)
            imported.push_back({row.command, row.listing, row.comment});
        const QVector<ProgramRow> copy = stored(QStringLiteral("b.mdb"), imported);
        ASSERT_EQ(copy, original) << file.toStdString();
        EXPECT_EQ(writeProgramText(copy).toUtf8(), file);
    }
}

TEST(ProgramText, HandWrittenTextIsReadLeniently) {
    const ProgramTextRead read =
        readProgramText(QStringLiteral("\xFEFF"
                                       "KQM program text 1\r\n"
                                       "# set-up\r\n"
                                       "\r\n"
                                       "  A100\t;\tfast start  \r\n"
                                       "N500   @3G;first move ; LISTING:  Move \\s\r\n"
                                       "P100,G ;  ; listing:\r\n"
                                       "Q ; end\\; really \\\\ \\u00e9\\&\\s"),
                        true);
    ASSERT_TRUE(read.ok()) << read.errors.first().message.toStdString();
    const auto row = [](const char* command, const QString& listing, const QString& comment) {
        ProgramRow expected;
        expected.command = QString::fromLatin1(command);
        expected.listing = listing;
        expected.comment = comment;
        return expected;
    };
    EXPECT_EQ(read.rows, (QVector<ProgramRow>{
                             row("A100", "!", "fast start"),
                             row("N500\r@3G", "Move  ", "first move"),
                             row("P100,G", "!", " "),
                             row("Q", "!", QStringLiteral("end; really \\ \u00e9 ")),
                         }));
    EXPECT_EQ(readProgramText(QStringLiteral("A100 ; x"), false).rows.size(), 1);
}

TEST(ProgramText, ErrorsNameTheirLinesAndNothingIsRead) {
    const struct {
        const char* text;
        bool requireHeader;
        QList<ProgramTextError> errors;
    } cases[] = {
        {"", true, {{1, "not a KQM program text: the first line must be \"KQM program text 1\""}}},
        {"A100\nQ\n",
         true,
         {{1, "not a KQM program text: the first line must be \"KQM program text 1\""}}},
        {"KQM program text 2\nQ\n",
         false,
         {{1, "\"KQM program text 2\" is a version this program cannot read; it reads \"KQM "
              "program text 1\""}}},
        {"KQM program text 1\nA100\n\n# note\nJ500 ; jog\nA 100\nA300\nQ",
         true,
         {{5, "unknown command (J500)"},
          {6, "malformed command (A 100): expected A100"},
          {7, "Accel/Decel must be 1 to 255 (A300)"}}},
        {"A100 ; C:\\data\nQ ; a ; b\n; only a comment\nW10 ; \\u12\nX1 \\",
         false,
         {{1, "comment: unknown escape \\d (write a backslash as \\\\)"},
          {2, "a third field must start with \"listing:\" (write a ';' inside a comment as \\;)"},
          {3, "no command"},
          {4, "comment: \\u takes four hexadecimal digits, for example \\u0007"},
          {5, "command: a single \\ ends the field (write a backslash as \\\\)"}}},
        {"Q ; a ; listing: b ; c\nN500 @40G ; \\zx",
         false,
         {{1, "too many ';' (write a ';' inside a comment as \\;)"},
          {2, "Axis address must be 0 to 31 (N500 @40G)"},
          {2, "comment: unknown escape \\z (write a backslash as \\\\)"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const ProgramTextRead read = readProgramText(QString::fromUtf8(c.text), c.requireHeader);
        EXPECT_EQ(read.errors, c.errors);
        EXPECT_TRUE(read.rows.isEmpty());
    }
}

// Every field is bounded, and so is the list of errors: a huge comment or a
// text of nothing but bad lines is refused with a short list.
TEST(ProgramText, FieldsAndErrorsAreBounded) {
    const QString longest(TextFieldLength, QLatin1Char('c'));
    const auto line = [](const QString& comment) {
        return ProgramTextFormat + QStringLiteral("\nQ ; ") + comment + QLatin1Char('\n');
    };
    EXPECT_TRUE(readProgramText(line(longest), true).ok());
    // Escaped to the longest the writer makes of a text, it reads back.
    QVector<ProgramRow> escaped(1);
    escaped[0].command = QStringLiteral("Q");
    escaped[0].comment = QString(TextFieldLength, QChar(7));
    escaped[0].listing = QString(TextFieldLength, QChar(0xFEFF));
    const ProgramTextRead back = readProgramText(writeProgramText(escaped), true);
    ASSERT_TRUE(back.ok()) << back.errors.first().message.toStdString();
    EXPECT_EQ(back.rows.first().comment, escaped[0].comment);
    EXPECT_EQ(back.rows.first().listing, escaped[0].listing);
    for (const QString& comment :
         {longest + QLatin1Char('c'), QString(15 * 1024 * 1024, QLatin1Char('x')),
          QString(2 * (TextFieldLength + 1), QLatin1Char('\\'))}) {
        const ProgramTextRead read = readProgramText(line(comment), true);
        ASSERT_EQ(read.errors.size(), 1);
        EXPECT_EQ(read.errors.first().message,
                  QStringLiteral("the comment is longer than %1 characters").arg(TextFieldLength));
    }
    QString bad = ProgramTextFormat + QLatin1Char('\n');
    for (int i = 0; i < 100000; ++i)
        bad += QStringLiteral("B1\n");
    const ProgramTextRead read = readProgramText(bad, true);
    ASSERT_EQ(read.errors.size(), TextErrorLimit + 1);
    EXPECT_TRUE(read.errors.last().message.startsWith(QStringLiteral("more than")));
    EXPECT_TRUE(read.rows.isEmpty());
}

} // namespace

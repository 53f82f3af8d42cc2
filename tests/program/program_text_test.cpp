#include "program/listing.h"
#include "program/program_text.h"
#include "program/stored_command.h"
#include "support/fake_messages.h"
#include "support/program_files.h"
#include "support/qt_printers.h"

#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kqm::program;

namespace kqm::program {
void PrintTo(const ProgramTextError& error, std::ostream* os) {
    *os << error.line << ": " << error.message.toStdString();
}
} // namespace kqm::program

namespace {

struct CommandCase {
    const char* command;
    StoredCommandFault fault;
    const char* message = ""; // checked when given
};

TEST(StoredCommand, FormsRangesAndFaults) {
    using F = StoredCommandFault;
    const CommandCase cases[] = {
        // Every stored form, at its range limits.
        {"A1", F::None},
        {"A255", F::None},
        {"B70", F::None},
        {"B5000", F::None},
        {"M20000", F::None},
        {"G", F::None},
        {"S", F::None},
        {".", F::None},
        {"F", F::None},
        {"+", F::None},
        {"-", F::None},
        {"Q", F::None},
        {"H0", F::None},
        {"H1", F::None},
        {"O0", F::None},
        {"O3", F::None},
        {"?0", F::None},
        {"?15", F::None},
        {"W1", F::None},
        {"W10000", F::None},
        {"X0", F::None},
        {"X-5", F::None},
        {"X32767", F::None},
        {"Z8388607", F::None},
        {"N0", F::None},
        {"N8388607", F::None},
        {"N500\r@0G", F::None},
        {"N500\r@31G", F::None},
        {"N500\r@BG", F::None},
        {"N500,G", F::None},
        {"P0\r@3G", F::None},
        {"P8388607,G", F::None},
        {"P100", F::None},
        {"&0_1", F::None},
        {"&2057_255", F::None},
        {"&3,4", F::None},
        {"&255,0", F::None},
        {"I1,2,7", F::None},
        {"I-1,0,32767", F::None},
        {"U0,3,7", F::None},
        // Not a command, or a letter the editor never writes.
        {"", F::Unknown, "no command"},
        {"J500", F::Unknown, "unknown command (J500)"},
        {"D1", F::Unknown},
        {"a10", F::Unknown},
        {"~A10", F::Unknown},
        {" A10", F::Unknown},
        // Stray text, wrong separators, numbers not in their shortest form.
        {"A", F::Malformed, "malformed command (A): expected A100"},
        {"A1x", F::Malformed},
        {"A 10", F::Malformed},
        {"A+5", F::Malformed},
        {"A10.5", F::Malformed},
        {"Q1", F::Malformed,
         "malformed command (Q1): Q takes nothing "
         "after the letter"},
        {"A0100", F::Malformed, "malformed command (A0100): write 0100 as 100"},
        {"X-0", F::Malformed},
        {"N500\r@0", F::Malformed},
        {"N500@0G", F::Malformed},
        {"N500\n@0G", F::Malformed},
        {"N500\r@0G ", F::Malformed},
        {"N500,G,G", F::Malformed},
        {"N500\r@07G", F::Malformed},
        {"N500\r@xG", F::Malformed},
        {"&12_", F::Malformed},
        {"&12", F::Malformed},
        {"&1_2_3", F::Malformed},
        {"I1,2", F::Malformed},
        {"U0,3", F::Malformed},
        {"H", F::Malformed},
        {"?1,2", F::Malformed},
        // Out of the editor's ranges, named by their boxes.
        {"A0", F::OutOfRange, "Accel/Decel must be 1 to 255 (A0)"},
        {"A256", F::OutOfRange},
        {"B69", F::OutOfRange},
        {"B5001", F::OutOfRange},
        {"M69", F::OutOfRange},
        {"M20001", F::OutOfRange},
        {"W0", F::OutOfRange},
        {"W10001", F::OutOfRange},
        {"Z-1", F::OutOfRange},
        {"Z8388608", F::OutOfRange},
        {"N8388608", F::OutOfRange, "Registration Index must be 0 to 8388607 (N8388608)"},
        {"N8388608\r@0G", F::OutOfRange, "Steps must be 0 to 8388607 (N8388608 @0G)"},
        {"N-1,G", F::OutOfRange},
        {"P-1", F::OutOfRange},
        {"P9000000\r@0G", F::OutOfRange},
        {"N5\r@32G", F::OutOfRange, "Axis address must be 0 to 31 (N5 @32G)"},
        {"X32768", F::OutOfRange},
        {"X-32769", F::OutOfRange},
        {"O4", F::OutOfRange},
        {"?16", F::OutOfRange},
        {"H7", F::OutOfRange},
        {"&2058_1", F::OutOfRange, "Address Number must be 0 to 2057 (&2058_1)"},
        {"&12_0", F::OutOfRange, "Times to Loop must be 1 to 255 (&12_0)"},
        {"&12_256", F::OutOfRange},
        {"&0,4", F::OutOfRange},
        {"&3,-1", F::OutOfRange},
        {"I1,2,32768", F::OutOfRange},
        {"I40000,2,7", F::OutOfRange},
        {"U0,9,7", F::OutOfRange},
        {"A99999999999999999999999", F::OutOfRange},
    };
    for (const CommandCase& c : cases) {
        const QString command = QString::fromLatin1(c.command);
        SCOPED_TRACE(readableCommand(command).toStdString());
        const StoredCommandCheck check = checkStoredCommand(command);
        EXPECT_EQ(check.fault, c.fault) << check.message.toStdString();
        EXPECT_EQ(check.ok(), c.fault == F::None);
        EXPECT_EQ(check.message.isEmpty(), c.fault == F::None);
        if (*c.message) {
            EXPECT_EQ(check.message, QString::fromLatin1(c.message));
        }
    }
}

// A random command of every stored form, each within the ranges its form allows.
QString randomCommand(QRandomGenerator& random) {
    const auto n = [&random](int low, int high) {
        return QString::number(random.bounded(low, high + 1));
    };
    const auto axis = [&] {
        return random.bounded(4) == 0 ? QString(QChar(u'A' + random.bounded(6))) : n(0, 31);
    };
    switch (random.bounded(24)) {
    case 0:
        return QStringLiteral("A") + n(1, 255);
    case 1:
        return QStringLiteral("B") + n(70, 5000);
    case 2:
        return QStringLiteral("M") + n(70, 20000);
    case 3:
        return QStringLiteral("N") + n(0, 8388607);
    case 4:
        return QStringLiteral("N%1\r@%2G").arg(n(0, 8388607), axis());
    case 5:
        return QStringLiteral("N%1,G").arg(n(0, 8388607));
    case 6:
        return QStringLiteral("P%1\r@%2G").arg(n(0, 8388607), axis());
    case 7:
        return QStringLiteral("P%1,G").arg(n(0, 8388607));
    case 8:
        return QStringLiteral("P") + n(0, 8388607);
    case 9:
        return QStringLiteral("Z") + n(0, 8388607);
    case 10:
        return QStringLiteral("H") + n(0, 1);
    case 11:
        return QStringLiteral("O") + n(0, 3);
    case 12:
        return QStringLiteral("?") + n(0, 15);
    case 13:
        return QStringLiteral("W") + n(1, 10000);
    case 14:
        return QStringLiteral("X") + n(-32768, 32767);
    case 15:
        return QStringLiteral("&%1_%2").arg(n(0, 2057), n(1, 255));
    case 16:
        return QStringLiteral("&%1,%2").arg(n(1, 255), n(0, 40));
    case 17:
        return QStringLiteral("I%1,%2,%3").arg(n(-32768, 32767), n(-5, 5), n(0, 40));
    case 18:
        return QStringLiteral("U%1,%2,%3").arg(n(-3, 3), n(0, 3), n(0, 40));
    default:
        return QString(QStringLiteral("GS.F+-Q").at(random.bounded(7)));
    }
}

// Text with everything a comment or a listing may hold: the separator, escapes,
// quotes, line breaks, blanks at either end, controls, other scripts.
QString randomText(QRandomGenerator& random) {
    static const QStringList pieces = {" ",
                                       "  ",
                                       ";",
                                       " ; ",
                                       "\\",
                                       "\\n",
                                       "\\u0041",
                                       "\"",
                                       "'",
                                       "\t",
                                       "\n",
                                       "\r\n",
                                       "\r",
                                       "#",
                                       "listing:",
                                       " listing: x",
                                       "\\&",
                                       "\\s",
                                       "a",
                                       "Zz 9",
                                       "é",
                                       "中文",
                                       "😀",
                                       QString(QChar(0x2028)),
                                       QString(QChar(0xFEFF)),
                                       QString(QChar(0x01)),
                                       QString(QChar(0x7F)),
                                       QString(QChar(0x85)),
                                       QString(QChar(0xD800)),
                                       QString(QChar(0xDC00))};
    QString text;
    for (int i = random.bounded(8); i > 0; --i) {
        if (random.bounded(4) == 0) {
            char32_t code = 0;
            do {
                code = random.bounded(1, 0x110000);
            } while (code >= 0xD800 && code <= 0xDFFF);
            text += QString::fromUcs4(&code, 1);
        } else {
            text += pieces.at(random.bounded(pieces.size()));
        }
    }
    return text;
}

QVector<kqm::test::Line> randomProgram(QRandomGenerator& random) {
    QVector<kqm::test::Line> lines;
    for (int i = random.bounded(40); i > 0; --i) {
        kqm::test::Line line;
        line.command = randomCommand(random);
        switch (random.bounded(6)) {
        case 0:
            line.listing = line.command;
            break; // stored verbatim
        case 1:
            line.listing = randomText(random);
            break; // stale or from another tool
        default:
            break; // pending: the refresh derives it
        }
        switch (random.bounded(4)) {
        case 0:
            line.comment = randomText(random);
            break;
        case 1:
            line.comment = QString();
            break;
        default:
            break; // no comment
        }
        lines.push_back(line);
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
    for (quint32 seed = 1; seed <= 100; ++seed) {
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
          {2, "a third field starts with \"listing:\" (write a ';' inside a comment as \\;)"},
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

} // namespace

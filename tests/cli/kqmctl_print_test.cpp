#include "support/program_files.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// The printed listing of a 120-line program, written to a PDF and read back
// as text with pdftotext.
TEST(KqmctlPrint, PdfHoldsTitleFileHeadingsAndEveryRow) {
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("long.mdb"));
    QVector<kqm::test::Line> lines;
    for (int i = 1; i <= 120; ++i)
        lines.push_back(
            {QStringLiteral("W%1").arg(i), QStringLiteral("!"), QStringLiteral("step %1").arg(i)});
    kqm::test::WriteProgramFile(program, lines);
    const QString pdf = dir.filePath(QStringLiteral("long.pdf"));

    QProcess print;
    print.start(QStringLiteral(KQMCTL_PATH), {"print", program, "--pdf", pdf});
    ASSERT_TRUE(print.waitForFinished(30000));
    ASSERT_EQ(print.exitCode(), 0) << print.readAllStandardError().toStdString();

    QProcess text;
    text.start(QStringLiteral("pdftotext"), {"-layout", pdf, "-"});
    ASSERT_TRUE(text.waitForFinished(30000)) << "pdftotext (poppler-utils) is needed";
    const QString content = QString::fromUtf8(text.readAllStandardOutput());
    EXPECT_TRUE(content.contains(QStringLiteral("Quorvex Motion KQM20 Program Listing")));
    EXPECT_TRUE(content.contains(QStringLiteral("long.mdb")));
    EXPECT_GE(content.count(QStringLiteral("Comments")), 2); // headings on every page
    for (int i = 1; i <= 120; ++i) {
        EXPECT_TRUE(content.contains(QStringLiteral("Wait %1").arg(i))) << i;
        EXPECT_TRUE(content.contains(QStringLiteral("step %1").arg(i))) << i;
    }
    EXPECT_TRUE(content.contains(QStringLiteral("Memory: 600 of 2047 bytes used.")));

    QProcess usage;
    usage.start(QStringLiteral(KQMCTL_PATH), {"print", program});
    ASSERT_TRUE(usage.waitForFinished(30000));
    EXPECT_EQ(usage.exitCode(), 2);
}

// The PDF never replaces the program file, however the name is spelt, and
// nothing but kqmctl's own words reach standard error.
TEST(KqmctlPrint, RefusesToWriteOverTheProgramFile) {
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("p.mdb"));
    kqm::test::WriteProgramFile(program, {{"A10"}, {"Q"}});
    const QByteArray before = kqm::test::FileBytes(program);
    for (const QString& pdf : {program, dir.path() + QStringLiteral("/./p.mdb")}) {
        QProcess print;
        print.start(QStringLiteral(KQMCTL_PATH), {"print", program, "--pdf", pdf});
        ASSERT_TRUE(print.waitForFinished(30000));
        EXPECT_EQ(print.exitCode(), 2);
        EXPECT_EQ(kqm::test::FileBytes(program), before);
    }
    QProcess print;
    print.setProcessEnvironment([] {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        return environment;
    }());
    print.start(QStringLiteral(KQMCTL_PATH), {"print", program, "--pdf", dir.filePath("p.pdf")});
    ASSERT_TRUE(print.waitForFinished(30000));
    EXPECT_EQ(print.exitCode(), 0);
    EXPECT_EQ(print.readAllStandardError(), QByteArray());
}

// The widest commands, listing texts and comments, printed and read back
// with their word boxes: no word reaches the start of the next column.
TEST(KqmctlPrint, NoColumnRunsIntoTheNext) {
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("wide.mdb"));
    const QString comment = QStringLiteral("WWWWWWWWWWWWWWWWWWWWWWWWWWWWWW"); // 30 wide letters
    kqm::test::WriteProgramFile(program,
                                {{QStringLiteral("N8388607\r@31G"), QStringLiteral("!"), comment},
                                 {QStringLiteral("H0"), QStringLiteral("!"), comment},
                                 {QStringLiteral("&2057_255"), QStringLiteral("!"), comment},
                                 {QStringLiteral("U0,3,7"), QStringLiteral("!"), comment},
                                 {QStringLiteral("Z8388607"), QStringLiteral("!"), comment},
                                 {QStringLiteral("Q"), QStringLiteral("!"), comment}});
    const QString pdf = dir.filePath(QStringLiteral("wide.pdf"));
    QProcess print;
    print.start(QStringLiteral(KQMCTL_PATH), {"print", program, "--pdf", pdf});
    ASSERT_TRUE(print.waitForFinished(30000));
    ASSERT_EQ(print.exitCode(), 0) << print.readAllStandardError().toStdString();

    QProcess boxes;
    boxes.start(QStringLiteral("pdftotext"), {"-bbox", pdf, "-"});
    ASSERT_TRUE(boxes.waitForFinished(30000));
    struct Word {
        double xMin, yMin, xMax;
        QString text;
    };
    QList<Word> words;
    const QRegularExpression word(
        QStringLiteral("<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" "
                       "xMax=\"([0-9.]+)\" yMax=\"[0-9.]+\">([^<]*)</word>"));
    for (auto match = word.globalMatch(QString::fromUtf8(boxes.readAllStandardOutput()));
         match.hasNext();) {
        const auto m = match.next();
        words.push_back({m.captured(1).toDouble(), m.captured(2).toDouble(),
                         m.captured(3).toDouble(), m.captured(4)});
    }
    // The columns start at 500, 1000, 1650, 3300 and 7300 twips (20 to a
    // point) from the printable area's edge, where the heading "Line" stands.
    const auto line = std::find_if(words.begin(), words.end(),
                                   [](const Word& w) { return w.text == QLatin1String("Line"); });
    ASSERT_NE(line, words.end());
    const double edge = line->xMin - 25.0;
    const double columns[5] = {25.0, 50.0, 82.5, 165.0, 365.0};
    const auto memory = std::find_if(words.begin(), words.end(), [](const Word& w) {
        return w.text == QLatin1String("Memory:");
    });
    ASSERT_NE(memory, words.end());
    int checked = 0;
    for (const Word& w : words) {
        if (w.yMin < line->yMin - 1 || w.yMin > memory->yMin - 1)
            continue; // the title, the file name and the memory line span the page
        int column = 0;
        while (column < 4 && w.xMin >= edge + columns[column + 1] - 0.5)
            ++column;
        if (column < 4) {
            EXPECT_LT(w.xMax, edge + columns[column + 1]) << w.text.toStdString();
        }
        ++checked;
    }
    EXPECT_GT(checked, 30);
    EXPECT_TRUE(std::any_of(words.begin(), words.end(), [](const Word& w) {
        return w.text.startsWith(QLatin1String("WWWW"));
    }));
}

} // namespace

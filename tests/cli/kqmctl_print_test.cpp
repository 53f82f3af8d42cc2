#include "support/program_files.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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

} // namespace

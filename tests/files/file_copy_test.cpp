#include "files/file_copy.h"
#include "support/program_files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

using namespace kqm::files;

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// A disk that fills up part way through a copy, made with a file-size limit:
// writes past it fail as they would on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limited = m_old;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
};

TEST(FileCopy, AFullDiskLeavesTheDestinationAsItWas) {
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("big.mdb"));
    const QString destination = dir.filePath(QStringLiteral("prog.mdb"));
    writeFile(source, QByteArray(256 * 1024, 'n'));
    writeFile(destination, QByteArray("the program the user owns"));
    CopyResult result;
    {
        FileSizeLimit limit(64 * 1024);
        result = copyFileReplacing(source, destination);
    }
    EXPECT_FALSE(result.ok());
    EXPECT_FALSE(result.detail.isEmpty());
    EXPECT_EQ(kqm::test::FileBytes(destination), QByteArray("the program the user owns"));
    // No half-written copy is left behind either.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 2);
}

TEST(FileCopy, CopiesAndReplacesWholeFiles) {
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("a.mdb"));
    const QString destination = dir.filePath(QStringLiteral("b.mdb"));
    writeFile(source, QByteArray(100000, 'a'));
    writeFile(destination, QByteArray("old"));
    EXPECT_TRUE(copyFileReplacing(source, destination).ok());
    EXPECT_EQ(kqm::test::FileBytes(destination), QByteArray(100000, 'a'));

    const CopyResult missing =
        copyFileReplacing(dir.filePath(QStringLiteral("none.BAK")), destination);
    EXPECT_EQ(missing.failure, CopyResult::Failure::Other);
    EXPECT_EQ(kqm::test::FileBytes(destination), QByteArray(100000, 'a'));
}

} // namespace

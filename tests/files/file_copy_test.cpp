#include "files/file_copy.h"
#include "support/program_files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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
    EXPECT_EQ(result.failure, CopyResult::Failure::NoSpace);
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

// Permissions, with the real copier and real permissions, as a user without
// privileges: root may write anywhere, so as root the test runs itself again
// under setpriv as nobody.
TEST(FileCopy, PermissionsAreToldFromOtherFailures) {
    if (geteuid() == 0) {
        ASSERT_FALSE(qEnvironmentVariableIsSet("KQM_AS_NOBODY")) << "setpriv left us root";
        QTemporaryDir place; // a copy of this program that nobody may run
        ASSERT_TRUE(place.isValid());
        QFile::setPermissions(place.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                QFileDevice::ExeOther);
        const QString copy = place.filePath(QStringLiteral("file_copy_check"));
        ASSERT_TRUE(QFile::copy(QCoreApplication::applicationFilePath(), copy));
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("KQM_AS_NOBODY"), QStringLiteral("1"));
        environment.insert(QStringLiteral("HOME"), QDir::tempPath());
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QStringLiteral("setpriv"),
                    {"--reuid=65534", "--regid=65534", "--clear-groups", copy,
                     "--gtest_filter=FileCopy.PermissionsAreToldFromOtherFailures"});
        ASSERT_TRUE(child.waitForFinished(30000));
        const QString output = QString::fromLocal8Bit(child.readAll());
        EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
        EXPECT_TRUE(output.contains(QStringLiteral("[  PASSED  ] 1 test"))) << output.toStdString();
        return;
    }
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString source = dir.filePath(QStringLiteral("prog.mdb"));
    writeFile(source, QByteArray("a program"));

    const QString readOnly = dir.filePath(QStringLiteral("readonly.BAK"));
    writeFile(readOnly, QByteArray("kept"));
    QFile::setPermissions(readOnly, QFileDevice::ReadOwner);
    const CopyResult intoReadOnlyFile = copyFileReplacing(source, readOnly);
    EXPECT_EQ(intoReadOnlyFile.failure, CopyResult::Failure::AccessDenied)
        << intoReadOnlyFile.detail.toStdString();
    EXPECT_EQ(kqm::test::FileBytes(readOnly), QByteArray("kept"));

    const QString lockedFolder = dir.filePath(QStringLiteral("locked"));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("locked")));
    QFile::setPermissions(lockedFolder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const CopyResult intoReadOnlyFolder =
        copyFileReplacing(source, lockedFolder + QStringLiteral("/prog.BAK"));
    EXPECT_EQ(intoReadOnlyFolder.failure, CopyResult::Failure::AccessDenied)
        << intoReadOnlyFolder.detail.toStdString();

    const QString unreadable = dir.filePath(QStringLiteral("secret.mdb"));
    writeFile(unreadable, QByteArray("x"));
    QFile::setPermissions(unreadable, QFileDevice::Permissions());
    EXPECT_EQ(copyFileReplacing(unreadable, dir.filePath(QStringLiteral("s.BAK"))).failure,
              CopyResult::Failure::AccessDenied);

    QFile::setPermissions(lockedFolder,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

} // namespace

namespace {

// A finished file goes to its name only while the name is free, with the
// permissions of an ordinary new file rather than a temporary file's.
TEST(FileCopy, AMoveNeverReplacesAFile) {
    QTemporaryDir dir;
    const QString made = dir.filePath(QStringLiteral("made.XXXX"));
    writeFile(made, QByteArray("new"));
    QFile::setPermissions(made, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QString taken = dir.filePath(QStringLiteral("taken.mdb"));
    writeFile(taken, QByteArray("kept"));
    QString error;
    EXPECT_EQ(moveToFreeName(made, taken, &error), MoveResult::NameTaken);
    EXPECT_EQ(kqm::test::FileBytes(taken), QByteArray("kept"));
    EXPECT_TRUE(QFile::exists(made));

    const mode_t mask = ::umask(022);
    const QString free = dir.filePath(QStringLiteral("free.mdb"));
    EXPECT_EQ(moveToFreeName(made, free, &error), MoveResult::Moved) << error.toStdString();
    ::umask(mask);
    EXPECT_EQ(kqm::test::FileBytes(free), QByteArray("new"));
    EXPECT_FALSE(QFile::exists(made));
    EXPECT_TRUE(QFile::permissions(free) & QFileDevice::ReadOther);
    EXPECT_FALSE(QFile::permissions(free) & QFileDevice::WriteOther);

    EXPECT_EQ(moveToFreeName(dir.filePath(QStringLiteral("gone")),
                             dir.filePath(QStringLiteral("x.mdb")), &error),
              MoveResult::Failed);
    EXPECT_FALSE(error.isEmpty());
}

} // namespace

#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <optional>

namespace kqm::program {

// One SQLite connection with a name of its own, closed and removed with the
// object. Program files, the template and the settings file all go through it.
class SqliteFile {
public:
    // ReadWrite makes the file when it is not there; the others need it.
    enum class Mode { ReadWrite, ReadOnly, ReadWriteExisting };

    SqliteFile();
    ~SqliteFile();
    SqliteFile(const SqliteFile&) = delete;
    SqliteFile& operator=(const SqliteFile&) = delete;

    // Opens an existing file (ReadOnly) or opens/creates it (ReadWrite). Also
    // reads the schema once, so that a file that is not a database fails here.
    bool open(const QString& path, Mode mode = Mode::ReadWrite);
    void close();
    bool isOpen() const;
    QString path() const { return m_path; }
    QString lastError() const { return m_error; }
    // The last open failed because another program holds the file locked.
    bool inUse() const { return m_inUse; }
    QSqlDatabase database() const;
    // SQLite's count of changes that other connections committed to the
    // file; it moves only when somebody else wrote. nullopt: not readable.
    std::optional<qint64> dataVersion();

    // Opens a file that must hold the given table: a sound database whose
    // table has at least minimumFields fields. Returns the table's column
    // names, or nothing with the reason in lastError and the file closed.
    // kind and fieldCount word the reason ("program", "five").
    std::optional<QStringList> openTable(const QString& path, Mode mode, const QString& table,
                                         int minimumFields, const QString& kind,
                                         const QString& fieldCount);
    // Closes the file with the reason; false, for returning at once.
    bool fail(const QString& reason);

    bool hasTable(const QString& table);
    // The column names of a table, in field order.
    QStringList columns(const QString& table);

    // SQLite's structural check: empty when the file is sound, else the
    // first problem found.
    QString integrityProblem();

    // Runs one statement without bound values; sets lastError on failure.
    bool exec(const QString& statement);

    void setError(const QString& error) { m_error = error; }

    // How long a statement waits for a lock another program holds.
    static constexpr int LockWaitMs = 2000;
    // How many times a statement gave up waiting for such a lock; an action
    // compares the count before and after to tell that it was refused.
    int lockRefusals() const { return m_lockRefusals; }
    // While one lives, statements do not wait for another program's lock at
    // all (a look in the background must never hold the window).
    class NoWait {
    public:
        explicit NoWait(SqliteFile& file);
        ~NoWait();
        NoWait(const NoWait&) = delete;
        NoWait& operator=(const NoWait&) = delete;

    private:
        SqliteFile& m_file;
        int m_waitMs;
    };

private:
    // After a wait that ended without the lock, none for this long.
    static constexpr int GraceMs = 500;
    static int onBusy(void* data, int attempt);
    void gaveUp(qint64 at);
    int m_waitMs = LockWaitMs;
    qint64 m_waitStarted = 0;
    std::optional<qint64> m_gaveUpAt;
    int m_lockRefusals = 0;

    friend class Transaction;
    // Transactions open on this connection; only the outermost talks to
    // SQLite. An inner one that ends without commit spoils the outer one.
    int m_transactionDepth = 0;
    bool m_transactionSpoiled = false;

    // Adds and opens the connection; the error text, or empty on success.
    QString connect(const QString& path, Mode mode);
    // A read-only open of a file whose last change was cut off.
    bool openCutOff(const QString& path);

    QString m_connection;
    QString m_path;
    QString m_error;
    bool m_inUse = false;
    bool m_cutOff = false;
    // The rolled-back copy a read-only open reads, when the file itself may
    // not be written.
    std::unique_ptr<QTemporaryDir> m_rolledBackCopy;
};

// Why a path cannot be opened as an existing file, or nothing: it is not
// there, it is a folder, or it is a device or a pipe.
std::optional<QString> existingFileProblem(const QString& path);

// An SQLite transaction that rolls back unless committed.
// One writer at a time: the write lock is taken before anything is read
// (BEGIN IMMEDIATE), so what an edit plans on is what it writes over. A
// second writer waits its turn for the busy time-out, then fails with a
// message that names the file. Transactions nest: an inner one joins the
// outer one.
class Transaction {
public:
    explicit Transaction(SqliteFile& file);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    bool started() const { return m_started; }
    bool commit();

private:
    SqliteFile& m_file;
    bool m_started = false;
    bool m_done = false;
};

QString quoteIdentifier(const QString& name);

} // namespace kqm::program

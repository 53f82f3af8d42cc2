#include "program/sqlite_file.h"

#include <QAtomicInteger>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <sqlite3.h>

namespace kqm::program {

namespace {
QString nextConnectionName() {
    static QAtomicInteger<int> counter = 0;
    return QStringLiteral("kqm-%1").arg(counter.fetchAndAddRelaxed(1));
}
} // namespace

QString quoteIdentifier(const QString& name) {
    QString quoted = name;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

SqliteFile::SqliteFile() : m_connection(nextConnectionName()) {}

SqliteFile::~SqliteFile() {
    close();
}

QSqlDatabase SqliteFile::database() const {
    return QSqlDatabase::database(m_connection, false);
}

bool SqliteFile::isOpen() const {
    return QSqlDatabase::contains(m_connection) && database().isOpen();
}

bool SqliteFile::open(const QString& path, Mode mode) {
    close();
    m_path = path;
    m_error.clear();
    m_inUse = false;
    m_cutOff = false;
    if (mode != Mode::ReadWrite) {
        if (const auto problem = existingFileProblem(path)) {
            m_error = *problem;
            return false;
        }
    }
    m_error = connect(path, mode);
    if (m_error.isEmpty())
        return true;
    close();
    if (mode == Mode::ReadOnly && m_cutOff)
        return openCutOff(path);
    return false;
}

bool SqliteFile::openCutOff(const QString& path) {
    // A change that was cut off left its journal behind; a read-only
    // connection may not roll it back and refuses to read. Whoever may write
    // the file rolls it back, as the next writer would; otherwise the file is
    // read from a copy that is rolled back instead, and stays as it is.
    {
        SqliteFile writer;
        if (writer.open(path, Mode::ReadWriteExisting)) {
            writer.close();
            m_error = connect(path, Mode::ReadOnly);
            if (m_error.isEmpty())
                return true;
            close();
        }
    }
    auto copy = std::make_unique<QTemporaryDir>();
    const QString name = QFileInfo(path).fileName();
    const QString copied = copy->filePath(name);
    if (!copy->isValid() || !QFile::copy(path, copied) ||
        !QFile::copy(path + QStringLiteral("-journal"), copied + QStringLiteral("-journal"))) {
        m_error = QStringLiteral("its last change was cut off, and it could not be read as it "
                                 "was before that change");
        return false;
    }
    SqliteFile writer;
    if (!writer.open(copied, Mode::ReadWriteExisting)) {
        m_error = writer.lastError();
        return false;
    }
    writer.close();
    m_error = connect(copied, Mode::ReadOnly);
    if (!m_error.isEmpty()) {
        close();
        return false;
    }
    m_rolledBackCopy = std::move(copy);
    return true;
}

namespace {

// What SQLite's answer means, in words a user reads; its own text is for
// the developer and does not reach the user.
QString inWords(const QSqlError& error) {
    const QString code = error.nativeErrorCode();
    const int primary = code.toInt() & 0xFF;
    switch (primary) {
    case 26: // SQLITE_NOTADB
        return QStringLiteral("it is not an SQLite database, as every program file is");
    case 11: // SQLITE_CORRUPT
        return QStringLiteral("it is damaged (its database structure is broken)");
    case 14: // SQLITE_CANTOPEN
        return QStringLiteral("it could not be opened (a missing folder, or no permission)");
    case 23: // SQLITE_AUTH
    case 3:  // SQLITE_PERM
        return QStringLiteral("it may not be read (no permission)");
    default:
        break;
    }
    return code.isEmpty()
               ? QStringLiteral("it could not be read as a database")
               : QStringLiteral("it could not be read as a database (SQLite error %1)").arg(code);
}

} // namespace

QString SqliteFile::connect(const QString& path, Mode mode) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(path);
    QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000");
    if (mode == Mode::ReadOnly)
        options += QStringLiteral(";QSQLITE_OPEN_READONLY");
    db.setConnectOptions(options);
    if (!db.open())
        return inWords(db.lastError());
    // Every statement waits for another program's lock through one handler.
    const QVariant handle = db.driver()->handle();
    if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0) {
        if (sqlite3* connection = *static_cast<sqlite3* const*>(handle.constData()))
            sqlite3_busy_handler(connection, &SqliteFile::onBusy, this);
    }
    // SQLite opens lazily: reading the schema is what tells a database from
    // any other file.
    QSqlQuery probe(db);
    if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))) {
        const QSqlError error = probe.lastError();
        // SQLITE_BUSY (5) and SQLITE_LOCKED (6): another program has it.
        const QString code = error.nativeErrorCode();
        m_inUse = code == QLatin1String("5") || code == QLatin1String("6");
        // SQLITE_READONLY (8, 776 with the extended code): a hot journal
        // that this read-only connection cannot roll back.
        m_cutOff = mode == Mode::ReadOnly &&
                   (code == QLatin1String("8") || code == QLatin1String("776")) &&
                   QFileInfo::exists(path + QStringLiteral("-journal"));
        return m_inUse ? QStringLiteral("another program is using it") : inWords(error);
    }
    return QString();
}

int SqliteFile::onBusy(void* data, int attempt) {
    auto* file = static_cast<SqliteFile*>(data);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (attempt == 0) {
        // Right after a wait that ended without the lock, the lock is not
        // waited for again: one action of the user waits once, not once
        // for every statement it runs.
        const bool justGaveUp =
            file->m_gaveUpAt && now >= *file->m_gaveUpAt && now - *file->m_gaveUpAt < GraceMs;
        if (file->m_waitMs <= 0 || justGaveUp) {
            file->gaveUp(now);
            return 0;
        }
        file->m_waitStarted = now;
    }
    if (now - file->m_waitStarted >= file->m_waitMs) {
        file->gaveUp(now);
        return 0;
    }
    sqlite3_sleep(10);
    return 1;
}

void SqliteFile::gaveUp(qint64 at) {
    m_gaveUpAt = at;
    ++m_lockRefusals;
}

SqliteFile::NoWait::NoWait(SqliteFile& file) : m_file(file), m_waitMs(file.m_waitMs) {
    m_file.m_waitMs = 0;
}

SqliteFile::NoWait::~NoWait() {
    m_file.m_waitMs = m_waitMs;
}

void SqliteFile::close() {
    m_transactionDepth = 0;
    if (QSqlDatabase::contains(m_connection)) {
        {
            QSqlDatabase db = QSqlDatabase::database(m_connection, false);
            if (db.isOpen())
                db.close();
        }
        QSqlDatabase::removeDatabase(m_connection);
    }
    m_rolledBackCopy.reset();
}

std::optional<qint64> SqliteFile::dataVersion() {
    QSqlQuery query(database());
    if (!query.exec(QStringLiteral("PRAGMA data_version")) || !query.next())
        return std::nullopt;
    return query.value(0).toLongLong();
}

bool SqliteFile::hasTable(const QString& table) {
    QSqlQuery query(database());
    query.prepare(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?"));
    query.addBindValue(table);
    if (!query.exec()) {
        m_error = query.lastError().text();
        return false;
    }
    return query.next();
}

QStringList SqliteFile::columns(const QString& table) {
    QStringList names;
    QSqlQuery query(database());
    if (!query.exec(QStringLiteral("PRAGMA table_info(%1)").arg(quoteIdentifier(table)))) {
        m_error = query.lastError().text();
        return names;
    }
    while (query.next())
        names << query.value(1).toString();
    return names;
}

QString SqliteFile::integrityProblem() {
    QSqlQuery query(database());
    if (!query.exec(QStringLiteral("PRAGMA quick_check(1)")) || !query.next())
        return query.lastError().isValid() ? query.lastError().text()
                                           : QStringLiteral("the check could not run");
    const QString result = query.value(0).toString();
    return result == QLatin1String("ok") ? QString() : result;
}

bool SqliteFile::exec(const QString& statement) {
    QSqlQuery query(database());
    if (!query.exec(statement)) {
        m_error = query.lastError().text();
        return false;
    }
    return true;
}

Transaction::Transaction(SqliteFile& file) : m_file(file) {
    if (!m_file.isOpen())
        return;
    if (m_file.m_transactionDepth > 0) {
        ++m_file.m_transactionDepth;
        m_started = true;
        return;
    }
    QSqlQuery begin(m_file.database());
    if (!begin.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        const QString code = begin.lastError().nativeErrorCode();
        // SQLITE_BUSY (5) and SQLITE_LOCKED (6) after the busy time-out.
        m_file.setError(code == QLatin1String("5") || code == QLatin1String("6")
                            ? QStringLiteral("another program is changing %1; nothing was "
                                             "changed. Try again when it has finished")
                                  .arg(QDir::toNativeSeparators(m_file.path()))
                            : begin.lastError().text());
        return;
    }
    m_file.m_transactionDepth = 1;
    m_file.m_transactionSpoiled = false;
    m_started = true;
}

Transaction::~Transaction() {
    if (!m_started || m_done)
        return;
    if (--m_file.m_transactionDepth > 0) {
        m_file.m_transactionSpoiled = true;
        return;
    }
    QSqlQuery(m_file.database()).exec(QStringLiteral("ROLLBACK"));
}

bool Transaction::commit() {
    if (!m_started || m_done)
        return false;
    m_done = true;
    if (--m_file.m_transactionDepth > 0)
        return true; // the outer one commits
    QSqlQuery query(m_file.database());
    if (m_file.m_transactionSpoiled) {
        query.exec(QStringLiteral("ROLLBACK"));
        return false;
    }
    if (!query.exec(QStringLiteral("COMMIT"))) {
        m_file.setError(query.lastError().text());
        QSqlQuery(m_file.database()).exec(QStringLiteral("ROLLBACK"));
        return false;
    }
    return true;
}

std::optional<QStringList> SqliteFile::openTable(const QString& path, Mode mode,
                                                 const QString& table, int minimumFields,
                                                 const QString& kind, const QString& fieldCount) {
    if (!open(path, mode))
        return std::nullopt;
    // A damaged file could read back rows other than those written.
    if (const QString problem = integrityProblem(); !problem.isEmpty()) {
        fail(QStringLiteral("the file is damaged: %1").arg(problem.simplified()));
        return std::nullopt;
    }
    if (!hasTable(table)) {
        fail(QStringLiteral("it holds no %1 table").arg(kind));
        return std::nullopt;
    }
    QStringList names = columns(table);
    if (names.size() < minimumFields) {
        fail(QStringLiteral("its %1 table has fewer than %2 fields").arg(kind, fieldCount));
        return std::nullopt;
    }
    return names;
}

bool SqliteFile::fail(const QString& reason) {
    m_error = reason;
    close();
    return false;
}

std::optional<QString> existingFileProblem(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("the file does not exist");
    if (info.isDir())
        return QStringLiteral("it is a folder, not a file");
    if (!info.isFile())
        return QStringLiteral("it is a device or a pipe, not a file");
    return std::nullopt;
}

} // namespace kqm::program

#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

namespace kqm::transfer {

// One transfer with a unit, as the log keeps it: one JSON object a line in
// transfer-log.jsonl in the per-user data directory (docs/transfer-log.md).
struct TransferLogEntry {
    QDateTime time; // UTC
    QString kind;   // "send", "upload", "machine-check", "machine-send", "trace"
    QString user;
    QString host;
    QString port;   // "COM 1"
    QString device; // "/dev/ttyUSB0", "sim"
    int axis = 0;   // -1: a machine run, over several axes
    QString model;
    QString revision;
    QString program; // the program file's path
    QString sha256;  // of the text that went on the wire, or came back
    double pace = 0;
    QString result; // "verified", "sent-unverified", "stopped", "failed: ..."
    QString backup; // the unit backup's path, when one was kept
    // A trace: when the unit came to rest for good, measured and by the model.
    std::optional<double> measuredSeconds;
    std::optional<double> predictedSeconds;

    QJsonObject toJson() const;
    static std::optional<TransferLogEntry> fromJson(const QJsonObject& object);
};

// The log's place in a per-user data directory.
QString transferLogPath(const QString& userDataDirectory);

// The user and host, for a new entry stamped now.
TransferLogEntry newLogEntry(const QString& kind);
QString sha256Of(const QString& text);

// Appends the entry as one line. Each line goes out in a single write to a
// file opened for appending, so lines from the window and kqmctl never mix;
// past 10 MB the file is first renamed to transfer-log-TIME.jsonl, and kept.
// False, with the reason, when it could not be written.
bool appendTransferLog(const QString& path, const TransferLogEntry& entry, QString* error,
                       qint64 rotateAt = 10 * 1024 * 1024);

// The entries of the rotated files and the log, oldest first; lines that are
// no entry are skipped.
struct LogFilter {
    std::optional<int> axis;
    std::optional<QDateTime> since;
};
QList<TransferLogEntry> readTransferLog(const QString& path, const LogFilter& filter = {});

// The columns of the log's table and CSV, and one entry's fields in them.
QStringList transferLogColumns();
QStringList transferLogFields(const TransferLogEntry& entry);
// The place of the program file among those fields.
inline constexpr int ProgramField = 9;
// The entries as CSV (RFC 4180, a header line first); a field that a
// spreadsheet would take for a formula is marked as text.
QString transferLogCsv(const QList<TransferLogEntry>& entries);

} // namespace kqm::transfer

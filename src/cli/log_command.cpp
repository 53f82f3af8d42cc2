#include "cli/log_command.h"

#include "cli/command_line.h"
#include "cli/list_command.h"
#include "cli/printable.h"
#include "platform/app_paths.h"
#include "transfer/transfer_log.h"

#include <QJsonDocument>
#include <QTimeZone>

namespace kqm::cli {

namespace {

const QString Name = QStringLiteral("log");

// A date (the start of that day) or a date and time; UTC unless it says.
std::optional<QDateTime> parseSince(const QString& text) {
    QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!time.isValid()) {
        const QDate date = QDate::fromString(text, Qt::ISODate);
        if (!date.isValid())
            return std::nullopt;
        time = QDateTime(date, QTime(0, 0));
    }
    if (time.timeSpec() == Qt::LocalTime)
        time.setTimeZone(QTimeZone::utc());
    return time.toUTC();
}

} // namespace

int logCommand(const QStringList& arguments, QTextStream& out, QTextStream& err) {
    QStringList words = arguments;
    transfer::LogFilter filter;
    bool json = false;
    while (!words.isEmpty()) {
        const QString word = words.takeFirst();
        if (word == QLatin1String("--json")) {
            json = true;
        } else if (word == QLatin1String("--axis")) {
            bool ok = false;
            const int axis = words.isEmpty() ? -1 : words.takeFirst().toInt(&ok);
            if (!ok || axis < 0 || axis > 31)
                return usageError(Name, QStringLiteral("--axis takes an axis 0 to 31"), err);
            filter.axis = axis;
        } else if (word == QLatin1String("--since")) {
            const auto since = words.isEmpty() ? std::nullopt : parseSince(words.takeFirst());
            if (!since)
                return usageError(Name,
                                  QStringLiteral("--since takes a date or a date and time, as "
                                                 "2026-12-08 or 2026-12-08T14:30:00Z"),
                                  err);
            filter.since = since;
        } else if (looksLikeOption(word)) {
            return usageError(Name, unknownOption(word), err);
        } else {
            return usageError(Name, unexpectedArgument(word), err);
        }
    }
    const QString path =
        transfer::transferLogPath(platform::ExecutableAppPaths().userDataDirectory());
    for (const transfer::TransferLogEntry& entry : transfer::readTransferLog(path, filter)) {
        if (json) {
            out << QString::fromUtf8(QJsonDocument(entry.toJson()).toJson(QJsonDocument::Compact))
                << '\n';
            continue;
        }
        out << entry.time.toString(Qt::ISODate) << '\t' << entry.kind << '\t'
            << (entry.axis >= 0 ? QString::number(entry.axis) : QStringLiteral("-")) << '\t'
            << entry.model << ' ' << entry.revision << '\t' << printable(entry.device) << '\t'
            << printable(entry.result) << '\t' << printable(entry.program) << '\n';
    }
    out.flush();
    return Success;
}

} // namespace kqm::cli

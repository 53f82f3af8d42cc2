#include "program/program_text.h"

#include "platform/messages.h"
#include "program/listing.h"
#include "program/stored_command.h"

#include <limits>
#include <optional>

namespace kqm::program {

namespace {

const QString ListingLabel = QStringLiteral("listing:");
const QString Pending = QStringLiteral("!");
const QString NoComment = QStringLiteral(" ");

// The listing texts are derived only to compare them; unknown commands are
// the import's to report, not the writer's.
class NoBoxes final : public platform::Messages {
public:
    platform::MessageAnswer show(platform::MessageIcon, const QString&,
                                 platform::MessageButtons) override {
        return platform::MessageAnswer::Ok;
    }
};

bool isBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

// Characters an editor, a mail program or a terminal might swallow, break a
// line at or show as nothing: written as \uXXXX.
bool needsCodeEscape(const QString& text, qsizetype i) {
    const char16_t c = text.at(i).unicode();
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 || c == 0xFEFF)
        return true;
    if (QChar::isHighSurrogate(c))
        return i + 1 >= text.size() || !text.at(i + 1).isLowSurrogate();
    if (QChar::isLowSurrogate(c))
        return i == 0 || !text.at(i - 1).isHighSurrogate();
    return false;
}

void appendEscaped(QString& out, const QString& text, qsizetype i) {
    const QChar c = text.at(i);
    switch (c.unicode()) {
    case '\\':
        out += QStringLiteral("\\\\");
        return;
    case ';':
        out += QStringLiteral("\\;");
        return;
    case '\n':
        out += QStringLiteral("\\n");
        return;
    case '\r':
        out += QStringLiteral("\\r");
        return;
    case '\t':
        out += QStringLiteral("\\t");
        return;
    default:
        break;
    }
    if (needsCodeEscape(text, i))
        out += QStringLiteral("\\u") +
               QStringLiteral("%1").arg(c.unicode(), 4, 16, QLatin1Char('0')).toUpper();
    else
        out += c;
}

// A comment or listing text: blanks at either end are written \s, since
// blanks around a field are layout; an empty text is \&.
QString escapeText(const QString& text) {
    if (text.isEmpty())
        return QStringLiteral("\\&");
    qsizetype first = 0;
    while (first < text.size() && text.at(first) == QLatin1Char(' '))
        ++first;
    qsizetype last = text.size() - 1;
    while (last >= first && text.at(last) == QLatin1Char(' '))
        --last;
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (i < first || i > last)
            out += QStringLiteral("\\s");
        else
            appendEscaped(out, text, i);
    }
    return out;
}

// A command: its carriage return as a blank. Anything else out of the way is
// escaped only so that a damaged command still stays on its line (the import
// refuses it and says where).
QString escapeCommand(const QString& command) {
    if (command.isEmpty())
        return QStringLiteral("\\&");
    QString out;
    for (qsizetype i = 0; i < command.size(); ++i) {
        const QChar c = command.at(i);
        if (c == QLatin1Char('\r'))
            out += QLatin1Char(' ');
        else if (c == QLatin1Char(' '))
            out += QStringLiteral("\\s");
        else
            appendEscaped(out, command, i);
    }
    return out;
}

// The fields of a line, split at each ';' that is not escaped.
QStringList splitFields(const QString& line) {
    QStringList fields(QString{});
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == QLatin1Char(';')) {
            fields.append(QString());
            continue;
        }
        fields.last() += c;
        if (c == QLatin1Char('\\') && i + 1 < line.size())
            fields.last() += line.at(++i);
    }
    return fields;
}

QString trimBlanks(const QString& text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && isBlank(text.at(first)))
        ++first;
    while (last > first && isBlank(text.at(last - 1)))
        --last;
    return text.mid(first, last - first);
}

// Undoes the escapes; for a command, each run of blanks stands for the
// carriage return of a go move.
std::optional<QString> unescape(const QString& raw, bool command, QString* error) {
    QString out = QStringLiteral(""); // "\&" is an empty text, not none
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw.at(i);
        if (command && isBlank(c)) {
            while (i + 1 < raw.size() && isBlank(raw.at(i + 1)))
                ++i;
            out += QLatin1Char('\r');
            continue;
        }
        if (c != QLatin1Char('\\')) {
            out += c;
            continue;
        }
        if (++i >= raw.size()) {
            *error = QStringLiteral("a single \\ ends the field (write a backslash as \\\\)");
            return std::nullopt;
        }
        switch (raw.at(i).unicode()) {
        case '\\':
            out += QLatin1Char('\\');
            break;
        case ';':
            out += QLatin1Char(';');
            break;
        case 'n':
            out += QLatin1Char('\n');
            break;
        case 'r':
            out += QLatin1Char('\r');
            break;
        case 't':
            out += QLatin1Char('\t');
            break;
        case 's':
            out += QLatin1Char(' ');
            break;
        case '&':
            break;
        case 'u': {
            bool ok = false;
            const ushort code = raw.mid(i + 1, 4).toUShort(&ok, 16);
            if (!ok || raw.mid(i + 1, 4).size() != 4) {
                *error = QStringLiteral("\\u takes four hexadecimal digits, for example \\u0007");
                return std::nullopt;
            }
            out += QChar(code);
            i += 4;
            break;
        }
        default:
            *error =
                QStringLiteral("unknown escape \\%1 (write a backslash as \\\\)").arg(raw.at(i));
            return std::nullopt;
        }
    }
    return out;
}

// One program line of the text into a row; the errors found on it otherwise.
ProgramRow readLine(const QString& line, QStringList& errors) {
    ProgramRow row;
    row.listing = Pending;
    row.comment = NoComment;
    const QStringList fields = splitFields(line);
    if (fields.size() > 3) {
        errors << QStringLiteral("too many ';' (write a ';' inside a comment as \\;)");
        return row;
    }
    for (qsizetype i = 0; i < fields.size(); ++i) {
        // The blanks around a field and the listing's label do not count.
        QString field = trimBlanks(fields.at(i));
        if (i == 2 && field.startsWith(ListingLabel, Qt::CaseInsensitive))
            field = trimBlanks(field.mid(ListingLabel.size()));
        if (field.size() > TextFieldLength * 6) {
            // An escape takes at most six characters for one (\u0007); a
            // field longer than that could hold is not even read.
            errors << QStringLiteral("the %1 is longer than %2 characters")
                          .arg(i == 0 ? QStringLiteral("command")
                                      : i == 1 ? QStringLiteral("comment")
                                               : QStringLiteral("listing"))
                          .arg(TextFieldLength);
            return row;
        }
    }
    const auto tooLong = [&](const QString& name, const QString& text) {
        if (text.size() <= TextFieldLength)
            return false;
        errors << QStringLiteral("the %1 is longer than %2 characters").arg(name).arg(TextFieldLength);
        return true;
    };
    QString why;
    const QString command = trimBlanks(fields.at(0));
    if (const auto stored = unescape(command, true, &why)) {
        if (tooLong(QStringLiteral("command"), *stored))
            return row;
        row.command = *stored;
        const StoredCommandCheck check = checkStoredCommand(row.command);
        if (!check.ok())
            errors << check.message;
    } else {
        errors << QStringLiteral("command: ") + why;
    }
    if (fields.size() >= 2) {
        const QString comment = trimBlanks(fields.at(1));
        if (comment.isEmpty())
            row.comment = NoComment;
        else if (const auto text = unescape(comment, false, &why); text) {
            if (!tooLong(QStringLiteral("comment"), *text))
                row.comment = *text;
        }
        else
            errors << QStringLiteral("comment: ") + why;
    }
    if (fields.size() == 3) {
        const QString listing = trimBlanks(fields.at(2));
        if (!listing.startsWith(ListingLabel, Qt::CaseInsensitive)) {
            errors << QStringLiteral("a third field must start with \"%1\" (write a ';' inside "
                                     "a comment as \\;)")
                          .arg(ListingLabel);
        } else if (const QString text = trimBlanks(listing.mid(ListingLabel.size()));
                   !text.isEmpty()) {
            if (const auto unescaped = unescape(text, false, &why); unescaped) {
                if (!tooLong(QStringLiteral("listing"), *unescaped))
                    row.listing = *unescaped;
            }
            else
                errors << QStringLiteral("listing: ") + why;
        }
    }
    return row;
}

enum class Header { Present, Absent, OtherVersion };

Header headerOf(const QString& line) {
    const QString header = trimBlanks(line);
    if (header == ProgramTextFormat)
        return Header::Present;
    const QString family = ProgramTextFormat.left(ProgramTextFormat.lastIndexOf(QLatin1Char(' ')));
    return header.startsWith(family + QLatin1Char(' ')) ? Header::OtherVersion : Header::Absent;
}

} // namespace

QString writeProgramText(const QVector<ProgramRow>& rows) {
    // What the refresh after an import would make of each line's listing:
    // only a listing that differs from it needs to travel with the line.
    QVector<ProgramRow> derived = rows;
    for (ProgramRow& row : derived)
        row.listing = Pending;
    NoBoxes quiet;
    computeListing(derived, quiet);

    QString text = ProgramTextFormat + QLatin1Char('\n');
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const ProgramRow& row = rows.at(i);
        text += escapeCommand(row.command);
        const bool ownListing = row.listing != derived.at(i).listing;
        if (row.comment != NoComment || ownListing)
            text += QStringLiteral(" ;");
        if (row.comment != NoComment)
            text += QLatin1Char(' ') + escapeText(row.comment);
        if (ownListing)
            text +=
                QStringLiteral(" ; ") + ListingLabel + QLatin1Char(' ') + escapeText(row.listing);
        text += QLatin1Char('\n');
    }
    return text;
}

ProgramTextRead readProgramText(const QString& text, bool requireHeader) {
    ProgramTextRead read;
    QStringList lines = text.split(QLatin1Char('\n'));
    if (lines.last().isEmpty())
        lines.removeLast(); // the end of the last line, not a line of its own
    if (!lines.isEmpty() && lines.first().startsWith(QChar(0xFEFF)))
        lines.first().remove(0, 1);
    for (QString& line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    const Header header = lines.isEmpty() ? Header::Absent : headerOf(lines.first());
    if (header == Header::OtherVersion) {
        read.errors.push_back({1, QStringLiteral("\"%1\" is a version this program cannot "
                                                 "read; it reads \"%2\"")
                                      .arg(trimBlanks(lines.first()), ProgramTextFormat)});
        return read;
    }
    if (header == Header::Absent && requireHeader) {
        read.errors.push_back({1, QStringLiteral("not a KQM program text: the first line must "
                                                 "be \"%1\"")
                                      .arg(ProgramTextFormat)});
        return read;
    }
    const qsizetype first = header == Header::Present ? 1 : 0;
    for (qsizetype i = first; i < lines.size(); ++i) {
        const int lineNumber = static_cast<int>(i + 1);
        const QString trimmed = trimBlanks(lines.at(i));
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#')))
            continue;
        if (read.rows.size() == std::numeric_limits<qint16>::max()) {
            read.errors.push_back({lineNumber, QStringLiteral("a program has at most %1 lines")
                                                   .arg(std::numeric_limits<qint16>::max())});
            break;
        }
        QStringList errors;
        read.rows.push_back(readLine(lines.at(i), errors));
        for (const QString& message : errors)
            read.errors.push_back({lineNumber, message});
        if (read.errors.size() >= TextErrorLimit) {
            read.errors.push_back({lineNumber, QStringLiteral("more than %1 errors: the text was "
                                                              "not read further")
                                                   .arg(TextErrorLimit)});
            break;
        }
    }
    if (!read.errors.isEmpty())
        read.rows.clear();
    return read;
}

} // namespace kqm::program

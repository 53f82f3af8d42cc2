#include "files/legacy_program.h"

#include "files/legacy_reader_protocol.h"
#include "program/command_set.h"

#include <QCoreApplication>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

namespace kqm::files {

namespace {

constexpr int VersionOffset = 0x14;
constexpr int MaskedOffset = 0x18;
constexpr int CodePageOffset = 0x3C;
constexpr int PageKeyOffset = 0x3E;
constexpr int PasswordOffset = 0x42;
constexpr int CreationDateOffset = 0x72;
constexpr int HeaderBytes = MaskedOffset + 128;

// Access masks the header from 0x18 with the RC4 key stream of a fixed key.
std::array<quint8, 128> headerMask() {
    std::array<quint8, 256> state{};
    for (int i = 0; i < 256; ++i)
        state[i] = static_cast<quint8>(i);
    const quint8 key[4] = {0xC7, 0xDA, 0x39, 0x6B}; // 0x6B39DAC7, little-endian
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + state[i] + key[i % 4]) & 0xFF;
        std::swap(state[i], state[j]);
    }
    std::array<quint8, 128> mask{};
    for (int n = 0, i = 0, j = 0; n < 128; ++n) {
        i = (i + 1) & 0xFF;
        j = (j + state[i]) & 0xFF;
        std::swap(state[i], state[j]);
        mask[n] = state[(state[i] + state[j]) & 0xFF];
    }
    return mask;
}

quint32 little32(const QByteArray& bytes, int at) {
    quint32 value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<quint8>(bytes.at(at + i));
    return value;
}

std::optional<LegacyFormat> formatFromHeader(QByteArray header) {
    static const QByteArray jet = QByteArray("\x00\x01\x00\x00Standard Jet DB", 19);
    static const QByteArray ace = QByteArray("\x00\x01\x00\x00Standard ACE DB", 19);
    if (header.size() < HeaderBytes || !(header.startsWith(jet) || header.startsWith(ace)))
        return std::nullopt;
    LegacyFormat format;
    format.version = static_cast<quint8>(header.at(VersionOffset));
    const bool jet3 = format.version == 0;
    format.pageSize = jet3 ? 2048 : 4096;
    const std::array<quint8, 128> mask = headerMask();
    const int masked = jet3 ? 126 : 128;
    for (int i = 0; i < masked; ++i)
        header[MaskedOffset + i] = static_cast<char>(header.at(MaskedOffset + i) ^ mask[i]);
    format.codePage = static_cast<quint16>(little32(header, CodePageOffset) & 0xFFFF);
    format.encrypted = little32(header, PageKeyOffset) != 0;
    // Jet 3 keeps a password of 20 bytes; Jet 4 and ACE one of 20 UTF-16
    // characters, also masked with the creation date's whole part.
    QByteArray password = header.mid(PasswordOffset, jet3 ? 20 : 40);
    if (!jet3) {
        double created = 0;
        std::memcpy(&created, header.constData() + CreationDateOffset, sizeof created);
        // A date Access writes is a day count well inside 32 bits; anything
        // else (a damaged header) masks with nothing.
        const qint32 whole =
            std::isfinite(created) && std::fabs(created) < 2.0e9 ? static_cast<qint32>(created) : 0;
        quint8 dateBytes[4];
        std::memcpy(dateBytes, &whole, sizeof dateBytes);
        for (int i = 0; i < password.size(); ++i)
            password[i] = static_cast<char>(password.at(i) ^ dateBytes[i % 4]);
    }
    format.password = password.count('\0') != password.size();
    return format;
}

QString native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// The one message for a file that could not be read, whatever the cause was.
QString damaged(const QString& path, const QString& why) {
    return QStringLiteral("%1 is damaged and could not be read: %2; nothing was written")
        .arg(native(path), why);
}

// Why a legacy file is refused before libmdb reads it, or nothing.
QString refusal(const QString& path, const LegacyFormat& format) {
    const QString name = native(path);
    if (format.password)
        return QStringLiteral("%1 is protected by a database password. Remove the password "
                              "in Access (Database Tools, Decrypt or Unset Database "
                              "Password), then convert it again")
            .arg(name);
    if (format.encrypted)
        return QStringLiteral("%1 is an encrypted Access database, which cannot be read. "
                              "Decrypt it in Access, then convert it again")
            .arg(name);
    const qint64 size = QFileInfo(path).size();
    if (size < 3 * format.pageSize || size % format.pageSize != 0)
        return damaged(path, QStringLiteral("it is truncated, %1 bytes is not a whole number "
                                            "of its %2-byte pages")
                                 .arg(size)
                                 .arg(format.pageSize));
    return {};
}

} // namespace

QString LegacyFormat::name() const {
    switch (version) {
    case 0:
        return QStringLiteral("Access 97 (Jet 3)");
    case 1:
        return QStringLiteral("Access 2000 (Jet 4)");
    case 2:
        return QStringLiteral("Access 2007 (.accdb)");
    case 3:
        return QStringLiteral("Access 2010 (.accdb)");
    case 4:
        return QStringLiteral("Access 2013 (.accdb)");
    case 5:
        return QStringLiteral("Access 2016 (.accdb)");
    case 6:
        return QStringLiteral("Access 2019 (.accdb)");
    default:
        return QStringLiteral("Access (version %1)").arg(version);
    }
}

std::optional<LegacyFormat> legacyFormatOf(const QString& path) {
    // Only a regular file is looked into: reading a pipe would wait for a
    // writer that may never come.
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return formatFromHeader(file.read(HeaderBytes));
}

namespace {

QString& readerProgramSet() {
    static QString path;
    return path;
}

// The reader: where a test put it, beside this program (the build tree), or
// where the package installs it, relative to this program's folder.
QString readerProgram() {
    if (!readerProgramSet().isEmpty())
        return readerProgramSet();
    const QString folder = QCoreApplication::applicationDirPath();
    const QString beside = folder + QStringLiteral("/kqm-legacy-reader");
    if (QFileInfo(beside).isExecutable())
        return beside;
    return QDir::cleanPath(folder +
                           QStringLiteral("/" KQM_LEGACY_READER_FROM_BIN "/kqm-legacy-reader"));
}

// libmdb reports a page it could not read, a row it could not take apart or
// a value it could not decode only by a line on standard error; the records
// it returns all the same are not the file's.
bool reportsReadFailure(const QByteArray& err) {
    static const char* const words[] = {"fail",        "beyond eof",    "invalid",
                                        "error",       "incorrect",     "unhandled",
                                        "unsupported", "doesn't match", "unrecognized"};
    const QByteArray lower = err.toLower();
    return std::any_of(std::begin(words), std::end(words),
                       [&lower](const char* word) { return lower.contains(word); });
}

quint32 little32At(const QByteArray& bytes, qsizetype at) {
    quint32 value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<quint8>(bytes.at(at + i));
    return value;
}

} // namespace

void setLegacyReaderProgram(const QString& path) {
    readerProgramSet() = path;
}

LegacyProgram legacyProgramFromReader(const QString& path, const LegacyFormat& format,
                                      const QByteArray& output) {
    using namespace reader;
    LegacyProgram read;
    read.format = format;
    qsizetype at = 0;
    unsigned char tag = 0;
    QByteArray payload;
    const auto next = [&]() {
        if (output.size() - at < 5)
            return false;
        tag = static_cast<unsigned char>(output.at(at));
        const quint32 size = little32At(output, at + 1);
        at += 5;
        if (size > static_cast<quint64>(output.size() - at))
            return false;
        payload = output.mid(at, size);
        at += size;
        return true;
    };
    const auto refused = [&read](const QString& error) {
        read.rows.clear();
        read.error = error;
        return read;
    };
    const auto fail = [&](const QString& why) {
        return refused(damaged(path, why));
    };
    if (!next() || tag != HelloTag || payload != QByteArray(Hello))
        return fail(QStringLiteral("the reader gave no answer"));
    QStringList tables;
    while (next()) {
        switch (tag) {
        case OpenFailed:
            if (format.version >= 2)
                return refused(QStringLiteral("%1 is an %2 file, which is not supported: it "
                                              "could not be read. Save it in Access as an "
                                              "Access 2000 database (.mdb), then convert that")
                                   .arg(native(path), format.name()));
            return fail(QStringLiteral("the database could not be opened"));
        case NoCatalog:
            return fail(QStringLiteral("its list of tables could not be read"));
        case UserTable:
            tables << QString::fromUtf8(payload);
            break;
        case NoMain:
            return refused(
                QStringLiteral("%1 has no table Main, so it holds no program (%2)")
                    .arg(native(path), tables.isEmpty()
                                           ? QStringLiteral("it has no tables")
                                           : QStringLiteral("its tables: %1")
                                                 .arg(tables.join(QStringLiteral(", ")))));
        case MainUnreadable:
            return fail(QStringLiteral("the table Main could not be read"));
        case TooFewFields:
            return refused(QStringLiteral("%1: the table Main has %2 fields; a program has five "
                                          "(LineNo, Address, Command, Listing, Comment)")
                               .arg(native(path), QString::fromLatin1(payload)));
        case Record: {
            const qsizetype record = read.rows.size() + 1;
            QString texts[FieldCount];
            bool anything = false;
            for (unsigned field = 0; field < FieldCount; ++field) {
                if (!next() || tag != Field || payload.size() < 4)
                    return fail(QStringLiteral("record %1 was cut short").arg(record));
                const quint32 stored = little32At(payload, 0);
                texts[field] = QString::fromUtf8(payload.constData() + 4, payload.size() - 4);
                // Something stored that came out as nothing was not read:
                // converting it would lose the line, or shift every address
                // after it.
                if (stored > 0 && texts[field].isEmpty())
                    return fail(QStringLiteral("field %1 of record %2 could not be read")
                                    .arg(field + 1)
                                    .arg(record));
                anything = anything || stored > 0;
            }
            // A program line has at least its line number; a record with no
            // field at all is what libmdb makes of a page of zeros.
            if (!anything)
                return fail(QStringLiteral("record %1 is empty, not even its line number could "
                                           "be read")
                                .arg(record));
            // Every program line has a command: one that comes out as
            // nothing (its length damaged) would lose the line, and shift
            // every address after it.
            if (texts[2].trimmed().isEmpty())
                return fail(QStringLiteral("record %1 (line %2) has no command")
                                .arg(record)
                                .arg(texts[0].trimmed()));
            program::ProgramRow row;
            row.rowid = record;
            row.lineNo = texts[0].trimmed().toLongLong();
            row.address = texts[1].trimmed().toLongLong();
            row.command = texts[2];
            row.listing = texts[3];
            row.comment = texts[4];
            read.rows.append(row);
            break;
        }
        case End: {
            bool number = false;
            const qint64 declared = payload.toLongLong(&number);
            if (!number || at != output.size())
                return fail(QStringLiteral("the reader's answer is not understood"));
            // A file cut at a page boundary reads as pages of zeros: fewer
            // records than the table says it holds.
            if (read.rows.size() != declared)
                return fail(QStringLiteral("it is truncated, %1 of the %2 records of the table "
                                           "Main could be read")
                                .arg(read.rows.size())
                                .arg(declared));
            return read;
        }
        default:
            return fail(QStringLiteral("the reader's answer is not understood"));
        }
    }
    return fail(QStringLiteral("the reader stopped before the end of the table Main"));
}

LegacyProgram readLegacyProgram(const QString& path) {
    LegacyProgram read;
    const auto format = legacyFormatOf(path);
    if (!format) {
        read.error = QStringLiteral("%1 is not an Access program file").arg(native(path));
        return read;
    }
    read.format = *format;
    if (read.error = refusal(path, *format); !read.error.isEmpty())
        return read;
    QProcess reader;
    // libmdb's text comes as UTF-8 unless MDBICONV asks for another.
    // (MDB_JET3_CHARSET stays the user's: it overrides a Jet 3 file's own code
    // page where that is wrong.)
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("MDBICONV"), QStringLiteral("UTF-8"));
    reader.setProcessEnvironment(environment);
    reader.setStandardInputFile(QProcess::nullDevice());
    reader.start(readerProgram(), {QFileInfo(path).absoluteFilePath()});
    if (!reader.waitForStarted(LegacyReadTimeMs)) {
        read.error = QStringLiteral("%1 could not be read: the reader %2 could not be started "
                                    "(%3); nothing was written")
                         .arg(native(path), native(reader.program()), reader.errorString());
        return read;
    }
    // Waited for in short steps, so that a reader that floods its output is
    // stopped before it fills the memory.
    constexpr qint64 OutputLimit = 64 * 1024 * 1024;
    QElapsedTimer took;
    took.start();
    bool tooMuch = false;
    while (reader.state() != QProcess::NotRunning && took.elapsed() < LegacyReadTimeMs) {
        reader.waitForFinished(
            static_cast<int>(std::min<qint64>(50, LegacyReadTimeMs - took.elapsed())));
        reader.setReadChannel(QProcess::StandardError);
        const qint64 errBytes = reader.bytesAvailable();
        reader.setReadChannel(QProcess::StandardOutput);
        if (reader.bytesAvailable() + errBytes > OutputLimit) {
            tooMuch = true;
            break;
        }
    }
    if (reader.state() != QProcess::NotRunning) {
        reader.kill();
        reader.waitForFinished(1000);
        return {*format,
                {},
                damaged(path, tooMuch ? QStringLiteral("reading it gave no end of output")
                                      : QStringLiteral("reading it took longer than %1 seconds")
                                            .arg(LegacyReadTimeMs / 1000))};
    }
    const QByteArray output = reader.readAllStandardOutput();
    // libmdb's own lines are read here, never shown.
    const QByteArray err = reader.readAllStandardError();
    if (reader.exitStatus() != QProcess::NormalExit || reader.exitCode() != 0)
        return {*format, {}, damaged(path, QStringLiteral("reading it stopped with a crash"))};
    if (reportsReadFailure(err))
        return {*format,
                {},
                damaged(path, err.contains("beyond EOF")
                                  ? QStringLiteral("it is truncated, a page it refers to lies "
                                                   "beyond its end")
                                  : QStringLiteral("parts of it could not be read"))};
    return legacyProgramFromReader(path, *format, output);
}

QVector<program::ProgramRow> rowsForConversion(QVector<program::ProgramRow> rows) {
    for (program::ProgramRow& row : rows) {
        if (program::knownCommandSize(row.command))
            row.listing = QStringLiteral("!");
    }
    return rows;
}

QString convertedName(const QString& legacyPath) {
    const QFileInfo legacy(legacyPath);
    const QDir folder = legacy.absoluteDir();
    QString name = folder.filePath(legacy.completeBaseName() + QStringLiteral("-converted.mdb"));
    // A second conversion is offered a free name.
    for (int n = 2; QFileInfo::exists(name); ++n)
        name =
            folder.filePath(legacy.completeBaseName() + QStringLiteral("-converted-%1.mdb").arg(n));
    return name;
}

} // namespace kqm::files

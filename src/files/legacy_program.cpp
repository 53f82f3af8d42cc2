#include "files/legacy_program.h"

#include "program/command_set.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

// libmdb's header wants glib's declarations first.
#include <glib.h>

#include <mdbtools.h>

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
        const qint32 whole = std::isfinite(created) && std::fabs(created) < 2.0e9
                                 ? static_cast<qint32>(created)
                                 : 0;
        quint8 dateBytes[4];
        std::memcpy(dateBytes, &whole, sizeof dateBytes);
        for (int i = 0; i < password.size(); ++i)
            password[i] = static_cast<char>(password.at(i) ^ dateBytes[i % 4]);
    }
    format.password = password.count('\0') != password.size();
    return format;
}

struct MdbClose {
    void operator()(MdbHandle* mdb) const { mdb_close(mdb); }
};
struct TableFree {
    void operator()(MdbTableDef* table) const { mdb_free_tabledef(table); }
};

QString native(const QString& path) {
    return QDir::toNativeSeparators(path);
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
        return QStringLiteral("%1 is truncated or damaged: %2 bytes is not a whole number of "
                              "its %3-byte pages")
            .arg(name)
            .arg(size)
            .arg(format.pageSize);
    return {};
}

QString damaged(const QString& path, const LegacyFormat& format, const QString& what) {
    return QStringLiteral("%1 is damaged: %2 could not be read (%3)")
        .arg(native(path), what, format.name());
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
    // libmdb's text comes as UTF-8 unless MDBICONV asks for another; only then
    // is it set back. (MDB_JET3_CHARSET stays the user's: it overrides a Jet 3
    // file's own code page where that is wrong.)
    if (const QByteArray target = qgetenv("MDBICONV"); !target.isEmpty() && target != "UTF-8")
        qputenv("MDBICONV", "UTF-8");
    const std::unique_ptr<MdbHandle, MdbClose> mdb(
        mdb_open(QFile::encodeName(path).constData(), MDB_NOFLAGS));
    if (!mdb) {
        read.error = format->version >= 2
                         ? QStringLiteral("%1 is an %2 file, which is not supported: it could "
                                          "not be read. Save it in Access as an Access 2000 "
                                          "database (.mdb), then convert that")
                               .arg(native(path), format->name())
                         : damaged(path, *format, QStringLiteral("the database"));
        return read;
    }
    if (!mdb_read_catalog(mdb.get(), MDB_TABLE)) {
        read.error = damaged(path, *format, QStringLiteral("the list of tables"));
        return read;
    }
    MdbCatalogEntry* programTable = nullptr;
    QStringList tables;
    for (guint i = 0; i < mdb->num_catalog; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        if (entry->object_type != MDB_TABLE || !mdb_is_user_table(entry))
            continue;
        const QString name = QString::fromUtf8(entry->object_name);
        tables << name;
        if (!programTable && name.compare(QLatin1String("Main"), Qt::CaseInsensitive) == 0)
            programTable = entry;
    }
    if (!programTable) {
        read.error = QStringLiteral("%1 has no table Main, so it holds no program (%2)")
                         .arg(native(path),
                              tables.isEmpty()
                                  ? QStringLiteral("it has no tables")
                                  : QStringLiteral("its tables: %1").arg(tables.join(QStringLiteral(", "))));
        return read;
    }
    const std::unique_ptr<MdbTableDef, TableFree> table(mdb_read_table(programTable));
    if (!table || !mdb_read_columns(table.get())) {
        read.error = damaged(path, *format, QStringLiteral("the table Main"));
        return read;
    }
    constexpr unsigned FieldCount = 5;
    if (table->num_cols < FieldCount) {
        read.error = QStringLiteral("%1: the table Main has %2 fields; a program has five "
                                    "(LineNo, Address, Command, Listing, Comment)")
                         .arg(native(path))
                         .arg(table->num_cols);
        return read;
    }
    mdb_rewind_table(table.get());
    // Fields by position: the first five columns, whatever their names.
    std::vector<std::vector<char>> values(FieldCount, std::vector<char>(mdb->bind_size + 1));
    std::array<int, FieldCount> lengths{};
    for (unsigned field = 0; field < FieldCount; ++field)
        mdb_bind_column(table.get(), static_cast<int>(field + 1), values[field].data(),
                        &lengths[field]);
    const auto text = [&](unsigned field) {
        return QString::fromUtf8(values[field].data(), std::max(0, lengths[field]));
    };
    qint64 rowid = 0;
    while (mdb_fetch_row(table.get())) {
        program::ProgramRow row;
        row.rowid = ++rowid;
        row.lineNo = text(0).trimmed().toLongLong();
        row.address = text(1).trimmed().toLongLong();
        row.command = text(2);
        row.listing = text(3);
        row.comment = text(4);
        read.rows.append(row);
    }
    // A file cut at a page boundary reads as pages of zeros: fewer records
    // than the table says it holds.
    if (read.rows.size() != static_cast<qsizetype>(table->num_rows)) {
        read.error = QStringLiteral("%1 is truncated or damaged: %2 of the %3 records of the "
                                    "table Main could be read")
                         .arg(native(path))
                         .arg(read.rows.size())
                         .arg(table->num_rows);
        read.rows.clear();
    }
    return read;
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
        name = folder.filePath(legacy.completeBaseName() + QStringLiteral("-converted-%1.mdb").arg(n));
    return name;
}

} // namespace kqm::files

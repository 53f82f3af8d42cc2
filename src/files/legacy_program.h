#pragma once

#include "program/program_table.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <optional>

namespace kqm::files {

// A program file of the older kind: an Access (Jet) database with the table
// Main. The tool reads them, to convert them; it never writes them.
struct LegacyFormat {
    int version = 0;        // the header's version byte: 0 Jet 3, 1 Jet 4, 2 and up ACE
    bool password = false;  // a database password is set
    bool encrypted = false; // the pages are encoded with a key
    quint16 codePage = 0;   // of Jet 3 text; 0: the system's, read as 1252
    qint64 pageSize = 0;

    // "Access 97 (Jet 3)", "Access 2000 (Jet 4)", "Access 2007 (.accdb)"...
    QString name() const;
};

// The legacy format of the file at path, told by its header (the Jet or ACE
// signature and the version byte), whatever its extension; nullopt for any
// other file.
std::optional<LegacyFormat> legacyFormatOf(const QString& path);

struct LegacyProgram {
    LegacyFormat format;
    QVector<program::ProgramRow> rows; // in stored order; rowids 1, 2, ...
    QString error;                     // why the file cannot be read
    bool ok() const { return error.isEmpty(); }
};

// Reads the table Main of a legacy file, read-only: its records in stored
// order, the first five fields by position (line number, address, command,
// listing text, comment), text from the file's code page into Unicode.
//
// A legacy file is untrusted: libmdb reads it in a child process (the
// program kqm-legacy-reader), which has LegacyReadTimeMs to finish. A crash,
// a time-out or a read failure libmdb reports makes the file damaged, and so
// does a field that holds something but reads as nothing: the error then
// says so, and rows is empty. Waits for the child, at most that long.
LegacyProgram readLegacyProgram(const QString& path);

inline constexpr int LegacyReadTimeMs = 5000;

// The program the reader runs, for programs not installed beside it (tests,
// fuzzing); by default it is found beside this program, else where the
// package installs it.
void setLegacyReaderProgram(const QString& path);

// What the reader wrote on its standard output, made into the program read
// from path, or into why the file cannot be read.
LegacyProgram legacyProgramFromReader(const QString& path, const LegacyFormat& format,
                                      const QByteArray& output);

// The rows a converted program starts from: every line whose command the
// tool knows gets its listing text anew from the refresh.
QVector<program::ProgramRow> rowsForConversion(QVector<program::ProgramRow> rows);

// The name a conversion proposes: NAME-converted.mdb beside the legacy file,
// or NAME-converted-2.mdb and so on where that is taken.
QString convertedName(const QString& legacyPath);

} // namespace kqm::files

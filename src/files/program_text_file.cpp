#include "files/program_text_file.h"

#include "files/program_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace kqm::files {

namespace {

QList<int> nonUtf8Lines(const QByteArray& bytes) {
    QList<int> lines;
    const QList<QByteArray> split = bytes.split('\n');
    for (qsizetype i = 0; i < split.size(); ++i) {
        // Stateless: a sequence cut off at the end of the line is an error too.
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString decoded = decoder(split.at(i));
        Q_UNUSED(decoded);
        if (decoder.hasError())
            lines << static_cast<int>(i + 1);
    }
    return lines;
}

} // namespace

ProgramTextFile readProgramTextFile(const QString& path) {
    ProgramTextFile text;
    QFile file(path);
    const bool opened = path == QLatin1String("-") ? file.open(stdin, QIODevice::ReadOnly)
                                                   : file.open(QIODevice::ReadOnly);
    if (!opened) {
        text.unreadable = file.errorString();
        return text;
    }
    const QByteArray bytes = file.read(MaxProgramTextBytes + 1);
    if (bytes.size() > MaxProgramTextBytes) {
        text.unreadable = QStringLiteral("it holds more than %1 MB, far more than any program")
                              .arg(MaxProgramTextBytes / (1024 * 1024));
        return text;
    }
    text.notUtf8 = nonUtf8Lines(bytes);
    if (text.notUtf8.isEmpty())
        text.read = program::readProgramText(QString::fromUtf8(bytes), true);
    return text;
}

QStringList ProgramTextFile::problems(const QString& name) const {
    if (!unreadable.isEmpty())
        return {QStringLiteral("%1 could not be read: %2").arg(name, unreadable)};
    QStringList lines;
    for (const int line : notUtf8)
        lines << QStringLiteral("%1:%2: not UTF-8 text").arg(name).arg(line);
    for (const program::ProgramTextError& error : read.errors)
        lines << QStringLiteral("%1:%2: %3").arg(name).arg(error.line).arg(error.message);
    return lines;
}

std::optional<QString> exportRefusal(const QString& textPath, const QString& programFile) {
    if (!programFile.isEmpty() && sameFile(textPath, programFile))
        return QStringLiteral("the text would replace the program file %1; choose another name "
                              "for it")
            .arg(QDir::toNativeSeparators(programFile));
    const QFileInfo target(textPath);
    if (!target.exists())
        return std::nullopt;
    // Its first line names the format (after a byte order mark, perhaps).
    const QByteArray header = QByteArrayLiteral("KQM program text");
    QFile existing(textPath);
    const bool earlierText = target.isFile() && existing.open(QIODevice::ReadOnly) &&
                             existing.read(header.size() + 3).contains(header);
    if (earlierText)
        return std::nullopt;
    return QStringLiteral("%1 exists already and is not a program text (another program file, "
                          "or anything else, is never replaced); choose a new file")
        .arg(QDir::toNativeSeparators(textPath));
}

} // namespace kqm::files

// Damaged Access program files, read as the tool reads them: libmdb in its
// child process, the answer taken apart here. Whatever the child does with
// the input (it may crash: libmdb trusts the file), the caller gets a program
// or the reason it has none, never a crash. The input is also taken for a
// child's answer, which must be refused or read whatever its bytes.
#include "files/legacy_program.h"
#include "fuzz_support.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

namespace {

void checkSound(const kqm::files::LegacyProgram& read) {
    if (!read.ok()) {
        KQM_FUZZ_CHECK(read.rows.isEmpty());
        return;
    }
    for (qsizetype i = 0; i < read.rows.size(); ++i)
        KQM_FUZZ_CHECK(read.rows.at(i).rowid == i + 1);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    kqm::files::setLegacyReaderProgram(QStringLiteral(KQM_LEGACY_READER_PATH));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto file = kqm::fuzz::AsFile(data, size, QStringLiteral("fuzz.mdb"));
    if (!file)
        return 0;
    const QString& path = *file;
    const kqm::files::LegacyProgram read = kqm::files::readLegacyProgram(path);
    checkSound(read);
    if (!read.ok())
        KQM_FUZZ_CHECK(!read.error.isEmpty());
    const QByteArray answer(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    checkSound(kqm::files::legacyProgramFromReader(path, read.format, answer));
    return 0;
}

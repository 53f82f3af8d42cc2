// Random and mutated files opened as program files: refused with a reason or
// read, listed and refreshed; never a crash, never a half-written table.
#include "fuzz_support.h"
#include "program/listing.h"
#include "program/program_table.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto file = kqm::fuzz::AsFile(data, size, QStringLiteral("fuzz.mdb"));
    if (!file)
        return 0;
    const QString& path = *file;
    kqm::program::ProgramTable table;
    if (!table.open(path)) {
        KQM_FUZZ_CHECK(!table.lastError().isEmpty());
        return 0;
    }
    const auto rows = table.readRows();
    if (!rows)
        return 0;
    kqm::fuzz::QuietMessages messages;
    kqm::program::ProgramState state;
    const auto result = kqm::program::RefreshListing(table, state, messages);
    if (result.ok) {
        const auto again = table.readRows();
        KQM_FUZZ_CHECK(again.has_value() && again->size() == rows->size());
        for (qsizetype i = 0; i < again->size(); ++i)
            KQM_FUZZ_CHECK(again->at(i).lineNo == i + 1);
    }
    return 0;
}

// Program text as a user or another tool may hand it in: reading never
// fails badly, what reads cleanly writes back to text that reads the same,
// and the program check and the edits that move branches take any program.
#include "fuzz_support.h"
#include "program/editing.h"
#include "program/program_check.h"
#include "program/program_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data + 1),
                                           static_cast<qsizetype>(size - 1));
    const kqm::program::ProgramTextRead read = kqm::program::readProgramText(text, data[0] & 1);
    KQM_FUZZ_CHECK(read.ok() || read.rows.isEmpty());
    if (read.ok()) {
        const auto again =
            kqm::program::readProgramText(kqm::program::writeProgramText(read.rows), true);
        KQM_FUZZ_CHECK(again.ok() && again.rows.size() == read.rows.size());
        for (qsizetype i = 0; i < read.rows.size(); ++i) {
            KQM_FUZZ_CHECK(again.rows.at(i).command == read.rows.at(i).command);
            KQM_FUZZ_CHECK(again.rows.at(i).comment == read.rows.at(i).comment);
        }
    }

    // Any lines as commands, checked and edited.
    QVector<kqm::program::ProgramRow> rows;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        kqm::program::ProgramRow row;
        row.rowid = rows.size() + 1;
        row.command = line;
        rows.push_back(row);
    }
    for (const auto& problem : kqm::program::checkProgram(rows))
        KQM_FUZZ_CHECK(problem.line >= 1 && problem.line <= rows.size());
    const int count = static_cast<int>(rows.size());
    const int first = data[0] % count;
    const auto moved = kqm::program::planMove(rows, first, 1, data[0] & 2 ? 1 : -1);
    KQM_FUZZ_CHECK(!moved.error.isEmpty() || moved.rows.size() == rows.size());
    const auto removed = kqm::program::planDelete(rows, {first, count - 1});
    KQM_FUZZ_CHECK(removed.error.isEmpty());
    return 0;
}

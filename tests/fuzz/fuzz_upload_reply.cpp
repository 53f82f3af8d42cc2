// The upload reply parser and the branch conversion: any reply from a unit,
// however broken, gives lines whose branch targets name existing lines.
#include "fuzz_support.h"
#include "program/command_set.h"
#include "transfer/upload.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kqm::fuzz::QuietMessages messages;
    const auto built = kqm::transfer::buildUploadedProgram(kqm::fuzz::Text(data, size), messages);
    const auto count = built.rows.size();
    for (const auto& row : built.rows) {
        KQM_FUZZ_CHECK(!row.command.isEmpty());
        KQM_FUZZ_CHECK(!row.command.contains(QLatin1Char('\r')));
        if (row.command.startsWith(QLatin1Char('&')) && row.command.contains(QLatin1Char(','))) {
            const int target = kqm::program::OperandField(row.command, 1);
            KQM_FUZZ_CHECK(target >= 1 && target <= count + 1);
        }
    }
    return 0;
}

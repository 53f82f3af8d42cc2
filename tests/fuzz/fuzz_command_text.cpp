// Operand fields, sizes, listing texts, the editor's pre-load and the
// command rules on any stored command string.
#include "fuzz_support.h"
#include "program/command_rules.h"
#include "program/command_set.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const int line = static_cast<int8_t>(data[0]);
    const QString command = kqm::fuzz::Text(data + 1, size - 1);
    for (int index = 0; index <= 2; ++index)
        kqm::program::OperandField(command, index);
    const auto known = kqm::program::knownCommandSize(command);
    KQM_FUZZ_CHECK(!known || (*known >= 2 && *known <= 7));
    kqm::program::ListingText(command, line);
    kqm::program::StripCrLf(command);
    kqm::program::preloadFor(command);
    kqm::program::CommandEntry entry;
    entry.kind = static_cast<kqm::program::CommandKind>(data[0] % kqm::program::CommandKindCount);
    entry.value = command;
    entry.times = command.right(3);
    const auto built = kqm::program::buildCommand(entry, QStringLiteral("7"));
    if (built.ok()) {
        KQM_FUZZ_CHECK(kqm::program::IsCommandString(built.command));
        KQM_FUZZ_CHECK(kqm::program::knownCommandSize(built.command).has_value());
    }
    return 0;
}

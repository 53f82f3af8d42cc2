#pragma once

#include "dryrun/executor.h"

#include <memory>

namespace kqm::bench {

// A recorded run of about 10^5 executed lines, a short move and a wait in
// each pass: the size of plot the dry run must draw at once.
inline std::unique_ptr<dryrun::Executor> hundredThousandLines() {
    dryrun::RunSettings settings;
    settings.record = true;
    settings.limit = 1e6;
    auto run = std::make_unique<dryrun::Executor>(
        dryrun::stepsFromCommands({QStringLiteral("N10\r@0G"), QStringLiteral("W1"),
                                   QStringLiteral("&0_255"), QStringLiteral("&0_129"),
                                   QStringLiteral("Q")}),
        settings);
    run->run();
    return run;
}

} // namespace kqm::bench

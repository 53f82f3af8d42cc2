// The unit-listing splitter: never more lines than the window keeps, and no
// line holds a carriage return or a "Q".
#include "fuzz_support.h"
#include "transfer/view.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto listing = kqm::transfer::splitUnitListing(kqm::fuzz::Text(data, size));
    KQM_FUZZ_CHECK(listing.lines.size() <= kqm::transfer::MaxListingLines);
    for (const QString& line : listing.lines) {
        KQM_FUZZ_CHECK(!line.contains(QLatin1Char('\r')));
        KQM_FUZZ_CHECK(!line.contains(QLatin1Char('Q')));
    }
    return 0;
}

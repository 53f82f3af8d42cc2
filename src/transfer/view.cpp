#include "transfer/view.h"

#include "link/link.h"

namespace kqm::transfer {

UnitListing SplitUnitListing(const QString& reply) {
    UnitListing listing;
    qsizetype start = 0;
    for (qsizetype p = 0; p < reply.size(); ++p) {
        const QChar c = reply.at(p);
        if (c == QLatin1Char('Q')) {
            listing.endedWithQ = true;
            break;
        }
        if (c == QLatin1Char('\r')) {
            if (listing.lines.size() == MaxListingLines) {
                listing.truncated = true;
                break;
            }
            listing.lines << reply.mid(start, p - start);
            start = p + 1;
        }
    }
    return listing;
}

QString RequestUnitListing(link::Link& link) {
    link.WriteDirect(QStringLiteral("@"));
    link.WriteDirect(link.state().AxisAddress);
    link.WriteDirect(QStringLiteral("*"));
    link.WriteDirect(QStringLiteral("0"));
    link.WriteDirect(QStringLiteral("\r"));
    link.Delay(0.5);
    return link.ReadReply();
}

UnitListing ReadUnitListing(link::Link& link) {
    return SplitUnitListing(RequestUnitListing(link));
}

} // namespace kqm::transfer

#include "transfer/view.h"

#include "link/link.h"

namespace kqm::transfer {

UnitListing splitUnitListing(const QString& reply) {
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

QString requestUnitListing(link::Link& link) {
    link.writeDirect(QStringLiteral("@"));
    link.writeDirect(link.state().AxisAddress);
    link.writeDirect(QStringLiteral("*"));
    link.writeDirect(QStringLiteral("0"));
    link.writeDirect(QStringLiteral("\r"));
    link.Delay(0.5);
    return link.ReadReply(link::MaxProgramReplyBytes);
}

UnitListing readUnitListing(link::Link& link) {
    return splitUnitListing(requestUnitListing(link));
}

ViewReport runView(link::Link& link) {
    ViewReport report;
    {
        const auto exchange = link.exchanges().tryBegin();
        if (!exchange)
            return report;
        report.ran = true;
        report.listing = readUnitListing(link);
    }
    report.end = link.flooded()                   ? ViewEnd::LineFailed
                 : report.listing.truncated       ? ViewEnd::TooLong
                 : report.listing.endedWithQ      ? ViewEnd::Whole
                 : link.exchanges().interrupted() ? ViewEnd::Stopped
                                                  : ViewEnd::Incomplete;
    switch (report.end) {
    case ViewEnd::LineFailed:
        report.message = link.lostReason();
        report.critical = true;
        break;
    case ViewEnd::TooLong:
        report.message = ListingTooLongMessage;
        break;
    case ViewEnd::Stopped:
        report.message = ListingStoppedMessage;
        break;
    case ViewEnd::Incomplete:
        report.message = ListingIncompleteMessage;
        break;
    case ViewEnd::Refused:
    case ViewEnd::Whole:
        break;
    }
    return report;
}

} // namespace kqm::transfer

#pragma once

#include "program/program_table.h"

#include <QDateTime>
#include <QString>
#include <QVector>

namespace kqm::files {

// One piece of text on a printed page, placed in twips from the top left of
// the printable area (the top of the text at y).
struct PlacedText {
    int page = 0;
    int x = 0;
    int y = 0;
    QString text;
    int pointSize = 10;
    bool bold = false;
    bool italic = false;
    // How wide it may be, in twips: 0 no limit, -1 up to the right margin.
    // Wider text is cut with an ellipsis, so no column runs into the next.
    int maxWidth = 0;

    bool operator==(const PlacedText&) const = default;
};

// Line heights of the printer's font, in twips, for the two sizes used.
struct LineHeights {
    int size12 = 290;
    int size10 = 240;
};

QString listingTitle(const QDateTime& when);

// The dated listing as placed text: title, file name, headings, one row per
// program line (headings repeated on every new page) and the memory line.
QVector<PlacedText> layOutListing(const QVector<program::ProgramRow>& rows, const QString& fileName,
                                  const QString& memoryCaption, const QDateTime& when,
                                  const LineHeights& heights);

} // namespace kqm::files

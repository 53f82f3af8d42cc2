#pragma once

#include "files/printed_listing.h"

#include <QString>
#include <QVector>

class QPaintDevice;
class QPagedPaintDevice;

namespace kqm::files {

// The heights of the listing's two font sizes on a paint device, in twips.
LineHeights deviceLineHeights(QPaintDevice& device);

// Draws placed text on a paged device (a printer or a PDF writer), page by
// page; false (with a reason) when the device cannot be drawn on.
bool renderListing(QPagedPaintDevice& device, const QVector<PlacedText>& items, QString* error);

} // namespace kqm::files

#include "files/listing_render.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPagedPaintDevice>
#include <QPainter>

#include <cmath>

namespace kqm::files {

namespace {

// A narrow sans font where one is installed, so that the columns keep apart
// at their fixed places; the default font otherwise (and text is cut).
QString listingFamily() {
    static const QString family = [] {
        const QStringList installed = QFontDatabase::families();
        for (const QString& wanted :
             {QStringLiteral("Liberation Sans Narrow"), QStringLiteral("Liberation Sans")}) {
            if (installed.contains(wanted))
                return wanted;
        }
        return QString();
    }();
    return family;
}

QFont fontFor(int pointSize, bool bold, bool italic) {
    QFont font;
    if (!listingFamily().isEmpty())
        font.setFamily(listingFamily());
    font.setPointSize(pointSize);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

double toDevice(int twips, const QPaintDevice& device) {
    return twips * device.logicalDpiY() / 1440.0;
}

} // namespace

LineHeights deviceLineHeights(QPaintDevice& device) {
    const auto height = [&device](int size) {
        const QFontMetricsF metrics(fontFor(size, false, false), &device);
        return static_cast<int>(std::lround(metrics.height() * 1440.0 / device.logicalDpiY()));
    };
    return {height(12), height(10)};
}

bool renderListing(QPagedPaintDevice& device, const QVector<PlacedText>& items, QString* error) {
    QPainter painter;
    if (!painter.begin(&device)) {
        if (error)
            *error = QStringLiteral("the printer could not be started");
        return false;
    }
    int page = 0;
    for (const PlacedText& item : items) {
        while (page < item.page) {
            if (!device.newPage()) {
                if (error)
                    *error = QStringLiteral("the printer could not start a new page");
                painter.end();
                return false;
            }
            ++page;
        }
        const QFont font = fontFor(item.pointSize, item.bold, item.italic);
        painter.setFont(font);
        const QFontMetricsF metrics(font, &device);
        const double x = toDevice(item.x, device);
        QString text = item.text;
        if (item.maxWidth != 0) {
            const double right = device.width();
            const double width = item.maxWidth > 0 ? toDevice(item.maxWidth, device) : right - x;
            text = metrics.elidedText(text, Qt::ElideRight, std::max(0.0, width));
        }
        painter.drawText(QPointF(x, toDevice(item.y, device) + metrics.ascent()), text);
    }
    if (!painter.end()) {
        if (error)
            *error = QStringLiteral("the document could not be finished");
        return false;
    }
    return true;
}

} // namespace kqm::files

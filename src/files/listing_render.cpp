#include "files/listing_render.h"

#include <QFontMetricsF>
#include <QPagedPaintDevice>
#include <QPainter>

#include <cmath>

namespace kqm::files {

namespace {

QFont fontFor(int pointSize, bool bold, bool italic) {
    QFont font;
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
        painter.drawText(
            QPointF(toDevice(item.x, device), toDevice(item.y, device) + metrics.ascent()),
            item.text);
    }
    if (!painter.end()) {
        if (error)
            *error = QStringLiteral("the document could not be finished");
        return false;
    }
    return true;
}

} // namespace kqm::files

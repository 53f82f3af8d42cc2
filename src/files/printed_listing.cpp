#include "files/printed_listing.h"

#include "program/command_set.h"

#include <QLocale>

namespace kqm::files {

namespace {

constexpr int LeftMargin = 500;
constexpr int TopLine = 100;
constexpr int LastRowTop = 14699;
constexpr int LastMemoryLineTop = 14600;
constexpr int ColumnX[5] = {500, 1000, 1650, 3300, 7300};
// The gap kept before the next column.
constexpr int ColumnGap = 60;

int columnWidth(int column) {
    return column < 4 ? ColumnX[column + 1] - ColumnX[column] - ColumnGap : -1;
}
const char* const Headings[5] = {"Line", "Addr.", "KQM20 Command", "Command", "Comments"};

class Page {
public:
    Page(QVector<PlacedText>& items, const LineHeights& heights)
        : m_items(items), m_heights(heights) {}

    // Prints a text at x on the current line; the line ends after it.
    void print(int x, const QString& text, int maxWidth = 0) {
        m_items.push_back({m_page, x, m_y, text, m_size, m_bold, m_italic, maxWidth});
        m_y += m_size == 12 ? m_heights.size12 : m_heights.size10;
    }
    void newPage() {
        ++m_page;
        m_y = TopLine;
    }
    void headings() {
        m_bold = true;
        const int top = m_y;
        for (int column = 0; column < 5; ++column) {
            m_y = top;
            print(ColumnX[column], QString::fromLatin1(Headings[column]), columnWidth(column));
        }
        m_bold = false;
    }

    int m_y = TopLine;
    int m_size = 12;
    bool m_bold = false;
    bool m_italic = false;

private:
    QVector<PlacedText>& m_items;
    const LineHeights& m_heights;
    int m_page = 0;
};

} // namespace

QString listingTitle(const QDateTime& when) {
    const QLocale c = QLocale::c();
    return QStringLiteral("Quorvex Motion KQM20 Program Listing     ") +
           c.toString(when.date(), QStringLiteral("MMM d,yyyy")) + QLatin1Char(',') +
           c.toString(when.time(), QStringLiteral("hh:mm AP"));
}

QVector<PlacedText> layOutListing(const QVector<program::ProgramRow>& rows, const QString& fileName,
                                  const QString& memoryCaption, const QDateTime& when,
                                  const LineHeights& heights) {
    QVector<PlacedText> items;
    Page page(items, heights);
    page.m_bold = true;
    page.print(LeftMargin, listingTitle(when));
    page.m_bold = false;
    page.m_italic = true;
    page.print(LeftMargin, fileName);
    page.m_italic = false;
    page.m_size = 10;
    page.m_y += 200;
    page.headings();

    for (const program::ProgramRow& row : rows) {
        if (page.m_y > LastRowTop) {
            page.newPage();
            page.headings();
        }
        const int top = page.m_y;
        const QString cells[5] = {QString::number(row.lineNo), QString::number(row.address),
                                  program::StripCrLf(row.command), row.listing, row.comment};
        for (int column = 0; column < 5; ++column) {
            page.m_y = top;
            page.print(ColumnX[column], cells[column], columnWidth(column));
        }
    }
    if (page.m_y >= LastMemoryLineTop)
        page.newPage();
    page.m_bold = true;
    page.print(LeftMargin, memoryCaption);
    return items;
}

} // namespace kqm::files

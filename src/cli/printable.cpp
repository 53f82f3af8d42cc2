#include "cli/printable.h"

namespace kqm::cli {

QString printable(const QString& text) {
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (code == u'\\')
            result += QStringLiteral("\\\\");
        else if (code == u'\n')
            result += QStringLiteral("\\n");
        else if (code == u'\r')
            result += QStringLiteral("\\r");
        else if (code == u'\t')
            result += QStringLiteral("\\t");
        else if (code < 0x20 || code == 0x7f || (code >= 0x80 && code < 0xa0))
            result += QStringLiteral("\\x%1").arg(static_cast<int>(code), 2, 16, QLatin1Char('0'));
        else
            result += c;
    }
    return result;
}

} // namespace kqm::cli

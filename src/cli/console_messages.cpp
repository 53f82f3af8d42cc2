#include "cli/console_messages.h"

#include <QRegularExpression>

namespace kqm::cli {

using platform::MessageAnswer;
using platform::MessageButtons;

MessageAnswer ConsoleMessages::show(platform::MessageIcon, const QString& text,
                                    MessageButtons buttons) {
    // One box, one line: runs of line breaks become a single blank.
    QString line = text;
    line.replace(QRegularExpression(QStringLiteral("[\r\n]+")), QStringLiteral(" "));
    m_err << line << Qt::endl;
    switch (buttons) {
    case MessageButtons::YesNoCancel:
    case MessageButtons::OkCancel:
        return MessageAnswer::Cancel;
    case MessageButtons::YesNo:
        return MessageAnswer::No;
    case MessageButtons::Ok:
        break;
    }
    return MessageAnswer::Ok;
}

} // namespace kqm::cli

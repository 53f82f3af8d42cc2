#include "cli/console_messages.h"

namespace kqm::cli {

using platform::MessageAnswer;
using platform::MessageButtons;

MessageAnswer ConsoleMessages::show(platform::MessageIcon, const QString& text,
                                    MessageButtons buttons) {
    QString line = text;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
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

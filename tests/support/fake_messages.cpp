#include "support/fake_messages.h"

#include <QStringList>

namespace kqm::test {

platform::MessageAnswer FakeMessages::show(platform::MessageIcon icon, const QString& text,
                                           platform::MessageButtons buttons) {
    m_boxes.push_back({icon, text, buttons, QString()});
    if (whileOpen)
        whileOpen(text);
    if (!m_script.isEmpty())
        return m_script.takeFirst();
    switch (buttons) {
    case platform::MessageButtons::YesNo:
    case platform::MessageButtons::YesNoCancel:
        return platform::MessageAnswer::Yes;
    default:
        return platform::MessageAnswer::Ok;
    }
}

platform::MessageAnswer FakeMessages::showTitled(const QString& title, platform::MessageIcon icon,
                                                 const QString& text,
                                                 platform::MessageButtons buttons) {
    const platform::MessageAnswer answer = show(icon, text, buttons);
    m_boxes.last().title = title;
    return answer;
}

QStringList FakeMessages::texts() const {
    QStringList result;
    for (const Box& box : m_boxes)
        result << box.text;
    return result;
}

} // namespace kqm::test

#pragma once

#include "platform/messages.h"
#include "support/qt_printers.h"

#include <QList>
#include <QString>

#include <functional>

namespace kqm::test {

// Records every box and answers from a script (Ok/the first scripted answer
// when the script runs dry).
class FakeMessages final : public platform::Messages {
public:
    struct Box {
        platform::MessageIcon icon;
        QString text;
        platform::MessageButtons buttons;
        QString title; // empty: the application's title
    };

    platform::MessageAnswer show(platform::MessageIcon icon, const QString& text,
                                 platform::MessageButtons buttons) override;
    platform::MessageAnswer showTitled(const QString& title, platform::MessageIcon icon,
                                       const QString& text,
                                       platform::MessageButtons buttons) override;

    void answerNext(platform::MessageAnswer answer) { m_script << answer; }
    const QList<Box>& boxes() const { return m_boxes; }
    QStringList texts() const;
    void clear() { m_boxes.clear(); }
    // Runs while a box is "open": another program's change at that moment.
    std::function<void(const QString& text)> whileOpen;

private:
    QList<Box> m_boxes;
    QList<platform::MessageAnswer> m_script;
};

} // namespace kqm::test

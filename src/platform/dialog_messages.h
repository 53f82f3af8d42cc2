#pragma once

#include "platform/messages.h"

class QWidget;

namespace kqm::platform {

// The real boxes: modal, with the application's title.
class DialogMessages final : public Messages {
public:
    explicit DialogMessages(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }
    MessageAnswer show(MessageIcon icon, const QString& text, MessageButtons buttons) override;
    MessageAnswer showTitled(const QString& title, MessageIcon icon, const QString& text,
                             MessageButtons buttons) override;

private:
    QWidget* m_parent = nullptr;
};

} // namespace kqm::platform

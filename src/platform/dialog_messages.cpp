#include "platform/dialog_messages.h"

#include <QApplication>
#include <QMessageBox>

namespace kqm::platform {

namespace {

QMessageBox::Icon toBoxIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Critical:
        return QMessageBox::Critical;
    case MessageIcon::Question:
        return QMessageBox::Question;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons toBoxButtons(MessageButtons buttons) {
    switch (buttons) {
    case MessageButtons::OkCancel:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case MessageButtons::YesNo:
        return QMessageBox::Yes | QMessageBox::No;
    case MessageButtons::YesNoCancel:
        return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case MessageButtons::Ok:
        break;
    }
    return QMessageBox::Ok;
}

} // namespace

MessageAnswer DialogMessages::show(MessageIcon icon, const QString& text, MessageButtons buttons) {
    return showTitled(ProductName, icon, text, buttons);
}

MessageAnswer DialogMessages::showTitled(const QString& title, MessageIcon icon,
                                         const QString& text, MessageButtons buttons) {
    QMessageBox box(toBoxIcon(icon), title, text, toBoxButtons(buttons), m_parent);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return MessageAnswer::Yes;
    case QMessageBox::No:
        return MessageAnswer::No;
    case QMessageBox::Cancel:
        return MessageAnswer::Cancel;
    case QMessageBox::Ok:
        return MessageAnswer::Ok;
    default:
        break;
    }
    // A box closed without a button counts as its safest answer.
    if (buttons == MessageButtons::YesNoCancel || buttons == MessageButtons::OkCancel)
        return MessageAnswer::Cancel;
    if (buttons == MessageButtons::YesNo)
        return MessageAnswer::No;
    return MessageAnswer::Ok;
}

} // namespace kqm::platform

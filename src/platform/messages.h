#pragma once

#include <QString>

namespace kqm::platform {

enum class MessageIcon { None, Information, Warning, Critical, Question };
enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MessageAnswer { Ok, Cancel, Yes, No };

// The title of the tool's message boxes.
inline const QString ProductName = QStringLiteral("KQM20/KQM21 Programmable Indexer");

// Every message box of the tool goes through this seam, so that logic never
// opens a QMessageBox itself and tests can record and answer each box.
class Messages {
public:
    virtual ~Messages() = default;
    virtual MessageAnswer show(MessageIcon icon, const QString& text,
                               MessageButtons buttons = MessageButtons::Ok) = 0;
    // A box with a title of its own instead of the application's.
    virtual MessageAnswer showTitled(const QString& title, MessageIcon icon, const QString& text,
                                     MessageButtons buttons = MessageButtons::Ok) {
        Q_UNUSED(title);
        return show(icon, text, buttons);
    }
};

// For work whose remarks are not for the user (addresses worked out, a
// backup or test program read): every box answers Ok unseen.
class SilentMessages final : public Messages {
public:
    MessageAnswer show(MessageIcon, const QString&, MessageButtons) override {
        return MessageAnswer::Ok;
    }
};

} // namespace kqm::platform

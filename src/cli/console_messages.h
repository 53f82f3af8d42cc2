#pragma once

#include "platform/messages.h"

#include <QTextStream>

namespace kqm::cli {

// Message boxes become lines on standard error; questions get the answer that
// changes nothing (No, or Cancel where offered).
class ConsoleMessages final : public platform::Messages {
public:
    explicit ConsoleMessages(QTextStream& err) : m_err(err) {}
    platform::MessageAnswer show(platform::MessageIcon icon, const QString& text,
                                 platform::MessageButtons buttons) override;

private:
    QTextStream& m_err;
};

} // namespace kqm::cli

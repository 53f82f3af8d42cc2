#pragma once

#include "platform/messages.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

// Shared by the fuzz targets: the input as text, and message boxes that
// answer at once.
namespace kqm::fuzz {

inline QString Text(const uint8_t* data, size_t size) {
    return QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

class QuietMessages final : public platform::Messages {
public:
    platform::MessageAnswer show(platform::MessageIcon, const QString&,
                                 platform::MessageButtons buttons) override {
        ++shown;
        return buttons == platform::MessageButtons::Ok ? platform::MessageAnswer::Ok
                                                       : platform::MessageAnswer::No;
    }
    int shown = 0;
};

// Stops the run with a message libFuzzer reports as a crash.
#define KQM_FUZZ_CHECK(condition)                                                                  \
    do {                                                                                           \
        if (!(condition))                                                                          \
            __builtin_trap();                                                                      \
    } while (false)

} // namespace kqm::fuzz

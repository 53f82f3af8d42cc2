#pragma once

#include "platform/messages.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <optional>

#include <cstddef>
#include <cstdint>

// Shared by the fuzz targets: the input as text, and message boxes that
// answer at once.
namespace kqm::fuzz {

inline QString Text(const uint8_t* data, size_t size) {
    return QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// The input written to a file of its own (the same path every time, made
// anew); nullopt when it cannot be written.
inline std::optional<QString> AsFile(const uint8_t* data, size_t size, const QString& name) {
    static QTemporaryDir dir;
    const QString path = dir.filePath(name);
    QFile::remove(path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) !=
            static_cast<qint64>(size))
        return std::nullopt;
    return path;
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

#pragma once

#include <QString>

namespace kqm::platform {

// Gives a control the name tests and the window's code find it by, and
// returns it, so that it can be named where it is made.
template <typename T> T* named(T* object, const QString& name) {
    object->setObjectName(name);
    return object;
}
template <typename T> T* named(T* object, const char* name) {
    return named(object, QString::fromLatin1(name));
}

} // namespace kqm::platform

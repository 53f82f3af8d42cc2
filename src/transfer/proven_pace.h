#pragma once

#include <QString>

#include <optional>

namespace kqm::link {
class Link;
}

namespace kqm::transfer {

// The unit a pace was proven on: the same port, axis, model and revision,
// at the same baud rate (the gap between characters depends on it).
struct PaceKey {
    QString device;
    int axis = 0;
    QString model;
    QString revision;
    int baud = 9600;
};

// The unit the link is connected to now.
PaceKey connectedUnitKey(link::Link& link);

// proven-paces.json in the per-user data directory; the window and kqmctl
// share it.
QString provenPacesPath(const QString& userDataDirectory);

// The fastest pace the unit verified twice in a row; nothing when none was
// proven, or the unit has another model or revision since.
std::optional<double> provenPace(const QString& path, const PaceKey& key);
// Keeps the pace for that unit, replacing the one before (nothing forgets
// it; 0 is characters back to back); the file is replaced whole. False, with
// the reason, when it could not be written.
bool keepProvenPace(const QString& path, const PaceKey& key, std::optional<double> pace,
                    QString* error);

} // namespace kqm::transfer

#pragma once

#include <QList>
#include <QString>

#include <functional>

namespace kqm::link {

class Link;

// A unit that answered the scan.
struct FoundUnit {
    int axis = 0;
    QString model;
    QString revision;
    // It answered only once its program entry was ended: its program
    // memory holds what a cut-off send left.
    bool leftStoring = false;

    friend bool operator==(const FoundUnit&, const FoundUnit&) = default;
};

struct ScanResult {
    QList<FoundUnit> units; // in address order
    // Every address was asked. When not, failure says why (the port went
    // away, or the line keeps sending); it is empty when the scan was
    // stopped on request.
    bool completed = false;
    QString failure;
};

inline constexpr int ScanFirstAxis = 0;
inline constexpr int ScanLastAxis = 31;

// Called once each address has been asked, with the unit when one answered.
using ScanProgress = std::function<void(int axis, const FoundUnit* found)>;

// Asks every address from 0 to 31 for its version. Each address gets the
// version query "@", the address, "$", CR and nothing else, so a unit that
// is running is not disturbed, and the whole half second a unit may take to
// answer (with the line's time) before the next address is asked; an
// address counts when its answer names a model the way identification reads
// it. Runs inside an exchange that the caller holds, on an open port, and
// ends early when the port goes away, the line floods, or a stop or abort is
// requested. However it ends, the connected unit is named again. Every wait
// goes through the link, so the window keeps working and tests run on the
// virtual clock.
ScanResult scanUnits(Link& link, const ScanProgress& progress = {});

// One address asked as the scan asks it (its version only: no stop, so a
// unit that runs goes on running); nothing when it stays silent or the line
// fails. An address that stays silent may be a unit left storing frames by a
// cut-off send: its entry is ended (a lone CR, the quit frame at the sure
// pace) and it is asked again. Runs inside the caller's exchange.
std::optional<FoundUnit> askUnitAt(Link& link, int axis);

} // namespace kqm::link

#pragma once

#include <QString>

namespace kqm::link {

// The shared state of the device link, named as the rest of the tool knows it.
struct LinkState {
    bool UnitConnected = false;
    QString AxisAddress = QStringLiteral("0");
    QString LastCommError;
    QString UnitModel = QStringLiteral("KQM20");
    QString UnitRevision; // from the unit's answer to "$", for the transfer log
    int ComPortNumber = 1;
    int BaudRate = 9600;
    // Debug counter: echo is on once it reaches the threshold.
    int DebugMode = 0;
    static constexpr int DebugModeOn = 5;

    bool debugEchoOn() const { return DebugMode == DebugModeOn; }
};

} // namespace kqm::link

#include "tools/comm_settings.h"

#include "files/settings_table.h"
#include "link/connection.h"
#include "link/device_port.h"
#include "platform/messages.h"
#include "transfer/pace_policy.h"

namespace kqm::tools {

namespace {
constexpr const auto& BaudRates = link::UnitBaudRates;
}

QStringList comPortEntries() {
    return {QStringLiteral("COM 1"), QStringLiteral("COM 2"), QStringLiteral("COM 3"),
            QStringLiteral("COM 4")};
}

QStringList baudRateEntries() {
    return {QStringLiteral("300    [2]"), QStringLiteral("600    [3]"),
            QStringLiteral("1200  [4]"),  QStringLiteral("2400  [5]"),
            QStringLiteral("4800  [6]"),  QStringLiteral("9600  [7]")};
}

int baudRateAt(int index) {
    return index >= 0 && index < 6 ? BaudRates[index] : 0;
}

int portIndexFor(int comPortNumber) {
    return comPortNumber >= 1 && comPortNumber <= 4 ? comPortNumber - 1 : -1;
}

int baudIndexFor(int baudRate) {
    for (int i = 0; i < 6; ++i) {
        if (BaudRates[i] == baudRate)
            return i;
    }
    return -1;
}

bool applyCommSettings(const CommChoice& chosen, const CommChoice& old, int& comPortNumber,
                       int& baudRate, files::SettingsTable& settings, QString* error) {
    if (chosen.portIndex >= 0)
        comPortNumber = chosen.portIndex + 1;
    if (chosen.baudIndex >= 0)
        baudRate = baudRateAt(chosen.baudIndex);
    if (chosen.baudIndex == old.baudIndex && chosen.portIndex == old.portIndex)
        return false;
    if (!settings.setRecord(files::SettingsTable::BaudRate, QString::number(baudRate)) ||
        !settings.setRecord(files::SettingsTable::ComPort, QString::number(comPortNumber))) {
        if (error)
            *error = settings.lastError();
        return false;
    }
    return true;
}

std::array<QString, 4> storedDevices(files::SettingsTable& settings) {
    std::array<QString, 4> devices;
    for (int port = 0; port < 4; ++port)
        devices[port] = link::portDevice(settings, port + 1);
    return devices;
}

std::array<double, 4> storedPaces(files::SettingsTable& settings) {
    std::array<double, 4> paces{};
    for (int port = 0; port < 4; ++port) {
        const auto pace = settings.sendPace(port + 1);
        paces[port] = pace && transfer::isUsualPace(*pace) ? *pace : transfer::SurePace;
    }
    return paces;
}

QStringList paceEntries() {
    QStringList entries;
    for (const double pace : transfer::usualPaces()) {
        entries << (pace == transfer::SurePace
                        ? QStringLiteral("%1 s per character").arg(pace)
                        : QStringLiteral("%1 s per character (verified sends only)").arg(pace));
    }
    return entries;
}

void storeCommSettingsChoice(const CommSettingsChoice& choice, int& comPortNumber, int& baudRate,
                             files::SettingsTable& settings, platform::Messages& messages) {
    QString error;
    bool changed =
        applyCommSettings(choice.chosen, choice.old, comPortNumber, baudRate, settings, &error);
    const std::array<QString, 4> stored = storedDevices(settings);
    for (int port = 0; port < 4; ++port) {
        if (choice.devices[port] == stored[port])
            continue;
        if (settings.setPortDevice(port + 1, choice.devices[port]))
            changed = true;
        else
            error = settings.lastError();
    }
    // A pace takes effect at the next send: no reconnect is needed for it.
    const std::array<double, 4> paces = storedPaces(settings);
    for (int port = 0; port < 4; ++port) {
        if (choice.paces[port] > 0 && choice.paces[port] != paces[port] &&
            !settings.setSendPace(port + 1, choice.paces[port]))
            error = settings.lastError();
    }
    if (!error.isEmpty()) {
        messages.show(platform::MessageIcon::Warning,
                      QStringLiteral("The settings could not be stored (%1).").arg(error));
    } else if (changed) {
        messages.show(platform::MessageIcon::Information, SettingsChangedMessage);
    }
}

} // namespace kqm::tools

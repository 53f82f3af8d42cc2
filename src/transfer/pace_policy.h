#pragma once

#include "link/link.h"

#include <QList>
#include <QString>

#include <optional>

namespace kqm::files {
class SettingsTable;
}

namespace kqm::transfer {

// Which pace a program send gets, decided in one place for the window, the
// send dialog, Communication Settings, kqmctl, the machine run and the pace
// test, so that the same unit on the same port gets the same pace whoever
// sends to it.

// The pace no unit loses a character at.
inline constexpr double SurePace = link::Link::SurePace;
// The paces a port may be set to and a send may ask for, the sure one first.
const QList<double>& usualPaces();
bool isUsualPace(double pace);
// Twice one character's time at the baud rate: no usual pace goes faster.
double lineRule(int baudRate);
// The usual paces a line at this baud rate carries.
QList<double> pacesFor(int baudRate);
// The paces the pace test tries, slowest first: 0.02, 0.01, 0.005 and the
// line's rule (rounded up to a tenth of a millisecond), then the line's own
// limit: characters back to back (0), CTS still honoured.
QList<double> paceTestPaces(int baudRate);
// "0.1 s", "back to back" for 0; and as a pace of characters: "0.1 s per
// character", "characters back to back".
QString paceText(double pace);
QString paceOfCharacters(double pace);

// What was asked for: nothing (the port's pace or the unit's proven one), a
// pace, the unit's proven pace, or a trial of the pace test.
struct PaceRequest {
    enum class Kind { Default, Pace, Proven, Trial };
    Kind kind = Kind::Default;
    double pace = SurePace; // with Pace and Trial

    static PaceRequest asking(double pace) { return {Kind::Pace, pace}; }
    static PaceRequest proven() { return {Kind::Proven, 0}; }
    static PaceRequest trial(double pace) { return {Kind::Trial, pace}; }
};
// kqmctl's --pace: "0.1", "0.05", "0.02", "0.01", the unit's proven pace as
// a number, or "proven". nullopt, with the paces there are, for anything
// that is no pace at all.
std::optional<PaceRequest> parsePaceRequest(const QString& text, QString* why);
// The --pace usage text.
QString paceUsage();

struct PaceInputs {
    PaceRequest asked;
    std::optional<double> portPace; // the port's own setting (Communication Settings)
    std::optional<double> proven;   // what this unit proved at this baud rate
    bool verify = true;
    int baudRate = 9600;
    QString unit; // "the KQM20 on axis 3 at /dev/ttyUSB0, 9600 baud", for the texts
};

struct PaceDecision {
    double pace = SurePace;
    bool proven = false; // the unit's proven pace
    // The pace asked for is none there is: nothing is sent.
    std::optional<QString> refusal;
    // The pace asked for, the port's or the proven one was not taken: why,
    // and which pace goes instead.
    QString note;
};

// The rule:
// - nothing asked: the faster of the port's pace and the unit's proven one;
// - a pace asked: one of the usual paces, or the one this unit proved;
//   "proven": the unit's proven pace, refused when it has none;
// - faster than the sure pace only with the read-back;
// - a usual pace no faster than the line's rule; where the rule refuses
//   the pace asked for, the fastest pace it allows goes instead, and the
//   note says so. A proven pace was proven on that line and baud rate.
PaceDecision choosePace(const PaceInputs& inputs);

// The port's pace as stored for the port number (the window knows it), or
// for the one whose device is `device` (kqmctl names the device); a stored
// pace that is not a usual one counts as none.
std::optional<double> storedPortPace(files::SettingsTable& settings, std::optional<int> port,
                                     const QString& device);

} // namespace kqm::transfer

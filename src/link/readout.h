#pragma once

#include <QString>

#include <optional>

namespace kqm::link {

class Link;

// Where the readout shows what the unit answers: the parameter labels and
// the four input boxes of the motion tab (or lines of text on the command
// line).
class ReadoutView {
public:
    enum class Label {
        Acceleration,
        BaseSpeed,
        MaxSpeed,
        JogSpeed,
        Direction,
        Steps,
        Position,
        Version,
        Error
    };
    virtual ~ReadoutView() = default;
    virtual void setLabel(Label label, const QString& text) = 0;
    virtual void setInputs(int bits) = 0;
};

// "Version: KQM" with characters 4 and 5 of the reply, ", Revision " and
// characters 8 to 11; missing characters are simply absent.
QString versionText(const QString& reply);
// The input bits of a reply that reads as a whole number 0 to 15.
std::optional<int> inputBits(const QString& reply);
// "Position: " and the reply to the position query, as it arrived.
QString positionText(const QString& reply);
// "Direction: CW"/"Direction: CCW" from the first character, else nullopt.
std::optional<QString> directionText(const QString& reply);

// Asks the unit for its parameters, error code, version and inputs and shows
// each answer as it arrives. False (after the not-connected message) when no
// unit is connected.
// answered, when given, counts the queries that got a reply.
bool runReadout(Link& link, ReadoutView& view, int* answered = nullptr);

} // namespace kqm::link

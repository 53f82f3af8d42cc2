#include "link/readout.h"

#include "link/link.h"

#include <QRegularExpression>

namespace kqm::link {

using Label = ReadoutView::Label;

QString versionText(const QString& reply) {
    return QStringLiteral("Version: KQM") + reply.mid(3, 2) + QStringLiteral(", Revision ") +
           reply.mid(7, 4);
}

std::optional<int> inputBits(const QString& reply) {
    // Blanks and line ends around the number are allowed; nothing else.
    static const QRegularExpression number(QStringLiteral("^\\s*(\\d{1,2})\\s*$"));
    const QRegularExpressionMatch match = number.match(reply);
    if (!match.hasMatch())
        return std::nullopt;
    const int value = match.captured(1).toInt();
    if (value < 0 || value > 15)
        return std::nullopt;
    return value;
}

QString positionText(const QString& reply) {
    return QStringLiteral("Position: ") + reply;
}

std::optional<QString> directionText(const QString& reply) {
    if (reply.startsWith(QLatin1Char('0')))
        return QStringLiteral("Direction: CCW");
    if (reply.startsWith(QLatin1Char('1')))
        return QStringLiteral("Direction: CW");
    return std::nullopt;
}

bool runReadout(Link& link, ReadoutView& view, int* answered) {
    int replies = 0;
    if (!link.state().UnitConnected) {
        link.exchanges().reportNotConnected();
        return false;
    }
    view.setLabel(Label::Acceleration, QStringLiteral("Acceleration: "));
    view.setLabel(Label::BaseSpeed, QStringLiteral("Base Speed: "));
    view.setLabel(Label::MaxSpeed, QStringLiteral("Max Speed: "));
    view.setLabel(Label::JogSpeed, QStringLiteral("Jog Speed: "));
    view.setLabel(Label::Direction, QStringLiteral("Direction: "));
    view.setLabel(Label::Steps, QStringLiteral("Number of Steps to Move: "));
    view.setLabel(Label::Position, QStringLiteral("Position: "));
    view.setLabel(Label::Version, QStringLiteral("Version: KQM  , Revision "));

    const auto query = [&link, &replies](const QString& characters) {
        // Ended (the window closing, an interrupt): nothing more is asked.
        if (link.exchanges().abortRequested())
            return QStringLiteral("False");
        link.writeFrame(characters);
        link.Delay(0.05);
        const QString reply = link.ReadReply();
        if (link.lastReplyArrived())
            ++replies;
        return reply;
    };
    view.setLabel(Label::Acceleration, QStringLiteral("Acceleration: ") + query("VA"));
    view.setLabel(Label::BaseSpeed, QStringLiteral("Base Speed: ") + query("VB"));
    view.setLabel(Label::MaxSpeed, QStringLiteral("Max Speed: ") + query("VM"));
    view.setLabel(Label::JogSpeed, QStringLiteral("Jog Speed: ") + query("VJ"));
    if (const auto direction = directionText(query("V+")))
        view.setLabel(Label::Direction, *direction);
    const QString steps = query("VN");
    view.setLabel(Label::Steps, QStringLiteral("Number of Steps to Move: ") + steps);
    view.setLabel(Label::Error, QStringLiteral("Error Code: ") + query("!"));
    if (link.state().UnitModel == QLatin1String("KQM20"))
        view.setLabel(Label::Position, positionText(query("VZ")));
    else
        view.setLabel(Label::Position, QStringLiteral("Registration Index: ") + steps);
    view.setLabel(Label::Version, versionText(query("$")));
    if (const auto bits = inputBits(query("I")))
        view.setInputs(*bits);
    if (answered)
        *answered = replies;
    return true;
}

} // namespace kqm::link

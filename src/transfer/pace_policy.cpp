#include "transfer/pace_policy.h"

#include "files/settings_table.h"
#include "link/device_port.h"

#include <algorithm>
#include <cmath>

namespace kqm::transfer {

namespace {

// Paces are compared to the tenth of a millisecond they are written in.
bool samePace(double a, double b) {
    return std::abs(a - b) < 5e-5;
}

double characterTime(int baudRate) {
    return 10.0 / (baudRate > 0 ? baudRate : 9600);
}

QString pacesListed() {
    QStringList texts;
    for (const double pace : usualPaces())
        texts << QString::number(pace);
    return texts.join(QStringLiteral(", "));
}

} // namespace

const QList<double>& usualPaces() {
    static const QList<double> paces = {SurePace, 0.05, 0.02, 0.01};
    return paces;
}

bool isUsualPace(double pace) {
    const QList<double>& paces = usualPaces();
    return std::any_of(paces.begin(), paces.end(), [pace](double p) { return samePace(p, pace); });
}

double lineRule(int baudRate) {
    return 2 * characterTime(baudRate);
}

QList<double> pacesFor(int baudRate) {
    QList<double> paces;
    for (const double pace : usualPaces()) {
        if (pace >= SurePace || pace >= lineRule(baudRate))
            paces << pace;
    }
    return paces;
}

QList<double> paceTestPaces(int baudRate) {
    // The line's rule, rounded up to a tenth of a millisecond.
    const double shortest = std::ceil(lineRule(baudRate) * 1e4 - 1e-6) / 1e4;
    QList<double> paces;
    for (const double pace : {0.02, 0.01, 0.005, 0.002}) {
        const double kept = std::max(pace, shortest);
        if (paces.isEmpty() || paces.last() > kept)
            paces << kept;
    }
    paces << 0.0;
    return paces;
}

QString paceText(double pace) {
    return pace > 0 ? QStringLiteral("%1 s").arg(pace) : QStringLiteral("back to back");
}

QString paceOfCharacters(double pace) {
    return pace > 0 ? QStringLiteral("%1 s per character").arg(pace)
                    : QStringLiteral("characters back to back");
}

QString paceUsage() {
    return QStringLiteral("--pace takes %1 (seconds per character) or proven (the pace kqmctl "
                          "pace-test proved for the unit)")
        .arg(pacesListed());
}

std::optional<PaceRequest> parsePaceRequest(const QString& text, QString* why) {
    const QString word = text.trimmed().toLower();
    if (word == QLatin1String("proven"))
        return PaceRequest::proven();
    bool number = false;
    const double pace = word.toDouble(&number);
    // Any other number is checked against the unit's proven pace once the
    // unit has answered.
    if (number && pace >= 0 && pace <= SurePace)
        return PaceRequest::asking(pace);
    *why = QStringLiteral("'%1' is not a pace: %2").arg(text, paceUsage());
    return std::nullopt;
}

PaceDecision choosePace(const PaceInputs& in) {
    using Kind = PaceRequest::Kind;
    PaceDecision decision;
    // A proven pace counts when it is faster than the sure one.
    const bool hasProven = in.proven && *in.proven >= 0 && *in.proven < SurePace;
    const double proven = hasProven ? *in.proven : SurePace;
    double pace = SurePace;
    switch (in.asked.kind) {
    case Kind::Trial:
        // The pace test's own trials: always read back, never kept as proven here.
        decision.pace = in.asked.pace;
        return decision;
    case Kind::Proven:
        if (!hasProven) {
            decision.refusal =
                QStringLiteral("no pace was proven for %1 (kqmctl pace-test or Setup > Find "
                               "Fastest Pace proves one)")
                    .arg(in.unit);
            return decision;
        }
        pace = proven;
        break;
    case Kind::Pace:
        if (hasProven && samePace(in.asked.pace, proven)) {
            pace = proven;
        } else if (isUsualPace(in.asked.pace)) {
            pace = in.asked.pace;
        } else {
            decision.refusal =
                QStringLiteral("%1 s is not a pace a send can use: the paces are %2 s, or the "
                               "one proven for the unit%3")
                    .arg(in.asked.pace)
                    .arg(pacesListed(),
                         hasProven ? QStringLiteral(" (%1)").arg(paceText(proven))
                                   : QStringLiteral(" (none is yet: kqmctl pace-test finds the fastest "
                                                   "one the unit takes)"));
            return decision;
        }
        break;
    case Kind::Default: {
        const double port = in.portPace && isUsualPace(*in.portPace) ? *in.portPace : SurePace;
        pace = std::min(port, proven);
        break;
    }
    }
    decision.proven = hasProven && samePace(pace, proven);
    if (pace < SurePace && !in.verify) {
        if (in.asked.kind != Kind::Default)
            decision.note = QStringLiteral("A pace faster than %1 goes only with the read-back: "
                                           "sending at %1.")
                                .arg(paceText(SurePace));
        decision.pace = SurePace;
        decision.proven = false;
        return decision;
    }
    if (!decision.proven && pace < lineRule(in.baudRate)) {
        // The fastest usual pace the line carries; the sure pace always is one.
        const QList<double> allowed = pacesFor(in.baudRate);
        const double fastest = allowed.isEmpty() ? SurePace : allowed.last();
        decision.note = QStringLiteral("%1 is shorter than twice a character's time at %2 "
                                       "baud; sending at %3.")
                            .arg(paceOfCharacters(pace))
                            .arg(in.baudRate)
                            .arg(paceText(fastest));
        pace = fastest;
    }
    decision.pace = pace;
    return decision;
}

std::optional<double> storedPortPace(files::SettingsTable& settings, std::optional<int> port,
                                     const QString& device) {
    if (!settings.isOpen())
        return std::nullopt;
    for (int n = 1; !port && n <= 4; ++n) {
        if (link::portDevice(settings, n) == device)
            port = n;
    }
    if (!port)
        return std::nullopt;
    const auto pace = settings.sendPace(*port);
    return pace && isUsualPace(*pace) ? pace : std::nullopt;
}

} // namespace kqm::transfer

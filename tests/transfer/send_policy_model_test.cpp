#include "line_fixture.h"
#include "program/command_set.h"
#include "transfer/pace_policy.h"
#include "transfer/send_request.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>

using namespace kqm;
using transfer::PaceRequest;
using Why = transfer::SendRefusal::Why;

namespace {

// The pace rule written out again from the README, without the product's
// helpers, so that both have to agree on every input.
const QList<double> Usual = {0.1, 0.05, 0.02, 0.01};
const double Sure = 0.1;

double modelLineRule(int baud) {
    return 2.0 * 10.0 / baud;
}

QList<double> modelCarried(int baud) {
    QList<double> carried;
    for (double pace : Usual)
        if (pace == Sure || pace >= modelLineRule(baud))
            carried << pace;
    return carried;
}

struct Expected {
    bool refused = false;
    bool namesPaces = false; // a pace that is none there is
    double pace = Sure;
    bool proven = false;
    bool flagKnown = true;        // a trial, or a tie, says nothing of the proven flag
    bool unsure = false;          // a tie where even the pace is open
    bool lineRuleChanged = false; // the note must say so
};

Expected model(const transfer::PaceInputs& in) {
    Expected e;
    // A plain value and a flag, not an optional: g++ -O2 cannot follow the
    // optional through the switch and warns.
    const bool hasProven = in.proven && *in.proven >= 0 && *in.proven < Sure;
    const double provenPace = hasProven ? *in.proven : Sure;
    switch (in.asked.kind) {
    case PaceRequest::Kind::Trial:
        e.pace = in.asked.pace;
        e.flagKnown = false;
        return e;
    case PaceRequest::Kind::Default: {
        const double port = in.portPace && Usual.contains(*in.portPace) ? *in.portPace : Sure;
        const double unit = provenPace;
        e.pace = std::min(port, unit);
        e.proven = hasProven && unit < port;
        // The port's pace equal to the proven one: which of them it is, is open;
        // the pace differs only where the line rule would slow a usual pace down.
        e.flagKnown = !(hasProven && unit == port);
        e.unsure = !e.flagKnown && port < modelLineRule(in.baudRate);
        break;
    }
    case PaceRequest::Kind::Pace:
        if (hasProven && std::abs(in.asked.pace - provenPace) <= 0.00005) {
            e.pace = provenPace;
            e.proven = true;
        } else if (Usual.contains(in.asked.pace)) {
            e.pace = in.asked.pace;
        } else {
            e.refused = e.namesPaces = true;
            return e;
        }
        break;
    case PaceRequest::Kind::Proven:
        e.refused = !hasProven;
        e.pace = provenPace;
        e.proven = true;
        if (e.refused)
            return e;
        break;
    }
    if (e.pace < Sure && !in.verify) {
        e = Expected{};
        return e;
    }
    if (!e.proven && e.pace < modelLineRule(in.baudRate)) {
        const double fastest = modelCarried(in.baudRate).last();
        e.lineRuleChanged = fastest != e.pace;
        e.pace = fastest;
    }
    return e;
}

const QList<int> Bauds = {110,  150,  199,  200,  300,  400,  600,   999,  1000,
                          1001, 1200, 2000, 2400, 4800, 9600, 19200, 38400};

double usual(QRandomGenerator& rng) {
    return Usual.at(int(rng.bounded(4)));
}

// A pace no usual pace is near, so a tolerance in the product cannot blur the case.
double oddPace(QRandomGenerator& rng) {
    for (;;) {
        const double pace = rng.bounded(0.2);
        if (std::none_of(Usual.begin(), Usual.end(),
                         [&](double u) { return std::abs(pace - u) < 0.0002; }))
            return rng.bounded(4) ? pace : -pace;
    }
}

PaceRequest anyRequest(QRandomGenerator& rng, std::optional<double> proven) {
    switch (rng.bounded(6)) {
    case 0:
        return {};
    case 1:
        return PaceRequest::proven();
    case 2:
        return PaceRequest::trial(rng.bounded(4) ? rng.bounded(0.1) : 0.0);
    case 3: // the proven pace, as kqmctl's text rounds it
        if (proven && std::abs(*proven - Sure) > 0.001)
            return PaceRequest::asking(*proven + (rng.bounded(0.00008) - 0.00004));
        [[fallthrough]];
    default:
        return PaceRequest::asking(rng.bounded(3) ? usual(rng) : oddPace(rng));
    }
}

void expectPace(const transfer::PaceDecision& got, const Expected& want) {
    EXPECT_EQ(got.refusal.has_value(), want.refused);
    if (want.refused) {
        for (const char* pace : {"0.1", "0.05", "0.02", "0.01"}) {
            if (got.refusal && want.namesPaces) {
                EXPECT_TRUE(got.refusal->contains(QLatin1String(pace)))
                    << got.refusal->toStdString();
            }
        }
    } else if (!want.unsure) {
        EXPECT_DOUBLE_EQ(got.pace, want.pace);
        EXPECT_TRUE(!want.flagKnown || got.proven == want.proven) << got.proven;
        EXPECT_TRUE(!want.lineRuleChanged || !got.note.isEmpty());
    }
}

// Rows whose stored sizes add up to `bytes`, the last one given.
QStringList programOf(QRandomGenerator& rng, int bytes, const QString& last, int lastSize) {
    const QStringList filler = {QStringLiteral("S"), QStringLiteral("A100"), QStringLiteral("W25")};
    const int sizes[] = {2, 3, 5};
    QStringList commands;
    int left = bytes - lastSize;
    for (int k; left >= 8; left -= sizes[k])
        commands << filler.at(k = int(rng.bounded(3)));
    static const QList<QList<int>> rest = {{}, {}, {0}, {1}, {0, 0}, {2}, {1, 1}, {2, 0}};
    for (int k : rest.at(left))
        commands << filler.at(k);
    return commands << last;
}

const QString EmptyText = QStringLiteral("The program is empty.");
const QString TooLargeText = QStringLiteral(
    "The program size exceeds available memory.  The program cannot be sent until total memory "
    "usage is reduced to 2047 bytes or less.");
const QString NoQuitText =
    QStringLiteral("The last command must be a QUIT statement.  Please change and resend");

} // namespace

TEST(SendPolicyModel, ThePaceEverySendGets) {
    const quint32 seed = 20240611;
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    QRandomGenerator rng(seed);
    for (int baud : Bauds) {
        EXPECT_NEAR(transfer::lineRule(baud), modelLineRule(baud), 1e-12) << baud;
        EXPECT_EQ(transfer::pacesFor(baud), modelCarried(baud)) << baud;
    }
    for (int i = 0; i < 4000; ++i) {
        transfer::PaceInputs in;
        in.baudRate = Bauds.at(int(rng.bounded(Bauds.size())));
        in.verify = rng.bounded(3) != 0;
        if (rng.bounded(3))
            in.portPace = rng.bounded(4) ? usual(rng) : oddPace(rng);
        const int k = int(rng.bounded(6));
        const QList<double> edges = {0.0, Sure, 0.15};
        if (k == 1 || k == 2)
            in.proven = k == 1 ? usual(rng) : edges.at(int(rng.bounded(3)));
        else if (k >= 3)
            in.proven = rng.bounded(0.12) - 0.01;
        in.asked = anyRequest(rng, in.proven);
        SCOPED_TRACE(testing::Message()
                     << "case " << i << ": kind " << int(in.asked.kind) << " asked "
                     << in.asked.pace << " port " << in.portPace.value_or(-99) << " proven "
                     << in.proven.value_or(-99) << " verify " << in.verify << " baud "
                     << in.baudRate);
        expectPace(transfer::choosePace(in), model(in));
    }
    // kqmctl's --pace text: "proven", or a number from 0 to 0.1.
    for (int i = 0; i < 500; ++i) {
        const double value = std::round((rng.bounded(0.3) - 0.1) * 1e4) / 1e4;
        const QString text = rng.bounded(8) == 0   ? QStringLiteral("proven")
                             : rng.bounded(8) == 0 ? QStringLiteral("fast")
                                                   : QString::number(value + 0.0, 'f', 4);
        SCOPED_TRACE(text.toStdString());
        QString why;
        const auto got = transfer::parsePaceRequest(text, &why);
        const bool isProven = text == QLatin1String("proven");
        const bool number = !isProven && text != QLatin1String("fast");
        if (isProven || (number && value >= 0 && value <= 0.1)) {
            ASSERT_TRUE(got) << why.toStdString();
            EXPECT_EQ(got->kind, number ? PaceRequest::Kind::Pace : PaceRequest::Kind::Proven);
            EXPECT_TRUE(!number || got->pace == text.toDouble()) << got->pace;
        } else {
            EXPECT_FALSE(got);
            EXPECT_FALSE(why.isEmpty());
        }
    }
}

TEST(SendPolicyModel, TheRefusalsOfASendInOrder) {
    const quint32 seed = 977;
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    QRandomGenerator rng(seed);
    test::LineFixture line;
    for (int i = 0; i < 600; ++i) {
        line.state.UnitConnected = rng.bounded(8) != 0;
        line.state.BaudRate = Bauds.at(int(rng.bounded(Bauds.size())));
        const bool quits = rng.bounded(3) != 0;
        const int bytes = rng.bounded(6) == 0 ? 0
                          : rng.bounded(2)    ? 2044 + int(rng.bounded(7))
                                              : 5 + int(rng.bounded(60));
        const QStringList commands =
            bytes == 0 ? QStringList()
                       : programOf(rng, bytes, quits ? QStringLiteral("Q") : QStringLiteral("A7"),
                                   quits ? 2 : 3);
        int counted = 0;
        for (const QString& command : commands)
            counted += program::knownCommandSize(command).value_or(-10000);
        ASSERT_EQ(counted, bytes);
        transfer::SendChoice choice;
        choice.verify = rng.bounded(3) != 0;
        choice.backup = false;
        choice.backupDirectory = line.dir.filePath(QStringLiteral("backups"));
        choice.pace = anyRequest(rng, std::nullopt);
        SCOPED_TRACE(testing::Message()
                     << "case " << i << ": connected " << line.state.UnitConnected << " bytes "
                     << bytes << " rows " << commands.size() << " quits " << quits << " kind "
                     << int(choice.pace.kind) << " asked " << choice.pace.pace << " verify "
                     << choice.verify << " baud " << line.state.BaudRate);

        transfer::PaceInputs in{choice.pace, {}, {}, choice.verify, line.state.BaudRate, {}};
        const Expected pace = model(in);
        std::optional<Why> why;
        QString text;
        if (!line.state.UnitConnected)
            why = Why::NotConnected;
        else if (commands.isEmpty())
            why = Why::Empty, text = EmptyText;
        else if (bytes > program::UnitMemoryBytes)
            why = Why::TooLarge, text = TooLargeText;
        else if (!quits)
            why = Why::NoQuit, text = NoQuitText;
        else if (pace.refused)
            why = Why::Pace;

        const auto made = transfer::requestSend(
            line.deviceLink,
            transfer::SendProgram::fromRows(test::LineFixture::rows(commands),
                                            QStringLiteral("(model)"), line.state.AxisAddress),
            choice, transfer::SendPlaces{});
        if (why) {
            EXPECT_FALSE(made.request);
            EXPECT_EQ(made.refusal ? int(made.refusal->why) : -1, int(*why));
            EXPECT_TRUE(!made.refusal || text.isEmpty() || made.refusal->text == text)
                << made.refusal->text.toStdString();
        } else if (!made.request) {
            ADD_FAILURE() << "refused: " << (made.refusal ? made.refusal->text.toStdString() : "");
        } else {
            EXPECT_DOUBLE_EQ(made.request->send().pace, pace.pace);
            EXPECT_TRUE(made.request->send().pace >= Sure || made.request->verify());
        }
    }
}

#pragma once

#include "simulator/program_run.h"
#include "simulator/recent_log.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <deque>
#include <memory>

namespace kqm::platform {
class Clock;
}

namespace kqm::simulator {

// A stand-in for a KQM20 or KQM21 indexer at the far end of the serial line.
// It takes the bytes the tool writes, answers queries, stores a sent program
// and moves its position with the clock. Everything time-dependent is worked
// out from the clock when asked, so it runs the same on virtual and real time.
class SimulatedUnit {
public:
    struct StoredCommand {
        QChar letter;
        QList<qint64> operands; // for a loop: count, then address
        bool withGo = false;    // "N" or "P" followed by "G"
        int size = 0;
    };

    // Ways to misbehave, for tests.
    struct Faults {
        bool silent = false;     // answers nothing
        bool ctsFalse = false;   // never ready for a character
        double replyDelay = 0.0; // seconds before a reply starts
        int burstSize = 0;       // split replies into pieces of this size...
        double burstGap = 0.0;   // ...this far apart
        bool corruptMemory = false;
        bool garbage = false;       // replies are noise...
        int garbageAfterFrames = 0; // ...once the unit has seen this many frames
        QByteArray staleOnOpen;     // already waiting when the port opens
        // Reply bytes left before it stops answering mid-reply; -1: no end.
        int replyBudget = -1;
        // The port's transmit buffer never drains: characters reach the unit
        // but the port always reports some still waiting.
        bool transmitStuck = false;
        // A line that never falls silent: noise at this many bytes a second,
        // from the moment the unit has seen this many frames.
        double noiseRate = 0.0;
        int noiseAfterFrames = 0;
        // A receiver that cannot keep up while it stores a program: during
        // program entry, a character that arrives less than this many
        // seconds after the one before it is lost. 0: none lost.
        double slowReceiver = 0.0;
    };

    static constexpr int MemoryBytes = 2047;

    SimulatedUnit(const platform::Clock& clock, QString model = QStringLiteral("KQM20"),
                  int axis = 0);

    // The wire.
    void receive(const QByteArray& bytes);
    QByteArray takeOutput(); // what has reached the host by now
    bool hasScheduledOutput() const { return !m_output.empty() || noiseOn(); }
    double nextOutputTime() const;
    bool ctsHolding() const { return !m_faults.ctsFalse; }

    Faults& faults() { return m_faults; }
    const Faults& faults() const { return m_faults; }

    // The upload request carries no address: it is for the unit whose
    // address the frame before it named. A unit alone on a line starts out
    // as that unit; one that joins a line of others does not.
    bool selected() const { return m_selected; }
    void setSelected(bool selected) { m_selected = selected; }

    // State, for tests and the demo.
    QString model() const { return m_model; }
    void setModel(const QString& model) { m_model = model; }
    int axis() const { return m_axis; }
    void setAxis(int axis) { m_axis = axis; }
    int errorCode() const { return m_errorCode; }
    qint64 acceleration() const { return m_accel; }
    qint64 baseSpeed() const { return m_base; }
    qint64 maxSpeed() const { return m_max; }
    qint64 jogSpeed() const { return m_jog; }
    bool clockwise() const { return m_clockwise; }
    qint64 position() const;
    int outputs() const;
    void setInputs(int inputs);
    bool autostart() const { return m_autostart; }
    // Whether the stored program runs (R0 until Quit, a line it cannot run,
    // or a stop).
    bool running() const;
    // The stored program as a run takes it.
    QList<StoredLine> storedLines() const;
    // What runs the stored program on R0. A unit without one answers a run
    // with error code 3, as for a line it cannot run.
    void setProgramRunner(ProgramRunner runner) { m_runner = std::move(runner); }
    bool moving() const;
    bool inProgramEntry() const { return m_programEntry; }
    const QList<StoredCommand>& program() const { return m_program; }
    int programBytes() const;
    // The frames the unit has seen (the most recent 4 K), addressed to it or
    // not, without the CR; frameCount() counts every one.
    const QList<QByteArray>& frames() const { return m_frames.recent(); }
    qsizetype frameCount() const { return m_frames.count(); }
    QList<QByteArray> framesSince(qsizetype count) const { return m_frames.since(count); }

    QByteArray uploadReply() const;
    QByteArray listingReply() const;

private:
    bool noiseOn() const;
    void handleFrame(const QByteArray& frame);
    void execute(const QByteArray& command);
    void store(const QByteArray& command);
    void reply(const QByteArray& text);
    bool readOperand(const QByteArray& text, qint64* value);
    void settleMotion();
    void startMove(qint64 distance, bool clockwise);
    void startProgram();
    double runTime() const;
    // Takes the state of a run that has ended and come to rest.
    void adoptRun(bool evenIfRunning);
    static QByteArray uploadForm(const StoredCommand& command);

    struct Pending {
        double readyAt;
        QByteArray bytes;
    };

    const platform::Clock& m_clock;
    QString m_model;
    int m_axis = 0;
    Faults m_faults;
    QByteArray m_line;
    double m_lastArrival = -1.0; // for the slow receiver
    bool m_selected = true;
    RecentLog<QByteArray> m_frames{4096};
    std::deque<Pending> m_output;
    double m_noiseSince = -1.0;

    int m_errorCode = 0;
    qint64 m_accel = 16;
    qint64 m_base = 500;
    qint64 m_max = 1500;
    qint64 m_jog = 1500;
    bool m_clockwise = true;
    qint64 m_steps = 0;
    qint64 m_target = 0;
    bool m_targetSet = false;
    int m_outputs = 0;
    int m_inputs = 0;
    bool m_autostart = false;
    // The stored program while it runs; advanced to the clock when asked.
    ProgramRunner m_runner;
    std::unique_ptr<ProgramRun> m_run;
    double m_runStart = 0;
    bool m_programEntry = false;
    QList<StoredCommand> m_program;

    // Motion in progress: from m_position at m_moveStart, m_moveLength steps
    // (negative: without end) in the given direction at the maximum speed.
    double m_position = 0;
    bool m_moving = false;
    double m_moveStart = 0;
    double m_moveLength = 0;
    bool m_moveClockwise = true;
};

} // namespace kqm::simulator

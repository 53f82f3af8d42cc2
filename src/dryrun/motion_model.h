#pragma once

#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <limits>

namespace kqm::dryrun {

// Program time runs on a tick of a microsecond: waits (whole milliseconds)
// add up exactly, a move ends on a tick, and a moment compares equal however
// it was reached (ten waits of 100 ms end at 1 s, where an input change at
// 1 s is seen).
inline constexpr double TicksPerSecond = 1e6;
inline double onTick(double seconds) {
    return std::isfinite(seconds) ? std::round(seconds * TicksPerSecond) / TicksPerSecond : seconds;
}

// The model of one move: it starts at the base speed, ramps at a constant
// acceleration to the maximum speed and ramps down to stop (a trapezoid; a
// triangle when the move is too short to reach the maximum). A slew ramps
// up and runs at the maximum until it is stopped. Times depend on the model;
// where a move ends does not.
struct MotionProfile {
    // Speeds in steps/s, acceleration in steps/s².
    static MotionProfile move(qint64 from, qint64 distance, bool clockwise, double base, double max,
                              double acceleration, double start);
    static MotionProfile slew(qint64 from, bool clockwise, double base, double max,
                              double acceleration, double start);

    // Where the motor is, and how fast it goes, at a time on the run's clock.
    qint64 positionAt(double time) const;
    double speedAt(double time) const;
    // When the move is over: its natural end (on the tick), or the stop that
    // cut it short; infinity for a slew that was not stopped.
    double naturalEnd() const { return onTick(start + duration); }
    double end() const { return std::min(naturalEnd(), cut); }
    bool over(double time) const { return time >= end(); }
    // The signed steps covered after `elapsed` seconds.
    double travelled(double elapsed) const;

    qint64 from = 0;
    qint64 distance = 0; // steps, never negative; -1 for a slew
    bool clockwise = true;
    double start = 0;
    double duration = 0;
    double base = 0;
    double peak = 0; // the highest speed it reaches
    double acceleration = 0;
    double rampTime = 0;                                  // each ramp's length
    double cut = std::numeric_limits<double>::infinity(); // stopped here
};

} // namespace kqm::dryrun

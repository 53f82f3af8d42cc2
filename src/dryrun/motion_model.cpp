#include "dryrun/motion_model.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kqm::dryrun {

namespace {

// A speed of nothing would never arrive: the slowest motion is a step a second.
double usable(double speed) {
    return std::max(speed, 1.0);
}

MotionProfile ramped(qint64 from, qint64 distance, bool clockwise, double base, double max,
                     double acceleration, double start) {
    MotionProfile profile;
    profile.from = from;
    profile.distance = distance;
    profile.clockwise = clockwise;
    profile.start = start;
    profile.base = usable(std::min(base, max));
    profile.peak = usable(std::max(max, profile.base));
    profile.acceleration = acceleration > 0 ? acceleration : 0;
    if (profile.acceleration <= 0 || profile.peak <= profile.base) {
        profile.peak = profile.base;
        return profile;
    }
    profile.rampTime = (profile.peak - profile.base) / profile.acceleration;
    return profile;
}

} // namespace

MotionProfile MotionProfile::move(qint64 from, qint64 distance, bool clockwise, double base,
                                  double max, double acceleration, double start) {
    MotionProfile profile = ramped(from, distance, clockwise, base, max, acceleration, start);
    const double length = static_cast<double>(distance);
    if (distance <= 0)
        return profile;
    if (profile.rampTime <= 0) {
        profile.duration = length / profile.base;
        return profile;
    }
    const double rampLength = (profile.peak + profile.base) / 2 * profile.rampTime;
    if (2 * rampLength >= length) {
        // Too short to reach the maximum: up and straight down again.
        profile.peak = std::sqrt(profile.base * profile.base + profile.acceleration * length);
        profile.rampTime = (profile.peak - profile.base) / profile.acceleration;
        profile.duration = 2 * profile.rampTime;
    } else {
        profile.duration = 2 * profile.rampTime + (length - 2 * rampLength) / profile.peak;
    }
    return profile;
}

MotionProfile MotionProfile::slew(qint64 from, bool clockwise, double base, double max,
                                  double acceleration, double start) {
    MotionProfile profile = ramped(from, -1, clockwise, base, max, acceleration, start);
    profile.duration = std::numeric_limits<double>::infinity();
    return profile;
}

double MotionProfile::travelled(double elapsed) const {
    if (elapsed <= 0)
        return 0;
    const auto ramp = [this](double t) {
        return base * t + acceleration * t * t / 2;
    };
    if (distance >= 0 && elapsed >= duration)
        return static_cast<double>(distance);
    if (elapsed <= rampTime)
        return ramp(elapsed);
    const double upRamp = ramp(rampTime);
    if (distance < 0 || elapsed <= duration - rampTime)
        return upRamp + peak * (elapsed - rampTime);
    return static_cast<double>(distance) - ramp(duration - elapsed);
}

qint64 MotionProfile::positionAt(double time) const {
    time = std::min(time, cut);
    if (distance >= 0 && time >= naturalEnd())
        return clockwise ? from + distance : from - distance;
    const double steps = std::floor(travelled(time - start) + 1e-9);
    const qint64 whole =
        distance >= 0 ? std::min(static_cast<qint64>(steps), distance) : static_cast<qint64>(steps);
    return clockwise ? from + whole : from - whole;
}

double MotionProfile::speedAt(double time) const {
    if (time >= cut)
        return 0;
    const double elapsed = time - start;
    if (elapsed < 0 || (distance >= 0 && time >= naturalEnd()) || distance == 0)
        return 0;
    if (elapsed <= rampTime)
        return base + acceleration * elapsed;
    if (distance < 0 || elapsed <= duration - rampTime)
        return peak;
    return base + acceleration * (duration - elapsed);
}

} // namespace kqm::dryrun

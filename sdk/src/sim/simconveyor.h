// The conveyor under a simulated camera: a belt whose speed follows a
// repeating profile, measured by an encoder in lines (one line per pulse).
#ifndef MVCC_SIMCONVEYOR_H
#define MVCC_SIMCONVEYOR_H

#include <string>
#include <vector>

namespace mvcc {

// One step of a speed profile: the belt holds `rate` (encoder lines per
// second) for `seconds`, or, when ramping, changes linearly from the rate the
// step before ended with to `rate` over `seconds`.
struct ConveyorStep {
    bool ramp = false;
    double rate = 0;
    double seconds = 0;
};

// Parses "5000 for 0.5, ramp to 0 in 0.2, stop for 1, ramp to 5000 in 0.2".
// Returns false with the reason in error.
bool parseConveyorProfile(const std::string &text, std::vector<ConveyorStep> &steps, std::string &error);

// The belt's speed and distance over time. Time runs in seconds from the
// moment the profile starts; the profile repeats when its last step ends (a
// first ramp starts from the rate the last step ends with). Pure.
class Conveyor
{
public:
    Conveyor() = default;
    explicit Conveyor(std::vector<ConveyorStep> steps);

    double speedAt(double t) const;    // encoder lines per second
    double positionAt(double t) const; // encoder lines since time 0
    // The first time the belt has travelled `position` lines; infinity when it
    // never does (a profile that stands still).
    double timeOfPosition(double position) const;

private:
    struct Segment {
        double start = 0; // time within the cycle
        double duration = 0;
        double from = 0, to = 0; // speeds at its start and end
        double distance = 0;     // lines before it within the cycle
    };
    double positionInCycle(double tau) const;

    std::vector<Segment> segments_;
    double period_ = 0;
    double cycleDistance_ = 0;
};

} // namespace mvcc

#endif // MVCC_SIMCONVEYOR_H

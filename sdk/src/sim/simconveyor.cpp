#include "simconveyor.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <sstream>

namespace mvcc {
namespace {

bool parseNonNegative(const std::string &text, double &out)
{
    char *end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || errno != 0 || *end != '\0' || !std::isfinite(value) || value < 0)
        return false;
    out = value;
    return true;
}

// Distance covered in tau seconds of a segment that starts at speed v0 and
// changes its speed by accel per second.
double travelled(double v0, double accel, double tau)
{
    return v0 * tau + 0.5 * accel * tau * tau;
}

} // namespace

/*
 * Steps are separated by commas: "<rate> for <seconds>", "ramp to <rate> in
 * <seconds>" or "stop for <seconds>"; rates in encoder lines per second. At
 * least one step must take time.
 */
bool parseConveyorProfile(const std::string &text, std::vector<ConveyorStep> &steps, std::string &error)
{
    std::vector<ConveyorStep> parsed;
    double total = 0;
    std::stringstream items(text);
    std::string item;
    while (std::getline(items, item, ',')) {
        std::stringstream words(item);
        std::vector<std::string> w;
        for (std::string word; words >> word;)
            w.push_back(word);
        ConveyorStep step;
        bool ok = false;
        if (w.size() == 3 && w[0] == "stop" && w[1] == "for")
            ok = parseNonNegative(w[2], step.seconds);
        else if (w.size() == 3 && w[1] == "for")
            ok = parseNonNegative(w[0], step.rate) && parseNonNegative(w[2], step.seconds);
        else if (w.size() == 5 && w[0] == "ramp" && w[1] == "to" && w[3] == "in") {
            step.ramp = true;
            ok = parseNonNegative(w[2], step.rate) && parseNonNegative(w[4], step.seconds);
        }
        if (!ok) {
            error = "conveyor step \"" + item
                + "\" is not \"<rate> for <s>\", \"ramp to <rate> in <s>\" or \"stop for <s>\"";
            return false;
        }
        total += step.seconds;
        parsed.push_back(step);
    }
    if (!(total > 0)) {
        error = "the conveyor profile must take some time";
        return false;
    }
    steps = std::move(parsed);
    return true;
}

Conveyor::Conveyor(std::vector<ConveyorStep> steps)
{
    double end = steps.empty() ? 0 : steps.back().rate;
    double time = 0, distance = 0;
    for (const ConveyorStep &step : steps) {
        if (!(step.seconds > 0)) {
            end = step.rate;
            continue;
        }
        Segment segment;
        segment.start = time;
        segment.duration = step.seconds;
        segment.from = step.ramp ? end : step.rate;
        segment.to = step.rate;
        segment.distance = distance;
        segments_.push_back(segment);
        time += step.seconds;
        distance += 0.5 * (segment.from + segment.to) * step.seconds;
        end = step.rate;
    }
    period_ = time;
    cycleDistance_ = distance;
}

double Conveyor::speedAt(double t) const
{
    if (segments_.empty() || t < 0)
        return 0;
    const double tau = std::fmod(t, period_);
    for (const Segment &s : segments_)
        if (tau < s.start + s.duration)
            return s.from + (s.to - s.from) * (tau - s.start) / s.duration;
    return segments_.back().to;
}

double Conveyor::positionInCycle(double tau) const
{
    for (const Segment &s : segments_)
        if (tau < s.start + s.duration)
            return s.distance + travelled(s.from, (s.to - s.from) / s.duration, tau - s.start);
    return cycleDistance_;
}

double Conveyor::positionAt(double t) const
{
    if (segments_.empty() || t <= 0)
        return 0;
    const double cycles = std::floor(t / period_);
    return cycles * cycleDistance_ + positionInCycle(t - cycles * period_);
}

double Conveyor::timeOfPosition(double position) const
{
    if (position <= 0)
        return 0;
    if (!(cycleDistance_ > 0))
        return std::numeric_limits<double>::infinity();
    double cycles = std::floor(position / cycleDistance_);
    double rest = position - cycles * cycleDistance_;
    if (rest <= 0 && cycles > 0) {
        // Reached exactly at a cycle's end: the end of its last moving segment.
        cycles -= 1;
        rest = cycleDistance_;
    }
    for (const Segment &s : segments_) {
        const double covered = 0.5 * (s.from + s.to) * s.duration;
        if (rest > covered || covered <= 0) {
            rest -= covered;
            continue;
        }
        const double accel = (s.to - s.from) / s.duration;
        // The root of travelled(tau) = rest in the form that stays exact
        // for a standing start and for a belt slowing down.
        const double root = std::sqrt(std::max(0.0, s.from * s.from + 2 * accel * rest));
        const double tau = rest > 0 ? 2 * rest / (s.from + root) : 0;
        return cycles * period_ + s.start + std::min(tau, s.duration);
    }
    return (cycles + 1) * period_;
}

} // namespace mvcc

#include "genicamrules.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace mvcc {
namespace genicam {

namespace {

// Older cameras (GenICam naming before the standard settled) call the same
// control by another name; the program only knows the current ones.
struct Fallback {
    const char *name;
    std::vector<std::string> candidates;
};

const std::vector<Fallback> &fallbacks()
{
    static const std::vector<Fallback> table = {
        // Float nodes carry the units the program shows (µs, dB); a raw node
        // counts camera-specific ticks or steps and is only the last resort.
        {"ExposureTime", {"ExposureTime", "ExposureTimeAbs", "ExposureTimeRaw"}},
        {"Gain", {"Gain", "GainAbs", "GainRaw"}},
        {"AcquisitionLineRate", {"AcquisitionLineRate", "AcquisitionLineRateAbs"}},
        {"ResultingLineRate", {"ResultingLineRate", "ResultingLineRateAbs"}},
    };
    return table;
}

struct EnumEntry {
    const char *feature;
    unsigned int value;
    const char *entry;
};

// The library numbers these entries itself (timed exposure and automatics off
// are 0); cameras give the same entries arbitrary integers (one gives "Off"
// the value 1), so writing the library's number as is could pick another mode.
constexpr EnumEntry standardEntries[] = {
    {"ExposureMode", 0, "Timed"}, {"ExposureMode", 1, "TriggerWidth"}, {"ExposureAuto", 0, "Off"},
    {"ExposureAuto", 1, "Once"},  {"ExposureAuto", 2, "Continuous"},   {"GainAuto", 0, "Off"},
    {"GainAuto", 1, "Once"},      {"GainAuto", 2, "Continuous"},
};

constexpr uint64_t ringBudgetBytes = 128ull << 20;
constexpr unsigned int minRingBuffers = 4;
constexpr unsigned int maxRingBuffers = 32;

} // namespace

/*
 * The node names to try for the feature `name`, the name itself first, then
 * the older names of the same control. Any thread.
 */
std::vector<std::string> featureCandidates(const std::string &name)
{
    for (const Fallback &fallback : fallbacks())
        if (name == fallback.name)
            return fallback.candidates;
    return {name};
}

/*
 * A line-scan camera ends a frame early when the object ends: the buffer then
 * holds fewer bytes than its announced height needs, while the height field
 * still says the full height. Returns the whole lines among receivedBytes,
 * at most announcedHeight; 0 when lineStride is 0. Any thread.
 */
unsigned int completeLines(uint64_t receivedBytes, uint64_t lineStride, unsigned int announcedHeight)
{
    if (lineStride == 0)
        return 0;
    return static_cast<unsigned int>(std::min<uint64_t>(receivedBytes / lineStride, announcedHeight));
}

/*
 * Frames missing between two frames of one stream whose ids are previousId and
 * id: ids count up by one per frame, so a jump of n means n - 1 lost frames.
 * GigE Vision block ids have 16 bits and skip 0 when they wrap (65535, 1);
 * a wrap is only believed while it hides fewer than 32768 frames. An id that
 * does not follow otherwise (equal, smaller: a restarted camera) counts none.
 * Any thread.
 */
uint64_t framesMissedBetween(uint64_t previousId, uint64_t id)
{
    if (id > previousId)
        return id - previousId - 1;
    constexpr uint64_t lastBlockId = 0xFFFF;
    if (id == 0 || previousId > lastBlockId)
        return 0;
    const uint64_t hidden = (lastBlockId - previousId) + (id - 1);
    return hidden < 0x8000 ? hidden : 0;
}

/*
 * How long a GigE stream keeps an unfinished frame waiting for its packets:
 * at least 2 s, and at least twice one full frame at the camera's rate. A
 * line-scan camera on an encoder sends each line as the belt moves, so a belt
 * that stops holds a frame open for as long as it stands. frameSeconds <= 0
 * or not finite (rate unknown) gives the 2 s floor; the result is capped at
 * what the stream's 32-bit setting holds. Any thread.
 */
uint64_t frameRetentionUs(double frameSeconds)
{
    constexpr double floorUs = 2e6;
    constexpr double capUs = 4294967295.0;
    double us = floorUs;
    if (std::isfinite(frameSeconds) && frameSeconds > 0)
        us = std::max(floorUs, 2e6 * frameSeconds);
    return static_cast<uint64_t>(std::min(us, capUs));
}

/*
 * A float node seen as an integer: the value rounded to the nearest integer,
 * the range narrowed to the integers inside it, everything clamped to 64 bits.
 * Any thread.
 */
IntegerView integerView(double value, double min, double max)
{
    const auto clamp = [](double v) -> int64_t {
        // 2^63 is exactly representable; anything at or beyond it saturates.
        constexpr double limit = 9223372036854775808.0;
        if (std::isnan(v))
            return 0;
        if (v >= limit)
            return INT64_MAX;
        if (v <= -limit)
            return INT64_MIN;
        return static_cast<int64_t>(v);
    };
    IntegerView view;
    view.value = clamp(std::round(value));
    view.min = clamp(std::ceil(min));
    view.max = clamp(std::floor(max));
    return view;
}

/*
 * The nearest integer to value for an integer node; false for NaN, infinity
 * and values outside the 64-bit range. Any thread.
 */
bool integerForFloat(double value, int64_t &result)
{
    const double rounded = std::round(value);
    if (!std::isfinite(rounded) || rounded >= 9223372036854775808.0 || rounded < -9223372036854775808.0)
        return false;
    result = static_cast<int64_t>(rounded);
    return true;
}

/*
 * Parses dotted-decimal IPv4 text (as Aravis reports a GigE camera's address)
 * into an address whose most significant byte is the first number. False, with
 * address unchanged, for anything else (IPv6, host names). Any thread.
 */
bool parseIpv4(const std::string &text, uint32_t &address)
{
    in_addr parsed{};
    if (inet_pton(AF_INET, text.c_str(), &parsed) != 1)
        return false;
    address = ntohl(parsed.s_addr);
    return true;
}

/*
 * Parses a MAC address of six colon-separated hex bytes: high gets the first
 * two bytes, low the last four. False, with both unchanged, otherwise.
 * Any thread.
 */
bool parseMac(const std::string &text, uint32_t &high, uint32_t &low)
{
    unsigned int bytes[6];
    char tail = 0;
    if (std::sscanf(text.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%c", &bytes[0], &bytes[1], &bytes[2], &bytes[3],
                    &bytes[4], &bytes[5], &tail)
        != 6)
        return false;
    high = (bytes[0] << 8) | bytes[1];
    low = (bytes[2] << 24) | (bytes[3] << 16) | (bytes[4] << 8) | bytes[5];
    return true;
}

/*
 * The standard entry name that the library value `value` of the enumeration
 * `feature` stands for; null when the feature has no such table or the value
 * no entry (the value then goes to the camera as it is). Any thread.
 */
const char *enumEntryName(const std::string &feature, unsigned int value)
{
    for (const EnumEntry &entry : standardEntries)
        if (feature == entry.feature && value == entry.value)
            return entry.entry;
    return nullptr;
}

/*
 * The library value of the entry named `entry` of the enumeration `feature`;
 * false when that entry is not one of the standard ones. Any thread.
 */
bool enumValueOfEntry(const std::string &feature, const std::string &entry, unsigned int &value)
{
    for (const EnumEntry &known : standardEntries)
        if (feature == known.feature && entry == known.entry) {
            value = known.value;
            return true;
        }
    return false;
}

/*
 * Buffers for the stream ring: as many as fit in 128 MiB, but at least 4 (so
 * the camera can run ahead of one slow fetch) and at most 32. Any thread.
 */
unsigned int ringBufferCount(uint64_t payloadBytes)
{
    if (payloadBytes == 0)
        return minRingBuffers;
    return static_cast<unsigned int>(
        std::clamp<uint64_t>(ringBudgetBytes / payloadBytes, minRingBuffers, maxRingBuffers));
}

} // namespace genicam
} // namespace mvcc

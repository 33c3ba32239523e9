// The rules of the GenICam backend that need no camera: naming fallbacks,
// value conversions between node types, incomplete frames, frame-id gaps and
// device record fields. Free of Aravis so that tests call them directly.
#ifndef MVCC_GENICAMRULES_H
#define MVCC_GENICAMRULES_H

#include <cstdint>
#include <string>
#include <vector>

namespace mvcc {
namespace genicam {

// The node names tried, in order, for a feature the program asks for by name.
std::vector<std::string> featureCandidates(const std::string &name);

// Complete lines in a frame of which receivedBytes arrived, lineStride bytes
// a line, never more than the height the frame announced.
unsigned int completeLines(uint64_t receivedBytes, uint64_t lineStride, unsigned int announcedHeight);

// Frames that never reached the host between two consecutive frame ids of a
// stream (0 when id does not follow previousId), across a 16-bit id wrap.
uint64_t framesMissedBetween(uint64_t previousId, uint64_t id);

// The frame-retention time in µs of a stream whose full frame takes
// frameSeconds (0 when unknown).
uint64_t frameRetentionUs(double frameSeconds);

// An integer value and range read from a float node.
struct IntegerView {
    int64_t value = 0;
    int64_t min = 0;
    int64_t max = 0;
};
IntegerView integerView(double value, double min, double max);

// The integer an integer node gets when the program writes a float, or false
// when the float has no integer value (NaN, infinite, beyond 64 bits).
bool integerForFloat(double value, int64_t &result);

// Dotted IPv4 text to an address held most significant byte first.
bool parseIpv4(const std::string &text, uint32_t &address);

// "aa:bb:cc:dd:ee:ff" to the two halves of a device record's MAC address.
bool parseMac(const std::string &text, uint32_t &high, uint32_t &low);

// Enumerations whose library values stand for standard entry names rather
// than for the camera's own integer values: the entry name of value, or null.
const char *enumEntryName(const std::string &feature, unsigned int value);
// The library value of a standard entry name, or false when there is none.
bool enumValueOfEntry(const std::string &feature, const std::string &entry, unsigned int &value);

// How many payload buffers the stream ring holds for frames of payloadBytes.
unsigned int ringBufferCount(uint64_t payloadBytes);

} // namespace genicam
} // namespace mvcc

#endif // MVCC_GENICAMRULES_H

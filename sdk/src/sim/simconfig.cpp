#include "simconfig.h"

#include "convert.h"
#include "simpixelformat.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <sys/stat.h>

namespace mvcc {
namespace {

std::string trim(const std::string &text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// Cuts a comment off a line: from a ';' or '#' that starts the line or
// follows a blank, so "line_rate = 0   ; as fast as fetched" works while a
// value such as "LS#4" keeps its character.
std::string withoutComment(const std::string &line)
{
    for (std::size_t i = 0; i < line.size(); ++i) {
        if ((line[i] == ';' || line[i] == '#') && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t'))
            return line.substr(0, i);
    }
    return line;
}

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

bool parseUnsigned(const std::string &text, uint64_t max, unsigned int &out)
{
    if (text.empty() || text[0] == '-')
        return false;
    char *end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || value > max)
        return false;
    out = static_cast<unsigned int>(value);
    return true;
}

bool parseFloat(const std::string &text, float &out)
{
    char *end = nullptr;
    errno = 0;
    const float value = std::strtof(text.c_str(), &end);
    if (text.empty() || errno != 0 || *end != '\0')
        return false;
    out = value;
    return true;
}

// A status as written in the file: hexadecimal (0x80000008) or signed decimal.
bool parseStatus(const std::string &text, int &out)
{
    char *end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, 0);
    if (text.empty() || errno != 0 || *end != '\0' || value < INT32_MIN || value > UINT32_MAX)
        return false;
    out = static_cast<int>(static_cast<uint32_t>(value));
    return true;
}

bool parseAddress(const std::string &text, uint32_t &out)
{
    std::stringstream parts(text);
    std::string part;
    uint32_t address = 0;
    int count = 0;
    while (std::getline(parts, part, '.')) {
        unsigned int byte = 0;
        if (++count > 4 || part.empty() || part.find_first_not_of("0123456789") != std::string::npos
            || !parseUnsigned(part, 255, byte))
            return false;
        address = (address << 8) | byte;
    }
    if (count != 4)
        return false;
    out = address;
    return true;
}

const char *formatName(MvGvspPixelType format)
{
    if (isBayerFormat(format))
        return "Bayer";
    return pixelBitsOf(format) >= 16 && format != PixelType_Gvsp_Mono16 && format != simMono14 ? "Color"
                                                                                               : "Mono";
}

struct Section {
    std::string name;
    int line = 0;
    SimCameraConfig camera;
    bool hasModel = false, hasSerial = false, hasAddress = false, hasMaxLineRate = false;
};

// Applies one key; returns an error text or "".
std::string applyKey(Section &section, const std::string &key, const std::string &value)
{
    SimCameraConfig &c = section.camera;
    const std::string k = lower(key);
    auto number = [&](uint64_t max, unsigned int &field) {
        return parseUnsigned(value, max, field) ? std::string()
                                                : "\"" + value + "\" is not a valid number for " + key;
    };
    auto real = [&](float &field) {
        return parseFloat(value, field) ? std::string()
                                        : "\"" + value + "\" is not a valid number for " + key;
    };
    if (k == "transport") {
        const std::string t = lower(value);
        if (t == "gige")
            c.transport = MV_GIGE_DEVICE;
        else if (t == "usb3" || t == "usb")
            c.transport = MV_USB_DEVICE;
        else
            return "transport must be GigE or USB3, not \"" + value + "\"";
        return {};
    }
    if (k == "manufacturer") {
        c.manufacturer = value;
        return {};
    }
    if (k == "model") {
        c.model = value;
        section.hasModel = true;
        return {};
    }
    if (k == "serial") {
        if (value.empty())
            return "serial must not be empty";
        c.serial = value;
        section.hasSerial = true;
        return {};
    }
    if (k == "version") {
        c.version = value;
        return {};
    }
    if (k == "user_name") {
        c.userName = value;
        return {};
    }
    if (k == "address") {
        section.hasAddress = true;
        return parseAddress(value, c.address) ? std::string() : "\"" + value + "\" is not an IPv4 address";
    }
    if (k == "width")
        return number(65536, c.width);
    if (k == "lines_per_frame")
        return number(65536, c.linesPerFrame);
    if (k == "pixel_format")
        return parseSimPixelFormat(value, c.pixelFormat)
            ? std::string()
            : std::string("pixel_format must be ") + simPixelFormatNames() + ", not \"" + value + "\"";
    if (k == "line_rate")
        return number(10000000, c.lineRate);
    if (k == "max_line_rate") {
        section.hasMaxLineRate = true;
        return number(10000000, c.maxLineRate);
    }
    if (k == "object_lines")
        return number(UINT32_MAX / 2, c.objectLines);
    if (k == "gap_lines")
        return number(UINT32_MAX / 2, c.gapLines);
    if (k == "buffer_count")
        return number(1024, c.bufferCount);
    if (k == "exposure_time")
        return real(c.exposureTime);
    if (k == "gain")
        return real(c.gain);
    if (k == "packet_size")
        return number(9000, c.packetSize);
    if (k == "vanish_after_frames")
        return number(UINT32_MAX, c.vanishAfterFrames);
    if (k == "noise")
        return number(64, c.noise);
    if (k == "vignette" || k == "column_gain") {
        float &field = k == "vignette" ? c.vignette : c.columnGain;
        const float limit = k == "vignette" ? 0.9f : 0.5f;
        if (!parseFloat(value, field) || !(field >= 0.0f && field <= limit))
            return key + " must be a number from 0 to " + (k == "vignette" ? "0.9" : "0.5") + ", not \""
                + value + "\"";
        return {};
    }
    if (k == "column_offset")
        return number(64, c.columnOffset);
    if (k == "target") {
        if (lower(value) == "scene") {
            c.target = -1;
            return {};
        }
        unsigned int level = 0;
        if (!parseUnsigned(value, 255, level))
            return "target must be scene or a level from 0 to 255, not \"" + value + "\"";
        c.target = int(level);
        return {};
    }
    if (k == "conveyor") {
        std::string problem;
        return parseConveyorProfile(value, c.conveyor, problem) ? std::string() : problem;
    }
    if (k == "missing_features") {
        std::stringstream list(value);
        std::string item;
        while (std::getline(list, item, ','))
            if (!trim(item).empty())
                c.missingFeatures.insert(trim(item));
        return {};
    }
    if (k.rfind("fault.", 0) == 0 && key.size() > 6) {
        int status = 0;
        if (!parseStatus(value, status))
            return "\"" + value + "\" is not a status for " + key;
        c.faults.push_back({key.substr(6), status});
        return {};
    }
    return "unknown key \"" + key + "\"";
}

// Fills what depends on other keys and checks the camera as a whole.
std::string finish(Section &section, std::size_t index)
{
    SimCameraConfig &c = section.camera;
    if (!section.hasSerial)
        c.serial = section.name;
    if (!section.hasModel)
        c.model = std::string("LS") + std::to_string(c.width) + " " + formatName(c.pixelFormat) + " "
            + (c.transport == MV_GIGE_DEVICE ? "GigE" : "USB3") + " Sim";
    if (!section.hasAddress)
        c.address = (192u << 24) | (168u << 16) | (1u << 8) | static_cast<uint32_t>(10 + index % 200);
    if (!section.hasMaxLineRate)
        c.maxLineRate = std::max(50000u, c.lineRate);
    // The device record has fixed fields; a longer text would be cut there and
    // the camera could then not be found again by its serial.
    const bool gige = c.transport == MV_GIGE_DEVICE;
    const struct {
        const char *key;
        const std::string &text;
        std::size_t field;
    } texts[] = {{"manufacturer", c.manufacturer, gige ? 32u : 64u},
                 {"model", c.model, gige ? 32u : 64u},
                 {"version", c.version, gige ? 32u : 64u},
                 {"serial", c.serial, gige ? 16u : 64u},
                 {"user_name", c.userName, gige ? 16u : 64u}};
    for (const auto &text : texts) {
        if (text.text.size() >= text.field)
            return std::string(text.key) + " \"" + text.text.substr(0, 20)
                + (text.text.size() > 20 ? "...\"" : "\"") + " has " + std::to_string(text.text.size())
                + " characters; a " + (gige ? "GigE" : "USB3") + " device record holds at most "
                + std::to_string(text.field - 1);
    }
    if (c.width == 0 || c.linesPerFrame == 0)
        return "width and lines_per_frame must be at least 1";
    if (lineBytesOf(c.pixelFormat, c.width) * c.linesPerFrame > (uint64_t(1) << 31))
        return "a frame of width x lines_per_frame must stay below 2 GiB";
    if (c.bufferCount == 0)
        return "buffer_count must be at least 1";
    if (c.maxLineRate < 10)
        return "max_line_rate must be at least 10";
    if (c.lineRate != 0 && (c.lineRate < 10 || c.lineRate > c.maxLineRate))
        return "line_rate must be 0 or between 10 and max_line_rate";
    // The 2x2 demosaic expects every frame to start on a red line.
    if (isBayerFormat(c.pixelFormat) && (c.linesPerFrame % 2 != 0 || c.objectLines % 2 != 0))
        return "Bayer formats need an even lines_per_frame and object_lines";
    if (c.width % widthMultipleOf(c.pixelFormat) != 0)
        return "this pixel_format needs a width that is a multiple of "
            + std::to_string(widthMultipleOf(c.pixelFormat));
    if (c.objectLines == 0 && c.gapLines != 0)
        return "gap_lines needs object_lines";
    if (!(c.exposureTime >= 2.0f && c.exposureTime <= 1000.0f))
        return "exposure_time must be between 2 and 1000";
    if (!(c.gain >= 0.0f && c.gain <= 20.0f))
        return "gain must be between 0 and 20";
    if (c.packetSize < 576 || c.packetSize % 4 != 0)
        return "packet_size must be a multiple of 4 between 576 and 9000";
    return {};
}

} // namespace

/*
 * The cameras of a simulator without configuration: a GigE Mono8 camera in
 * object mode and a USB3 RGB8 camera streaming continuously, in that order.
 */
std::vector<SimCameraConfig> defaultSimCameras()
{
    std::vector<SimCameraConfig> cameras;
    std::string error;
    parseSimConfig("[SIM-G4096]\n"
                   "transport = GigE\n"
                   "address = 192.168.1.10\n"
                   "width = 4096\nlines_per_frame = 512\npixel_format = Mono8\n"
                   "line_rate = 10000\nobject_lines = 3000\ngap_lines = 1000\n"
                   "[SIM-U2048]\n"
                   "transport = USB3\n"
                   "width = 2048\nlines_per_frame = 512\npixel_format = RGB8\n"
                   "line_rate = 5000\n",
                   cameras, error);
    return cameras;
}

/*
 * Parses the simulator's INI text: "[name]" starts a camera, "key = value"
 * sets one of its keys, ';' or '#' at the start of a line or after a blank
 * starts a comment. Keys are case-insensitive; sections keep their order.
 * Returns false with a message naming the line of the first error; cameras is
 * only changed on success.
 */
bool parseSimConfig(const std::string &text, std::vector<SimCameraConfig> &cameras, std::string &error)
{
    std::vector<Section> sections;
    std::stringstream input(text);
    std::string raw;
    int lineNumber = 0;
    while (std::getline(input, raw)) {
        ++lineNumber;
        const std::string line = trim(withoutComment(raw));
        if (line.empty())
            continue;
        if (line.front() == '[') {
            if (line.back() != ']' || trim(line.substr(1, line.size() - 2)).empty()) {
                error = "line " + std::to_string(lineNumber) + ": bad section header";
                return false;
            }
            sections.push_back(Section{trim(line.substr(1, line.size() - 2)), lineNumber, {}});
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string::npos) {
            error = "line " + std::to_string(lineNumber) + ": expected key = value";
            return false;
        }
        if (sections.empty()) {
            error = "line " + std::to_string(lineNumber) + ": key outside a [camera] section";
            return false;
        }
        const std::string problem
            = applyKey(sections.back(), trim(line.substr(0, equals)), trim(line.substr(equals + 1)));
        if (!problem.empty()) {
            error = "line " + std::to_string(lineNumber) + ": " + problem;
            return false;
        }
    }
    std::vector<SimCameraConfig> result;
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const std::string problem = finish(sections[i], i);
        if (!problem.empty()) {
            error = "camera [" + sections[i].name + "] (line " + std::to_string(sections[i].line)
                + "): " + problem;
            return false;
        }
        for (const SimCameraConfig &earlier : result)
            if (earlier.serial == sections[i].camera.serial) {
                error = "camera [" + sections[i].name + "]: serial \"" + earlier.serial + "\" used twice";
                return false;
            }
        result.push_back(sections[i].camera);
    }
    cameras = std::move(result);
    error.clear();
    return true;
}

/*
 * Reads and parses the configuration file at path. Refuses, with the reason in
 * error, what is not a readable regular file (a folder, a pipe that might
 * never end) and a file that describes no camera, so that a wrong path is
 * never taken for "no cameras wanted".
 */
bool loadSimConfigFile(const std::string &path, std::vector<SimCameraConfig> &cameras, std::string &error)
{
    struct stat info { };
    if (stat(path.c_str(), &info) != 0) {
        error = std::string("cannot read the file: ") + std::strerror(errno);
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        error = "is a folder, not a file";
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = "is not a regular file";
        return false;
    }
    std::ifstream file(path);
    std::stringstream text;
    if (!file || !(text << file.rdbuf())) {
        if (info.st_size == 0)
            error = "is empty: it describes no camera";
        else
            error = "cannot read the file";
        return false;
    }
    std::vector<SimCameraConfig> parsed;
    if (!parseSimConfig(text.str(), parsed, error))
        return false;
    if (parsed.empty()) {
        error = info.st_size == 0 ? "is empty: it describes no camera"
                                  : "describes no camera: it has no [section]";
        return false;
    }
    cameras = std::move(parsed);
    return true;
}

} // namespace mvcc

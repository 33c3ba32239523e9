// Configuration of the simulated cameras: built-in defaults or an INI text.
#ifndef MVCC_SIMCONFIG_H
#define MVCC_SIMCONFIG_H

#include "MvCameraControl.h"
#include "simconveyor.h"

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace mvcc {

struct SimFault {
    std::string operation;
    int status;
};

struct SimCameraConfig {
    unsigned int transport = MV_GIGE_DEVICE;
    std::string manufacturer = "Corvista Simulated";
    std::string model;
    std::string serial;
    std::string version = "1.0";
    std::string userName;
    uint32_t address = 0; // GigE IPv4, most significant byte first
    unsigned int width = 4096;
    unsigned int linesPerFrame = 512;
    MvGvspPixelType pixelFormat = PixelType_Gvsp_Mono8;
    unsigned int lineRate = 10000; // lines per second; 0 = as fast as fetched
    unsigned int maxLineRate = 50000;
    unsigned int objectLines = 0; // 0 = continuous stream
    unsigned int gapLines = 0;
    unsigned int bufferCount = 8;
    float exposureTime = 20.0f; // microseconds
    float gain = 0.0f;
    unsigned int packetSize = 1500;
    unsigned int vanishAfterFrames = 0; // 0 = never
    unsigned int noise = 0;             // sensor noise, up to this many levels either way; 0 = none
    float vignette = 0.0f;              // share of the light the lens loses at the line's ends
    float columnGain = 0.0f;            // column gains spread over 1 +- this
    unsigned int columnOffset = 0;      // column dark offsets spread over 0..this levels
    int target = -1;                    // level of an even target in view; < 0: the scene
    std::vector<ConveyorStep> conveyor; // empty: the belt runs steadily at the line rate
    std::set<std::string> missingFeatures;
    std::vector<SimFault> faults;
};

// The two cameras present without configuration.
std::vector<SimCameraConfig> defaultSimCameras();

// Parses an INI text (one section per camera, in order). On error returns
// false and describes the first problem (with its line) in error.
bool parseSimConfig(const std::string &text, std::vector<SimCameraConfig> &cameras, std::string &error);

// The same from a file, which must be a regular file describing at least one
// camera. On error returns false with the reason in error.
bool loadSimConfigFile(const std::string &path, std::vector<SimCameraConfig> &cameras, std::string &error);

} // namespace mvcc

#endif // MVCC_SIMCONFIG_H

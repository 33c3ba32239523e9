// What a simulated camera's lens and sensor do to the light of its scene: the
// lens darkens the line towards its ends (vignette) and every column has its
// own dark offset and gain (fixed pattern), as on a real line-scan sensor.
// Also what the camera looks at: its scene, or an even target (a white card,
// a capped lens) as for calibrating a flat field.
#ifndef MVCC_SIMSENSOR_H
#define MVCC_SIMSENSOR_H

#include "MvCameraControl.h"

#include <cstdint>
#include <string>
#include <vector>

namespace mvcc {

struct SimCameraConfig;

class SimSensor
{
public:
    SimSensor(const SimCameraConfig &config);

    // Whether the lens and sensor leave the scene's values as they are.
    bool ideal() const { return response_.empty(); }
    // Lens and sensor response at column x: out = offset + response * in, in
    // levels of an 8-bit sample.
    double response(unsigned int x) const;
    double offset(unsigned int x) const;

    // Makes one rendered line (stamp in its first four pixels) what the sensor
    // reads out: the scene replaced by an even target of `target` (0..255;
    // below 0 the scene stays), then the response applied. The stamp pixels
    // are left alone. Formats with one byte or one 16-bit word a sample; the
    // packed and 4:2:2 formats are left as rendered.
    void apply(int target, unsigned int width, MvGvspPixelType format, unsigned char *line) const;

private:
    std::vector<double> response_; // vignette x column gain; empty when ideal
    std::vector<double> offset_;
};

// Whether a format's samples are bytes (8) or 16-bit words with this many bits; 0 otherwise.
unsigned int sensorSampleBits(MvGvspPixelType format);

} // namespace mvcc

#endif // MVCC_SIMSENSOR_H

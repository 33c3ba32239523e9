#include "simsensor.h"

#include "simconfig.h"
#include "simpixelformat.h"
#include "simscene.h"

#include <algorithm>
#include <cmath>

namespace mvcc {
namespace {

// An even spread over [0, 1) from the serial and the column: the same camera
// always has the same fixed pattern.
double columnRandom(uint32_t seed, unsigned int x, uint32_t salt)
{
    uint32_t h = seed ^ (x * 0x9E3779B1u) ^ salt;
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    h *= 0x846CA68Bu;
    h ^= h >> 16;
    return double(h) / 4294967296.0;
}

unsigned int samplesPerPixel(MvGvspPixelType format)
{
    return format == PixelType_Gvsp_RGB8_Packed || format == PixelType_Gvsp_BGR8_Packed ? 3 : 1;
}

} // namespace

unsigned int sensorSampleBits(MvGvspPixelType format)
{
    switch (format) {
    case PixelType_Gvsp_Mono8:
    case PixelType_Gvsp_RGB8_Packed:
    case PixelType_Gvsp_BGR8_Packed:
    case PixelType_Gvsp_BayerRG8:
    case PixelType_Gvsp_BayerGR8:
    case PixelType_Gvsp_BayerGB8:
    case PixelType_Gvsp_BayerBG8:
        return 8;
    case PixelType_Gvsp_Mono10:
        return 10;
    case PixelType_Gvsp_Mono12:
        return 12;
    case simMono14:
        return 14;
    case PixelType_Gvsp_Mono16:
        return 16;
    default:
        return 0;
    }
}

/*
 * The vignette is a parabola: no loss at the centre of the line, `vignette`
 * of the light lost at its two ends. Each column's gain is spread evenly over
 * 1 +- column_gain, its dark offset over 0..column_offset levels.
 */
SimSensor::SimSensor(const SimCameraConfig &config)
{
    if (config.vignette == 0 && config.columnGain == 0 && config.columnOffset == 0)
        return;
    const uint32_t seed = serialHash(config.serial);
    response_.resize(config.width);
    offset_.resize(config.width);
    for (unsigned int x = 0; x < config.width; ++x) {
        const double u = (2.0 * x + 1.0) / config.width - 1.0;
        const double lens = 1.0 - double(config.vignette) * u * u;
        const double gain = 1.0 + double(config.columnGain) * (2.0 * columnRandom(seed, x, 0x51u) - 1.0);
        response_[x] = lens * gain;
        offset_[x] = std::floor(columnRandom(seed, x, 0xA7u) * (config.columnOffset + 1));
    }
}

double SimSensor::response(unsigned int x) const
{
    return ideal() || x >= response_.size() ? 1.0 : response_[x];
}

double SimSensor::offset(unsigned int x) const
{
    return ideal() || x >= offset_.size() ? 0.0 : offset_[x];
}

/* See the header. Runs on the delivery path for every line: tables, no hashing. */
void SimSensor::apply(int target, unsigned int width, MvGvspPixelType format, unsigned char *line) const
{
    const unsigned int bits = sensorSampleBits(format);
    if (bits == 0 || (ideal() && target < 0))
        return;
    const unsigned int channels = samplesPerPixel(format);
    const double scale = double(1u << (bits - 8));
    const double maxValue = double((1u << bits) - 1);
    for (unsigned int x = std::min(width, 4u); x < width; ++x) {
        const double response = this->response(x);
        const double offset = this->offset(x) * scale;
        for (unsigned int c = 0; c < channels; ++c) {
            const unsigned int i = x * channels + c;
            double in = 0;
            if (target >= 0)
                in = target * scale;
            else
                in = bits == 8 ? line[i] : double(line[2 * i] | (line[2 * i + 1] << 8));
            const double out = std::clamp(std::round(offset + response * in), 0.0, maxValue);
            const unsigned int value = static_cast<unsigned int>(out);
            if (bits == 8) {
                line[i] = static_cast<unsigned char>(value);
            } else {
                line[2 * i] = static_cast<unsigned char>(value);
                line[2 * i + 1] = static_cast<unsigned char>(value >> 8);
            }
        }
    }
}

} // namespace mvcc

#ifndef FLATFIELD_H
#define FLATFIELD_H

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <vector>

#include "MvCameraControl.h"

/*
 * Flat-field correction: per column and channel, the dark level (lens capped)
 * and the white level (an even white target) taken as the mean of many lines,
 * then every later line mapped through out = (raw - dark) * target / (white -
 * dark), clamped to the sample's range. The arithmetic is a fixed-point gain
 * and bias per sample, applied in one plain loop the compiler vectorises, so
 * the grab thread pays about what a copy of the frame costs.
 */

/* What one line of a corrected frame holds: width pixels of channels samples, each bits deep. */
struct FlatFieldLayout {
    int width = 0;
    int channels = 0; // 1 gray, 3 RGB
    int bits = 0;     // 8: one byte a sample; 10 to 16: one little-endian 16-bit word

    bool isValid() const { return width > 0 && (channels == 1 || channels == 3) && bits >= 8 && bits <= 16; }
    int samples() const { return width * channels; }
    bool wide() const { return bits > 8; }
    int maxValue() const { return (1 << bits) - 1; }
    qsizetype lineBytes() const { return qsizetype(samples()) * (wide() ? 2 : 1); }
    bool operator==(const FlatFieldLayout &other) const
    {
        return width == other.width && channels == other.channels && bits == other.bits;
    }
    bool operator!=(const FlatFieldLayout &other) const { return !(*this == other); }
};

// Where the grab thread corrects a frame of this pixel format: in the raw
// frame (Mono8, the 16-bit mono formats, RGB8, BGR8), in the RGB image the
// library made of it (Bayer, packed mono, 4:2:2), or not at all (formats the
// library cannot convert).
enum class FlatFieldStage { None, RawFrame, ConvertedImage };
FlatFieldStage flatFieldStageOf(MvGvspPixelType type);
// The layout a frame of this format and width has where it is corrected.
FlatFieldLayout flatFieldLayoutOf(MvGvspPixelType type, int width);

/* Sums lines sample by sample until it holds the wanted number, then gives their mean. */
class FlatFieldAverager
{
public:
    FlatFieldAverager(const FlatFieldLayout &layout, int wantedLines);

    const FlatFieldLayout &layout() const { return m_layout; }
    int wantedLines() const { return m_wanted; }
    int lines() const { return m_lines; }
    bool complete() const { return m_lines >= m_wanted; }
    // Adds up to the lines still missing from `count` lines, `stride` bytes apart.
    void add(const unsigned char *firstLine, int count, qsizetype stride);
    std::vector<float> mean() const;

private:
    FlatFieldLayout m_layout;
    int m_wanted = 0;
    int m_lines = 0;
    std::vector<std::uint64_t> m_sums;
};

/* A camera's calibration as it is stored: both references and how to use them. */
struct FlatFieldReference {
    quint32 pixelType = 0;
    FlatFieldLayout layout;
    std::vector<float> dark;  // empty until captured; then the correction subtracts nothing
    std::vector<float> white; // empty until captured; nothing can be corrected without it
    QDateTime darkCaptured;
    QDateTime whiteCaptured;
    double target = 0; // 0: the white reference's mean
    bool enabled = false;

    bool hasWhite() const { return !white.empty(); }
    bool isEmpty() const { return dark.empty() && white.empty(); }
};

// The mean of the white reference over the columns that see the light, the
// level a corrected white target comes out at by default. 0 without white.
double whiteReferenceMean(const FlatFieldReference &reference);
// The target the correction maps white to: the chosen one, or the white mean.
double effectiveTarget(const FlatFieldReference &reference);
// Whether white minus dark is too small to trust: under 1/16 of the range.
bool isDeadSample(float dark, float white, int maxValue);

/*
 * The per-sample fixed-point form of a calibration, as the grab thread
 * applies it. Byte samples run in 16-bit lanes, twice as many per vector as
 * 32-bit ones: out = ((in << 6) - offset) * gain >> 16, with gain scaled by
 * 2^10 and offset = 64 * dark less half a step of the output, so the product
 * rounds. 16-bit samples need 32 bits: out = (in * gain + bias) >> 11.
 */
struct FlatFieldCorrection {
    static constexpr int kWideShift = 11;
    static constexpr int kByteInputShift = 6;
    static constexpr int kByteGainShift = 10;

    quint32 pixelType = 0;
    FlatFieldLayout layout;
    std::vector<std::int16_t> byteGain;   // byte samples
    std::vector<std::int16_t> byteOffset; // byte samples
    std::vector<std::uint16_t> wideGain;  // 16-bit samples
    std::vector<std::int32_t> wideBias;   // 16-bit samples
    std::vector<int> deadColumns;         // pixels with a channel left at gain 1
};

FlatFieldCorrection flatFieldCorrection(const FlatFieldReference &reference);
// Corrects one line of correction.layout from `in` into `out`; they may be the same.
void correctFlatFieldLine(const FlatFieldCorrection &correction, const unsigned char *in, unsigned char *out);
void correctFlatFieldLines(const FlatFieldCorrection &correction, const unsigned char *in, unsigned char *out,
                           int lines, qsizetype stride);

// The stored file of a reference, and reading it back. readFlatFieldFile
// returns false with the reason in *problem for anything but a whole file
// this program wrote.
QByteArray flatFieldFileBytes(const FlatFieldReference &reference);
bool readFlatFieldFile(const QByteArray &bytes, FlatFieldReference *reference, QString *problem);
// Why a reference cannot be applied to frames of this format and width; empty when it can.
QString flatFieldMismatch(const FlatFieldReference &reference, quint32 pixelType, int width);
// The file name of a camera's references: model and serial, anything but
// letters, digits, '-' and '.' made '_'.
QString flatFieldFileName(const QString &model, const QString &serial);

#endif // FLATFIELD_H

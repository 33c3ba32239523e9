#include "graywords.h"

#include "framekind.h"
#include "framepool.h"

#include <climits>
#include <cstring>

namespace {

// The raw bytes pixels [0, end) of pixelType take in one stream.
quint64 streamBytes(MvGvspPixelType pixelType, quint64 end)
{
    switch (pixelType) {
    case PixelType_Gvsp_Mono10p:
        return (end * 10 + 7) / 8;
    case PixelType_Gvsp_Mono12p:
    case PixelType_Gvsp_Mono12_Packed:
        return (end * 12 + 7) / 8;
    default:
        return end * 2;
    }
}

// Pixel i of a bit stream of `bits` bits a pixel, least significant bit first.
// A pixel of 10 or 12 bits spans exactly the two bytes read here or ends
// within them, so nothing past its own bits' bytes is read.
quint16 streamPixel(const unsigned char *raw, quint64 i, unsigned int bits)
{
    const quint64 bit = i * bits;
    const quint32 word = raw[bit / 8] | quint32(raw[bit / 8 + 1]) << 8;
    return quint16((word >> (bit % 8)) & ((1u << bits) - 1u));
}

quint16 mono12PackedPixel(const unsigned char *raw, quint64 i)
{
    const unsigned char *pair = raw + 3 * (i / 2);
    return i % 2 == 0 ? quint16(pair[0] << 4 | (pair[1] & 0x0F)) : quint16(pair[2] << 4 | pair[1] >> 4);
}

} // namespace

/* Any thread. */
int deepGrayBits(MvGvspPixelType pixelType)
{
    switch (pixelType) {
    case PixelType_Gvsp_Mono10:
    case PixelType_Gvsp_Mono10p:
        return 10;
    case PixelType_Gvsp_Mono12:
    case PixelType_Gvsp_Mono12p:
    case PixelType_Gvsp_Mono12_Packed:
        return 12;
    case PixelType_Gvsp_Mono16:
        return 16;
    default:
        return 0;
    }
}

/*
 * Writes pixels [firstPixel, firstPixel + count) of a raw frame of a deep gray
 * pixelType to out, one unscaled word each; the frame's pixels are one stream,
 * line after line. Returns false, writing nothing, for another pixel type or
 * when rawLength bytes do not hold those pixels. Any thread.
 */
bool unpackGrayWords(MvGvspPixelType pixelType, const unsigned char *raw, quint64 rawLength,
                     quint64 firstPixel, int count, quint16 *out)
{
    const int bits = deepGrayBits(pixelType);
    if (bits == 0 || !raw || !out || count < 0
        || streamBytes(pixelType, firstPixel + quint64(count)) > rawLength)
        return false;
    switch (pixelType) {
    case PixelType_Gvsp_Mono10p:
    case PixelType_Gvsp_Mono12p:
        for (int k = 0; k < count; ++k)
            out[k] = streamPixel(raw, firstPixel + quint64(k), unsigned(bits));
        return true;
    case PixelType_Gvsp_Mono12_Packed:
        for (int k = 0; k < count; ++k)
            out[k] = mono12PackedPixel(raw, firstPixel + quint64(k));
        return true;
    default:
        // Little-endian words, as this machine keeps them.
        std::memcpy(out, raw + 2 * firstPixel, size_t(count) * 2);
        return true;
    }
}

/*
 * The 16-bit gray image of a raw deep gray frame described by info, its
 * samples unscaled and its bit count carried (withSignificantBits()). A null
 * image for another pixel type, a frame shorter than its pixels, or when
 * memory cannot be had. Grab thread (any thread).
 */
QImage deepGrayImage(const unsigned char *raw, const MV_FRAME_OUT_INFO_EX &info)
{
    const int bits = deepGrayBits(info.enPixelType);
    const unsigned int width = info.nWidth;
    const unsigned int height = info.nHeight;
    if (bits == 0 || !raw || width == 0 || height == 0 || width > unsigned(INT_MAX) / 2
        || height > unsigned(INT_MAX) || quint64(width) * 2 * height > quint64(INT_MAX)
        || streamBytes(info.enPixelType, quint64(width) * height) > info.nFrameLen)
        return QImage();
    QImage image = FramePool::shared().image(int(width), int(height), QImage::Format_Grayscale16);
    if (image.isNull())
        return QImage();
    for (unsigned int y = 0; y < height; ++y)
        unpackGrayWords(info.enPixelType, raw, info.nFrameLen, quint64(y) * width, int(width),
                        reinterpret_cast<quint16 *>(image.scanLine(int(y))));
    return withSignificantBits(image, bits);
}

#include "frameimage.h"

#include "framekind.h"
#include "framepool.h"
#include "graywords.h"

#include <QtGlobal>

#include <climits>
#include <cstring>
#include <new>

namespace {

// QImage addresses its pixels with int byte counts; anything larger cannot be shown.
bool fitsQImage(unsigned int width, unsigned int height, quint64 bytesPerLine)
{
    return width > 0 && height > 0 && width <= unsigned(INT_MAX) && height <= unsigned(INT_MAX)
        && bytesPerLine * height <= quint64(INT_MAX);
}

// QImage lines start on 4-byte boundaries; when 3 x width is such a multiple the
// library can convert straight into the image, saving one copy of every frame.
bool rgbLinesArePacked(unsigned int width)
{
    return (quint64(width) * 3) % 4 == 0;
}

QImage copyLines(const unsigned char *data, unsigned int width, unsigned int height, quint64 bytesPerLine,
                 QImage::Format format)
{
    QImage image = FramePool::shared().image(int(width), int(height), format);
    if (image.isNull())
        return QImage();
    for (unsigned int y = 0; y < height; ++y)
        std::memcpy(image.scanLine(int(y)), data + quint64(y) * bytesPerLine, size_t(bytesPerLine));
    return image;
}

} // namespace

/*
 * Makes room for `size` bytes: keeps the buffer when it is large enough,
 * otherwise replaces it by one of exactly `size` bytes. Returns false, with the
 * buffer empty, when the memory cannot be had. Owner's thread only.
 */
bool ByteBuffer::reserve(quint64 size)
{
    if (size <= m_capacity && m_data)
        return true;
    release();
    if (size > quint64(SIZE_MAX))
        return false;
    m_data.reset(new (std::nothrow) unsigned char[size_t(size)]);
    if (!m_data)
        return false;
    m_capacity = size;
    return true;
}

/* Frees the buffer; its capacity becomes 0. Owner's thread only. */
void ByteBuffer::release()
{
    m_data.reset();
    m_capacity = 0;
}

/*
 * Bytes of a packed 24-bit RGB picture of width x height, computed in 64 bits.
 * Returns 0 when the picture is empty or larger than the library's 32-bit
 * length fields can describe. Any thread.
 */
quint64 packedRgbSize(unsigned int width, unsigned int height)
{
    const quint64 size = quint64(width) * quint64(height) * 3;
    return size <= quint64(UINT_MAX) ? size : 0;
}

/*
 * Whether a frame of this pixel type still has a meaningful picture when the
 * conversion to RGB fails: one byte per pixel, shown as gray. For BayerRG8 that
 * is the sensor's mosaic as it was read out. Any thread.
 */
bool rawFrameShowsAsGray(MvGvspPixelType pixelType)
{
    return pixelType == PixelType_Gvsp_Mono8 || pixelType == PixelType_Gvsp_BayerRG8;
}

/*
 * A deep copy of `data` as a width x height 8-bit gray image whose lines are
 * `width` bytes apart. Returns a null image when `length` holds fewer than
 * width x height bytes, so nothing is read past the data. Any thread.
 */
QImage grayImageFromBytes(const unsigned char *data, quint64 length, unsigned int width, unsigned int height)
{
    if (!data || !fitsQImage(width, height, width) || length < quint64(width) * height)
        return QImage();
    return copyLines(data, width, height, width, QImage::Format_Grayscale8);
}

/*
 * A deep copy of packed 24-bit RGB `data` (lines 3 x width bytes apart) as a
 * width x height RGB888 image. Returns a null image when `length` is too short.
 * Any thread.
 */
QImage rgbImageFromPacked(const unsigned char *data, quint64 length, unsigned int width, unsigned int height)
{
    const quint64 bytesPerLine = quint64(width) * 3;
    if (!data || !fitsQImage(width, height, bytesPerLine) || length < bytesPerLine * height)
        return QImage();
    return copyLines(data, width, height, bytesPerLine, QImage::Format_RGB888);
}

/*
 * The image of one raw frame described by `info` (nWidth, nHeight,
 * enPixelType, nFrameLen bytes at `raw`): converted to RGB888 by the library on
 * `handle`, or, when that fails, the raw bytes as gray for one-byte-per-pixel
 * types (Mono8, BayerRG8) that hold at least width x height bytes. Any other
 * frame gives a null image. `convertBuffer` is scratch space that grows as
 * needed and is reused; the image returned never refers to it nor to `raw`.
 * Thread: the grab thread (any thread that may call the library on `handle`).
 */
QImage frameImage(void *handle, unsigned char *raw, const MV_FRAME_OUT_INFO_EX &info,
                  ByteBuffer &convertBuffer)
{
    const unsigned int width = info.nWidth;
    const unsigned int height = info.nHeight;
    const quint64 rgbSize = packedRgbSize(width, height);
    if (raw && rgbSize > 0 && fitsQImage(width, height, quint64(width) * 3)) {
        QImage direct;
        unsigned char *target = nullptr;
        if (rgbLinesArePacked(width)) {
            direct = FramePool::shared().image(int(width), int(height), QImage::Format_RGB888);
            target = direct.isNull() ? nullptr : direct.bits();
        } else if (convertBuffer.reserve(rgbSize)) {
            target = convertBuffer.data();
        }
        if (target) {
            MV_CC_PIXEL_CONVERT_PARAM param;
            std::memset(&param, 0, sizeof param);
            param.nWidth = width;
            param.nHeight = height;
            param.enSrcPixelType = info.enPixelType;
            param.pSrcData = raw;
            param.nSrcDataLen = info.nFrameLen;
            param.enDstPixelType = PixelType_Gvsp_RGB8_Packed;
            param.pDstBuffer = target;
            param.nDstBufferSize = unsigned(rgbSize);
            if (MV_CC_ConvertPixelType(handle, &param) == MV_OK && param.nDstLen >= rgbSize)
                return direct.isNull() ? rgbImageFromPacked(target, rgbSize, width, height) : direct;
        }
    }
    if (rawFrameShowsAsGray(info.enPixelType))
        return grayImageFromBytes(raw, info.nFrameLen, width, height);
    return QImage();
}

/*
 * Bits per pixel of the stitch feed's image of a frame of pixelType, as
 * stitchFeedImage() makes it when the conversion works: 8 for Mono8, 16 for
 * a deep gray type when the camera's pixels are kept, 24 for everything
 * else. Any thread.
 */
int stitchFeedDepth(MvGvspPixelType pixelType, bool keepCameraPixels)
{
    if (pixelType == PixelType_Gvsp_Mono8)
        return 8;
    return keepCameraPixels && deepGrayBits(pixelType) > 0 ? 16 : 24;
}

/*
 * The image of a frame for the stitch feed, given `shown`, frameImage()'s
 * image of it for the live view, and the raw bytes it came from. A Mono8
 * frame the library converted stays gray: a plain copy of its bytes, marked
 * as standing for its RGB picture (markedAsRgb()), whose channels the
 * library fills with those same bytes; a batch of them takes a third of the
 * memory and still gives the same RGB files. With keepCameraPixels the mark
 * is left off, so the files are gray, and a deep gray frame (deepGrayBits())
 * comes as 16-bit gray with the camera's values (deepGrayImage()). Every
 * other frame, a gray one the library could not convert included, is
 * `shown` itself. A null image when the copy cannot be allocated. Grab
 * thread (any thread).
 */
QImage stitchFeedImage(const QImage &shown, const unsigned char *raw, const MV_FRAME_OUT_INFO_EX &info,
                       bool keepCameraPixels)
{
    if (keepCameraPixels && deepGrayBits(info.enPixelType) > 0)
        return deepGrayImage(raw, info);
    if (info.enPixelType != PixelType_Gvsp_Mono8 || shown.format() != QImage::Format_RGB888)
        return shown;
    const QImage gray = grayImageFromBytes(raw, info.nFrameLen, info.nWidth, info.nHeight);
    return keepCameraPixels ? gray : markedAsRgb(gray);
}

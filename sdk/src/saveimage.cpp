#include "convert.h"

#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QSaveFile>

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

namespace mvcc {
namespace {

// The image type as the caller stored it: any 32-bit value may arrive in the
// enum field, and loading one outside the enum's range is undefined.
unsigned int imageTypeOf(const MV_SAVE_IMG_TO_FILE_PARAM &param)
{
    static_assert(sizeof param.enImageType == sizeof(unsigned int), "image type is 32 bits");
    unsigned int raw = 0;
    std::memcpy(&raw, &param.enImageType, sizeof raw);
    return raw;
}

const char *formatName(unsigned int type)
{
    switch (type) {
    case MV_Image_Bmp:
        return "bmp";
    case MV_Image_Jpeg:
        return "jpeg";
    case MV_Image_Png:
        return "png";
    case MV_Image_Tif:
        return "tiff";
    default:
        return nullptr;
    }
}

/*
 * Qt's PNG writer takes a 0..100 quality and derives the zlib level as
 * (100 - quality) * 9 / 91; this picks the quality that yields level.
 */
int pngQualityForLevel(unsigned int level)
{
    const unsigned int clamped = std::min(level, 9u);
    return 100 - static_cast<int>((clamped * 91 + 8) / 9);
}

} // namespace

/*
 * Encodes a raw frame and writes it to the path in the record. Returns MV_OK,
 * MV_E_PARAMETER (no data, zero size, data shorter than the frame, a line
 * too long to encode, path empty or not zero-terminated, unknown image type), MV_E_SUPPORT (pixel type with
 * the top bit set or not one the library converts; an encoder missing from
 * this Qt installation), MV_E_RESOURCE (no memory for the conversion) or
 * MV_E_WRITEFILE (the file could not be written; an earlier file of that name
 * is left untouched). JPEG quality is clamped to 55..99, the PNG level to
 * 0..9. Reentrant: may run in any thread.
 */
int saveImageToFile(const MV_SAVE_IMG_TO_FILE_PARAM &param)
{
    if (!param.pData || param.nWidth == 0 || param.nHeight == 0)
        return MV_E_PARAMETER;
    if ((param.enPixelType & PixelType_Gvsp_CustomFlag) != 0 || !canConvert(param.enPixelType))
        return MV_E_SUPPORT;
    if (param.nDataLen < frameBytes(param.enPixelType, param.nWidth, param.nHeight))
        return MV_E_PARAMETER;
    const unsigned int imageType = imageTypeOf(param);
    const char *format = formatName(imageType);
    if (!format)
        return MV_E_PARAMETER;
    if (param.pImagePath[0] == '\0' || !std::memchr(param.pImagePath, 0, sizeof param.pImagePath))
        return MV_E_PARAMETER;
    // QImage counts a line's bytes in int: an RGB line of more than 715
    // million pixels cannot be one.
    const bool gray = isGray(param.enPixelType);
    const uint64_t outLineBytes
        = lineBytesOf(gray ? PixelType_Gvsp_Mono8 : PixelType_Gvsp_RGB8_Packed, param.nWidth);
    if (outLineBytes > INT_MAX || param.nHeight > INT_MAX)
        return MV_E_PARAMETER;

    const int width = static_cast<int>(param.nWidth);
    const int height = static_cast<int>(param.nHeight);
    const int bytesPerLine = static_cast<int>(outLineBytes);
    std::vector<unsigned char> converted;
    QImage image;
    if (param.enPixelType == PixelType_Gvsp_Mono8) {
        image = QImage(param.pData, width, height, bytesPerLine, QImage::Format_Grayscale8);
    } else if (param.enPixelType == PixelType_Gvsp_RGB8_Packed) {
        image = QImage(param.pData, width, height, bytesPerLine, QImage::Format_RGB888);
    } else {
        try {
            converted.resize(static_cast<std::size_t>(outLineBytes) * param.nHeight);
        } catch (const std::bad_alloc &) {
            return MV_E_RESOURCE;
        }
        if (gray) {
            grayToGray8(param.enPixelType, param.pData, converted.data(),
                        static_cast<std::size_t>(param.nWidth) * param.nHeight);
            image = QImage(converted.data(), width, height, bytesPerLine, QImage::Format_Grayscale8);
        } else {
            convertToRgb8(param.enPixelType, param.pData, converted.data(), param.nWidth, param.nHeight);
            image = QImage(converted.data(), width, height, bytesPerLine, QImage::Format_RGB888);
        }
    }
    if (image.isNull())
        return MV_E_RESOURCE;

    // QSaveFile: a failed write never leaves a truncated picture behind.
    QSaveFile file(QFile::decodeName(param.pImagePath));
    if (!file.open(QIODevice::WriteOnly))
        return MV_E_WRITEFILE;
    QImageWriter writer(&file, format);
    if (imageType == MV_Image_Jpeg)
        writer.setQuality(static_cast<int>(std::clamp(param.nQuality, 55u, 99u)));
    else if (imageType == MV_Image_Png)
        writer.setQuality(pngQualityForLevel(param.nQuality));
    if (!writer.write(image)) {
        file.cancelWriting();
        return writer.error() == QImageWriter::UnsupportedFormatError ? MV_E_SUPPORT : MV_E_WRITEFILE;
    }
    return file.commit() ? MV_OK : MV_E_WRITEFILE;
}

} // namespace mvcc

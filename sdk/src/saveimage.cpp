#include "convert.h"
#include "durablefile.h"

#include <QFile>
#include <QImage>
#include <QImageWriter>

#include <algorithm>
#include <cerrno>
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

/*
 * Encodes image into a file that appears at param's path whole or not at
 * all (the next free "_2", "_3", ... name when that one is taken), and
 * writes the name used back into param.
 */
int writeFrame(const QImage &image, const char *format, unsigned int imageType,
               MV_SAVE_IMG_TO_FILE_PARAM &param, int *systemError)
{
    DurableFile file(QFile::decodeName(param.pImagePath));
    if (!file.open(QIODevice::WriteOnly)) {
        *systemError = file.systemError();
        return MV_E_WRITEFILE;
    }
    QImageWriter writer(&file, format);
    if (imageType == MV_Image_Jpeg)
        writer.setQuality(static_cast<int>(std::clamp(param.nQuality, 55u, 99u)));
    else if (imageType == MV_Image_Png)
        writer.setQuality(pngQualityForLevel(param.nQuality));
    // An encoder may report a failed write as success, or as an unknown
    // error; the device kept the system's reason either way.
    const bool encoded = writer.write(image);
    if (file.systemError() != 0) {
        *systemError = file.systemError();
        return MV_E_WRITEFILE;
    }
    if (!encoded)
        return writer.error() == QImageWriter::UnsupportedFormatError ? MV_E_SUPPORT : MV_E_WRITEFILE;
    if (!file.commit()) {
        *systemError = file.systemError();
        return MV_E_WRITEFILE;
    }
    const QByteArray written = QFile::encodeName(file.committedPath());
    if (written.size() >= int(sizeof param.pImagePath)) {
        // The caller could not be told where the picture went.
        QFile::remove(file.committedPath());
        *systemError = ENAMETOOLONG;
        return MV_E_WRITEFILE;
    }
    std::memcpy(param.pImagePath, written.constData(), std::size_t(written.size()) + 1);
    return MV_OK;
}

} // namespace

/*
 * Encodes a raw frame and writes it to the path in the record. Returns MV_OK,
 * MV_E_PARAMETER (no data, zero size, data shorter than the frame, a line
 * too long to encode, path empty or not zero-terminated, unknown image type),
 * MV_E_SUPPORT (pixel type with the top bit set or not one the library
 * converts; an encoder missing from this Qt installation), MV_E_RESOURCE (no
 * memory for the conversion) or MV_E_WRITEFILE (the file could not be
 * written; systemError receives the errno, or EIO when an encoder failed
 * without one). The file appears whole or not at all and never replaces an
 * existing one: the path in param is rewritten to the name used. JPEG
 * quality is clamped to 55..99, the PNG level to 0..9. Reentrant: may run in
 * any thread.
 */
int saveImageToFile(MV_SAVE_IMG_TO_FILE_PARAM &param, int *systemError)
{
    *systemError = 0;
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

    const int status = writeFrame(image, format, imageType, param, systemError);
    if (status == int(MV_E_WRITEFILE) && *systemError == 0)
        *systemError = EIO;
    return status;
}

} // namespace mvcc

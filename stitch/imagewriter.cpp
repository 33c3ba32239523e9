#include "imagewriter.h"

#include "durablefile.h"
#include "naming.h"
#include "segmentpicture.h"
#include "streamencoder.h"

#include <QFileInfo>
#include <QImageWriter>

#include <vector>

/*
 * Returns path unchanged when it already ends in "." + extension (compared
 * without regard to case); otherwise the folder part, "/", the file name up
 * to its last "." (the whole name when it has none), "." and extension.
 * Pure; any thread.
 */
QString pathWithExtension(const QString &path, const QString &extension)
{
    if (path.endsWith(QLatin1Char('.') + extension, Qt::CaseInsensitive))
        return path;
    const QFileInfo info(path);
    return info.path() + QLatin1Char('/') + info.completeBaseName() + QLatin1Char('.') + extension;
}

/*
 * The value for QImageWriter::setCompression() that makes Qt's PNG encoder
 * use zlib level `level` (0..9). Qt takes compression on a 0..100 scale and
 * hands zlib value * 9 / 91, so passing the level itself would write every
 * level up to 10 uncompressed. Pure.
 */
int pngCompressionSetting(int level)
{
    return (level * 91 + 8) / 9;
}

/*
 * Encodes image into a file in format with Qt's own encoder.
 * JPEG gets the quality jpgQuality clamped to 55..99; PNG gets the zlib
 * compression level pngQuality clamped to 0..9;
 * no other encoder option is set. A path without the format's extension is
 * corrected before writing. The file appears whole or not at all (see
 * DurableFile): when the name is taken, the picture goes to the first free
 * "<name>_2.<ext>", "<name>_3.<ext>", ... and writtenPath, when given,
 * receives the path actually written. Returns true when every byte reached
 * the disk; on failure returns false, leaves no file behind and, when
 * errorText is given, stores the reason: "Empty image." for a null image,
 * the system's reason ("No space left on device", "File too large", ...)
 * when a system call failed, else the image library's own text.
 * Touches no shared state; any thread.
 */
bool writeImageFile(const QString &path, const QImage &image, ImageFormat format, int jpgQuality,
                    int pngQuality, QString *errorText, QString *writtenPath)
{
    const auto failure = [errorText](const QString &reason) {
        if (errorText)
            *errorText = reason;
        return false;
    };
    if (image.isNull())
        return failure(QStringLiteral("Empty image."));

    const QString extension = imageFormatSuffix(format);
    DurableFile file(pathWithExtension(path, extension));
    if (!file.open(QIODevice::WriteOnly))
        return failure(file.errorString());

    QImageWriter writer(&file, extension.toLatin1());
    if (format == ImageFormat::Jpeg)
        writer.setQuality(clampJpegQuality(jpgQuality));
    else if (format == ImageFormat::Png)
        writer.setCompression(pngCompressionSetting(clampPngCompression(pngQuality)));

    // The encoders report a failed write as "Unknown error", or not at all;
    // the device kept the system's reason.
    const bool encoded = writer.write(image);
    if (file.systemError() != 0 || !encoded) {
        const QString reason = file.systemError() != 0 ? file.errorString() : writer.errorString();
        file.abandon();
        return failure(reason);
    }
    if (!file.commit())
        return failure(file.errorString());
    if (writtenPath)
        *writtenPath = file.committedPath();
    return true;
}

/*
 * What writeSegmentFile() holds while it streams a segment of width x height
 * (8-bit gray, 24-bit RGB, or 16-bit gray frames when deep) into a file of
 * format: the strip it composes, the encoder's own buffers and the file's
 * write buffer. 0 when the segment is empty. Pure.
 */
qint64 streamedSegmentBytes(int width, int height, bool gray, ImageFormat format, bool deep)
{
    if (width <= 0 || height <= 0)
        return 0;
    const std::unique_ptr<StreamEncoder> encoder = createStreamEncoder(format, 95, 1);
    const int depth = deep && encoder->maxGrayDepth() >= 16 ? 16 : 8;
    const qsizetype rowBytes = qsizetype(width) * (gray || deep ? depth / 8 : 3);
    const int preferred = format == ImageFormat::Tiff ? tiffStripRows(rowBytes) : stripRowsFor(rowBytes);
    const qsizetype stripBytes = qsizetype(std::min(height, preferred)) * rowBytes;
    // 16-bit frames narrowed to 8 bits pass through a 16-bit band first.
    const qsizetype narrowing = deep && depth == 8 ? 2 * stripBytes : 0;
    return stripBytes + narrowing + streamEncoderBytes(format, rowBytes, stripBytes, depth)
        + descriptorBufferBytes();
}

/*
 * Writes a stitched segment like writeImageFile() writes the same picture
 * composed on a canvas, with the same bytes in the file, the same naming and
 * the same failure reasons, but without the canvas: rows are composed from
 * the frames a strip at a time and fed to a streamed encoder as they come.
 * A 16-bit gray picture goes into a format that holds only 8 bits as the top
 * 8 of its significant bits. Runs on the stitch worker's thread; may throw
 * std::bad_alloc.
 */
bool writeSegmentFile(const QString &path, const SegmentPicture &segment, ImageFormat format, int jpgQuality,
                      int pngQuality, QString *errorText, QString *writtenPath)
{
    const auto failure = [errorText](const QString &reason) {
        if (errorText)
            *errorText = reason;
        return false;
    };
    const std::unique_ptr<StreamEncoder> encoder
        = createStreamEncoder(format, clampJpegQuality(jpgQuality), clampPngCompression(pngQuality));
    SegmentPicture picture = segment;
    if (picture.gray && picture.depth > encoder->maxGrayDepth())
        picture.depth = 8;
    if (picture.width <= 0 || picture.height <= 0)
        return failure(QStringLiteral("Empty image."));

    DurableFile file(pathWithExtension(path, imageFormatSuffix(format)));
    if (!file.open(QIODevice::WriteOnly))
        return failure(file.errorString());

    const qsizetype rowBytes = picture.rowBytes();
    encoder->setChannelsAlike(picture.channelsAlike());
    bool encoded = encoder->begin(&file, picture.width, picture.height, picture.gray, picture.depth,
                                  std::min(picture.depth, picture.significantBits));
    const int preferred = encoder->preferredStripRows();
    const int stripRows = std::min(picture.height, preferred > 0 ? preferred : stripRowsFor(rowBytes));
    std::vector<uchar> strip(size_t(rowBytes) * size_t(stripRows));
    const int strips = (picture.height + stripRows - 1) / stripRows;
    const bool bottomUp = encoder->bottomUp();
    for (int s = 0; encoded && s < strips; ++s) {
        const int first = (bottomUp ? strips - 1 - s : s) * stripRows;
        const int count = std::min(stripRows, picture.height - first);
        // A file stored bottom row first gets its strip laid out that way.
        uchar *top = bottomUp ? strip.data() + qsizetype(count - 1) * rowBytes : strip.data();
        const qsizetype stride = bottomUp ? -rowBytes : rowBytes;
        composeRows(picture, first, count, top, stride);
        encoded = encoder->writeRows(top, stride, count);
    }
    encoded = encoded && encoder->finish();

    if (file.systemError() != 0 || !encoded) {
        const QString reason = file.systemError() != 0 ? file.errorString() : encoder->errorString();
        file.abandon();
        return failure(reason);
    }
    if (!file.commit())
        return failure(file.errorString());
    if (writtenPath)
        *writtenPath = file.committedPath();
    return true;
}

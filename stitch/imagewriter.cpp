#include "imagewriter.h"

#include "naming.h"

#include <QFileInfo>
#include <QImageWriter>

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
 * Encodes image into a file in the named format (see extensionForFormat()).
 * JPEG gets the quality jpgQuality clamped to 55..99; PNG (also the empty
 * format name) gets the zlib compression level pngQuality clamped to 0..9;
 * no other encoder option is set. A path without the format's extension is
 * corrected before writing. Returns true when the file was written; on
 * failure returns false and, when errorText is given, stores the reason
 * ("Empty image." for a null image, else the image library's own text).
 * Touches no shared state; runs on the stitch worker's thread.
 */
bool writeImageFile(const QString &path, const QImage &image, const QString &format, int jpgQuality,
                    int pngQuality, QString *errorText)
{
    if (image.isNull()) {
        if (errorText)
            *errorText = QStringLiteral("Empty image.");
        return false;
    }

    const QString extension = extensionForFormat(format);
    QImageWriter writer(pathWithExtension(path, extension), extension.toLatin1());
    if (extension == QLatin1String("jpg"))
        writer.setQuality(clampJpegQuality(jpgQuality));
    else if (extension == QLatin1String("png"))
        writer.setCompression(pngCompressionSetting(clampPngCompression(pngQuality)));

    if (!writer.write(image)) {
        if (errorText)
            *errorText = writer.errorString();
        return false;
    }
    return true;
}

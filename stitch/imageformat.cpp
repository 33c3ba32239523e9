#include "imageformat.h"

/*
 * The format a name stands for, in any case: "JPG" or "JPEG", "PNG", "TIF"
 * or "TIFF", "BMP". None for anything else, blanks around a name included.
 * Pure; any thread.
 */
std::optional<ImageFormat> imageFormatNamed(const QString &name)
{
    const QString upper = name.toUpper();
    if (upper == QLatin1String("JPG") || upper == QLatin1String("JPEG"))
        return ImageFormat::Jpeg;
    if (upper == QLatin1String("PNG"))
        return ImageFormat::Png;
    if (upper == QLatin1String("TIF") || upper == QLatin1String("TIFF"))
        return ImageFormat::Tiff;
    if (upper == QLatin1String("BMP"))
        return ImageFormat::Bmp;
    return std::nullopt;
}

/*
 * The format of a name kept in the settings file. A file edited by hand may
 * hold anything; an empty or unknown name means BMP, which is also what the
 * settings dialog shows for it, so that the files written are the ones the
 * dialog names. Pure; any thread.
 */
ImageFormat imageFormatFromSetting(const QString &storedName)
{
    return imageFormatNamed(storedName).value_or(ImageFormat::Bmp);
}

/*
 * The name the settings file keeps ("JPG", "PNG", "TIF", "BMP"), also the one
 * messages show. Pure; any thread.
 */
QString imageFormatName(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Jpeg:
        return QStringLiteral("JPG");
    case ImageFormat::Png:
        return QStringLiteral("PNG");
    case ImageFormat::Tiff:
        return QStringLiteral("TIF");
    case ImageFormat::Bmp:
        break;
    }
    return QStringLiteral("BMP");
}

/* The file name extension, without the dot, in lower case. Pure; any thread. */
QString imageFormatSuffix(ImageFormat format)
{
    return imageFormatName(format).toLower();
}

#include "naming.h"

#include <QDir>

#include <algorithm>

/*
 * Keeps a JPEG quality inside 55..99, whatever the settings file holds.
 * Pure; any thread.
 */
int clampJpegQuality(int quality)
{
    return std::clamp(quality, 55, 99);
}

/*
 * Keeps a PNG compression level inside zlib's 0..9. Pure; any thread.
 */
int clampPngCompression(int level)
{
    return std::clamp(level, 0, 9);
}

/*
 * Formats a moment as "yyyyMMdd_hhmmss_zzz" (24-hour clock, milliseconds).
 * Pure; any thread.
 */
QString timestampText(const QDateTime &when)
{
    return when.toString(QStringLiteral("yyyyMMdd_hhmmss_zzz"));
}

/*
 * The local current time as timestampText(); taken once per save call so
 * all segments of that call share it. Any thread.
 */
QString currentTimestampText()
{
    return timestampText(QDateTime::currentDateTime());
}

/*
 * The folder a save writes into: saveDirPath, or the process's current
 * working directory when saveDirPath is empty or exactly ".". Reads the
 * working directory; any thread.
 */
QString resolveOutputFolder(const QString &saveDirPath)
{
    if (saveDirPath.isEmpty() || saveDirPath == QLatin1String("."))
        return QDir::currentPath();
    return saveDirPath;
}

/*
 * The name of a stitch direction in file names: 0 "Left", 1 "Right",
 * 2 "Bottom", 3 "Top", anything else "Unknown". Pure; any thread.
 */
QString directionName(int direction)
{
    switch (direction) {
    case 0:
        return QStringLiteral("Left");
    case 1:
        return QStringLiteral("Right");
    case 2:
        return QStringLiteral("Bottom");
    case 3:
        return QStringLiteral("Top");
    default:
        return QStringLiteral("Unknown");
    }
}

/*
 * A camera reports its model and serial number as it likes; a path separator
 * in either would send the file into a folder that does not exist (or another
 * one), so separators become "_". Everything else is kept as reported.
 */
static QString fileNamePart(QString cameraText)
{
    cameraText.replace(QLatin1Char('/'), QLatin1Char('_'));
    cameraText.replace(QLatin1Char('\\'), QLatin1Char('_'));
    return cameraText;
}

static QString baseWithCamera(const QString &prefix, const QString &cameraModelName,
                              const QString &cameraSerialNumber)
{
    if (cameraModelName.isEmpty() || cameraSerialNumber.isEmpty())
        return prefix;
    return QStringLiteral("%1_%2_%3")
        .arg(prefix, fileNamePart(cameraModelName), fileNamePart(cameraSerialNumber));
}

/*
 * Base name of a batch stitch: "Stitched[_model_serial]_<direction>" and
 * "_Batch" with the batch index padded to three digits when batchIndex > 0.
 * Model and serial are used verbatim and only when both are non-empty.
 * Pure; any thread.
 */
QString batchStitchBaseName(const QString &cameraModelName, const QString &cameraSerialNumber, int direction,
                            int batchIndex)
{
    QString base = baseWithCamera(QStringLiteral("Stitched"), cameraModelName, cameraSerialNumber);
    base += QLatin1Char('_') + directionName(direction);
    if (batchIndex > 0)
        base += QStringLiteral("_Batch%1").arg(batchIndex, 3, 10, QLatin1Char('0'));
    return base;
}

/*
 * Base name of a file-list stitch: "RotatedStitched[_model_serial]".
 * Pure; any thread.
 */
QString fileListStitchBaseName(const QString &cameraModelName, const QString &cameraSerialNumber)
{
    return baseWithCamera(QStringLiteral("RotatedStitched"), cameraModelName, cameraSerialNumber);
}

/*
 * Minimum digits of a segment number: 2 for fewer than 100 segments, else 3.
 * Pure; any thread.
 */
int segmentNumberWidth(int segmentCount)
{
    return segmentCount < 100 ? 2 : 3;
}

static QString segmentFileName(const QString &baseName, const QString &timestamp, const QString &partTag,
                               int segmentNumber, int segmentCount, const QString &extension)
{
    QString name = baseName + QLatin1Char('_') + timestamp;
    if (segmentCount != 1)
        name += partTag
            + QString::number(segmentNumber)
                  .rightJustified(segmentNumberWidth(segmentCount), QLatin1Char('0'));
    return name + QLatin1Char('.') + extension;
}

/*
 * File name of segment segmentNumber (counted from 1) of a batch stitch with
 * segmentCount segments: "<base>_<timestamp>[_SegNN].<extension>", the
 * segment part only when there is more than one segment. Pure; any thread.
 */
QString batchSegmentFileName(const QString &baseName, const QString &timestamp, int segmentNumber,
                             int segmentCount, const QString &extension)
{
    return segmentFileName(baseName, timestamp, QStringLiteral("_Seg"), segmentNumber, segmentCount,
                           extension);
}

/*
 * As batchSegmentFileName() with "_part" instead of "_Seg", for the
 * file-list stitch. Pure; any thread.
 */
QString fileListSegmentFileName(const QString &baseName, const QString &timestamp, int segmentNumber,
                                int segmentCount, const QString &extension)
{
    return segmentFileName(baseName, timestamp, QStringLiteral("_part"), segmentNumber, segmentCount,
                           extension);
}

/*
 * File name of a snapshot of the current raw frame: "Image_<timestamp>.<ext>".
 * Pure; any thread.
 */
QString snapshotFileName(const QString &timestamp, const QString &extension)
{
    return QStringLiteral("Image_%1.%2").arg(timestamp, extension);
}

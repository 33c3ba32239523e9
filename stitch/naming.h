#ifndef NAMING_H
#define NAMING_H

#include <QDateTime>
#include <QString>

/*
 * The output vocabulary shared by every stitched save: the quality limits,
 * the timestamp, the output folder and the file-name patterns.
 */

// One limit for every format: the longest side a stitched picture may have.
constexpr int kMaxStitchDimension = 32768;

int clampJpegQuality(int quality);
int clampPngCompression(int level);

QString timestampText(const QDateTime &when);
QString currentTimestampText();

QString resolveOutputFolder(const QString &saveDirPath);

QString directionName(int direction);

QString batchStitchBaseName(const QString &cameraModelName, const QString &cameraSerialNumber, int direction,
                            int batchIndex);
QString fileListStitchBaseName(const QString &cameraModelName, const QString &cameraSerialNumber);

int segmentNumberWidth(int segmentCount);
QString batchSegmentFileName(const QString &baseName, const QString &timestamp, int segmentNumber,
                             int segmentCount, const QString &extension);
QString fileListSegmentFileName(const QString &baseName, const QString &timestamp, int segmentNumber,
                                int segmentCount, const QString &extension);
QString snapshotFileName(const QString &timestamp, const QString &extension);

#endif // NAMING_H

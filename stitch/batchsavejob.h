#ifndef BATCHSAVEJOB_H
#define BATCHSAVEJOB_H

#include <QImage>
#include <QList>
#include <QMetaType>
#include <QString>

#include "imageformat.h"

// One batch for the stitch worker to write and everything its files need,
// taken as they were when the batch was handed off.
struct BatchSaveJob {
    QList<QImage> frames;
    int turnAngle = 0; // each frame is laid out turned by this (degrees, turnAngleForDirection())
    int direction = 0; // of the layout and the file names: 0 Left, 1 Right, 2 Bottom, 3 Top
    QString folder;    // empty or ".": the working directory
    QString cameraModelName;
    QString cameraSerialNumber;
    int batchIndex = 0; // 0: file names without a batch part
    ImageFormat format = ImageFormat::Jpeg;
    int jpgQuality = 95;
    int pngQuality = 8;
    QString formatName; // as the caller named the format, for messages; empty: imageFormatName()
};
Q_DECLARE_METATYPE(BatchSaveJob)

#endif // BATCHSAVEJOB_H

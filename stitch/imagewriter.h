#ifndef IMAGEWRITER_H
#define IMAGEWRITER_H

#include <QImage>
#include <QString>

#include "imageformat.h"

struct SegmentPicture;

QString pathWithExtension(const QString &path, const QString &extension);
int pngCompressionSetting(int level);

bool writeImageFile(const QString &path, const QImage &image, ImageFormat format, int jpgQuality,
                    int pngQuality, QString *errorText = nullptr, QString *writtenPath = nullptr);

qint64 streamedSegmentBytes(int width, int height, bool gray, ImageFormat format, bool deep = false);

bool writeSegmentFile(const QString &path, const SegmentPicture &picture, ImageFormat format, int jpgQuality,
                      int pngQuality, QString *errorText = nullptr, QString *writtenPath = nullptr);

#endif // IMAGEWRITER_H

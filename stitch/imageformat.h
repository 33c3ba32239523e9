#ifndef IMAGEFORMAT_H
#define IMAGEFORMAT_H

#include <QString>

#include <optional>

// The file format stitched pictures are written in. Read from its name once,
// where the name comes in (the settings file, a command line, a slot called
// by name); from there on only this value travels.
enum class ImageFormat { Bmp, Jpeg, Png, Tiff };

std::optional<ImageFormat> imageFormatNamed(const QString &name);
ImageFormat imageFormatFromSetting(const QString &storedName);
QString imageFormatName(ImageFormat format);
QString imageFormatSuffix(ImageFormat format);

#endif // IMAGEFORMAT_H

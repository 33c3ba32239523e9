#ifndef STREAMENCODER_H
#define STREAMENCODER_H

#include <QString>
#include <QtGlobal>

#include "imageformat.h"

#include <memory>

class QIODevice;

/*
 * An image encoder fed a strip of rows at a time (8-bit gray, 16-bit gray in
 * the machine's byte order where the format holds it, or 24-bit RGB, R, G, B
 * bytes), writing to a device as it goes. JPEG, TIFF and BMP files
 * are byte for byte what Qt's own writer makes of the same picture with the
 * same settings; PNG files have the same chunks, filters and compression
 * level but are deflated in pieces on all cores, by libdeflate. Encoders that store
 * rows bottom first (bottomUp()) take the strips from the last one to the
 * first; within a strip rows are always given top first, though the stride
 * may be negative, so that a strip composed bottom row first in memory can
 * go to such a file without another copy.
 */
class StreamEncoder
{
public:
    virtual ~StreamEncoder();

    // depth: bits of a gray sample, 8 or up to maxGrayDepth(); of those the
    // low significantBits hold the camera's value, which the file notes
    // where its format can.
    virtual bool begin(QIODevice *device, int width, int height, bool gray, int depth = 8,
                       int significantBits = 8)
        = 0;
    virtual int maxGrayDepth() const { return 8; }
    virtual bool writeRows(const uchar *rows, qsizetype stride, int count) = 0;
    virtual bool finish() = 0;
    virtual bool bottomUp() const { return false; }
    // The rows to come are gray widened to RGB, so red and blue may trade
    // places freely. Call it before begin().
    virtual void setChannelsAlike(bool alike) { Q_UNUSED(alike); }
    // Rows per strip the encoder takes best (each strip but the last), once
    // begun; 0 when any count suits it.
    virtual int preferredStripRows() const { return 0; }

    QString errorString() const { return m_error; }

protected:
    bool fail(const QString &text);

private:
    QString m_error;
};

std::unique_ptr<StreamEncoder> createStreamEncoder(ImageFormat format, int jpgQuality, int pngLevel);
qint64 streamEncoderBytes(ImageFormat format, qsizetype rowBytes, qsizetype stripBytes, int depth = 8);
int tiffStripRows(qsizetype rowBytes);

#endif // STREAMENCODER_H

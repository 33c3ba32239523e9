#ifndef FRAMEIMAGE_H
#define FRAMEIMAGE_H

#include <QImage>

#include <memory>

#include "MvCameraControl.h"

/*
 * Turning a raw frame of the camera into the QImage the window shows and
 * stitches. Every image returned owns its pixels, so the caller may reuse the
 * raw and scratch buffers at once.
 */

/* A byte buffer that only grows, reused from frame to frame. */
class ByteBuffer
{
public:
    bool reserve(quint64 size);
    void release();
    unsigned char *data() const { return m_data.get(); }
    quint64 capacity() const { return m_capacity; }

private:
    std::unique_ptr<unsigned char[]> m_data;
    quint64 m_capacity = 0;
};

quint64 packedRgbSize(unsigned int width, unsigned int height);
bool rawFrameShowsAsGray(MvGvspPixelType pixelType);

QImage grayImageFromBytes(const unsigned char *data, quint64 length, unsigned int width, unsigned int height);
QImage rgbImageFromPacked(const unsigned char *data, quint64 length, unsigned int width, unsigned int height);

QImage frameImage(void *handle, unsigned char *raw, const MV_FRAME_OUT_INFO_EX &info,
                  ByteBuffer &convertBuffer);
int stitchFeedDepth(MvGvspPixelType pixelType, bool keepCameraPixels = false);
QImage stitchFeedImage(const QImage &shown, const unsigned char *raw, const MV_FRAME_OUT_INFO_EX &info,
                       bool keepCameraPixels = false);

#endif // FRAMEIMAGE_H

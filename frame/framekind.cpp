#include "framekind.h"

#include <algorithm>

namespace {

// A key of the image's text map, which QImage keeps across shared and deep
// copies and conversions; the value is never shown or written anywhere.
const QString &markKey()
{
    static const QString key = QStringLiteral("corvista.pixels");
    return key;
}

const QString &rgbValue()
{
    static const QString value = QStringLiteral("rgb");
    return value;
}

const QString &bitsKey()
{
    static const QString key = QStringLiteral("corvista.bits");
    return key;
}

} // namespace

/*
 * The 8-bit gray frame, marked as standing for the RGB picture whose three
 * channels all equal its bytes. A frame of another format is returned as it
 * is: only gray can stand for RGB. Any thread.
 */
QImage markedAsRgb(QImage grayFrame)
{
    if (grayFrame.format() == QImage::Format_Grayscale8)
        grayFrame.setText(markKey(), rgbValue());
    return grayFrame;
}

/* Whether frame is a gray frame marked by markedAsRgb(). Any thread. */
bool grayStandsForRgb(const QImage &frame)
{
    return frame.format() == QImage::Format_Grayscale8 && frame.text(markKey()) == rgbValue();
}

/*
 * True for the pixel formats a stitched picture keeps as 8-bit gray:
 * Grayscale8, Mono (most significant bit first) and Indexed8. Pure.
 */
bool isGrayFormat(QImage::Format format)
{
    return format == QImage::Format_Grayscale8 || format == QImage::Format_Mono
        || format == QImage::Format_Indexed8;
}

/*
 * Whether frame, stitched alone, gives a gray file: a gray format
 * (isGrayFormat()) without the RGB mark. Any thread.
 */
bool stitchesAsGray(const QImage &frame)
{
    return isGrayFormat(frame.format()) && !grayStandsForRgb(frame);
}

/*
 * The 16-bit gray frame, carrying that the camera fills its low `bits` bits
 * (clamped to 1..16). A frame of another format is returned as it is. Any
 * thread.
 */
QImage withSignificantBits(QImage frame, int bits)
{
    if (frame.format() == QImage::Format_Grayscale16)
        frame.setText(bitsKey(), QString::number(std::clamp(bits, 1, 16)));
    return frame;
}

/*
 * How many low bits of each sample hold the camera's value: the count carried
 * by withSignificantBits() for 16-bit gray (16 when none is carried), 8 for
 * every other format. Any thread.
 */
int significantBits(const QImage &frame)
{
    if (frame.format() != QImage::Format_Grayscale16)
        return 8;
    bool ok = false;
    const int bits = frame.text(bitsKey()).toInt(&ok);
    return ok && bits >= 1 && bits <= 16 ? bits : 16;
}

#include "framekind.h"

#include "composer.h"

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
 * Whether frame, stitched alone, gives a gray file: a gray format
 * (isGrayFormat()) without the RGB mark. Any thread.
 */
bool stitchesAsGray(const QImage &frame)
{
    return isGrayFormat(frame.format()) && !grayStandsForRgb(frame);
}

#include "plotwidgets.h"

#include "acquisitionhealth.h"

#include <QImage>
#include <QPainter>

#include <cmath>

namespace {

const QColor kChannelColours[3] = {QColor(220, 40, 40), QColor(30, 160, 40), QColor(40, 80, 230)};
const char *const kChannelNames[3] = {"R", "G", "B"};

QColor channelColour(int channels, int c)
{
    return channels == 1 ? QColor(30, 30, 30) : kChannelColours[c];
}

QString channelName(int channels, int c)
{
    return channels == 1 ? QStringLiteral("Gray") : QLatin1String(kChannelNames[c]);
}

// The plot is composed pixel by pixel in an image of its area and drawn in
// one piece: the raster engine's lines and blended rectangles cost a
// millisecond and more a repaint, ten times a second on the window's thread.
QImage blankPlot(const QWidget &w)
{
    QImage canvas(w.rect().adjusted(4, 4, -4, -4).size().expandedTo(QSize(1, 1)), QImage::Format_RGB32);
    canvas.fill(Qt::white);
    return canvas;
}

void showPlot(QWidget &w, const QImage &canvas)
{
    QPainter painter(&w);
    painter.fillRect(w.rect(), w.palette().window());
    painter.drawImage(4, 4, canvas);
    painter.setPen(QColor(200, 200, 200));
    painter.drawRect(QRect(3, 3, canvas.width() + 1, canvas.height() + 1));
}

// Pixels (x, top..bottom) of the canvas take `colour`.
void fillColumn(QImage &canvas, int x, int top, int bottom, QRgb colour)
{
    top = std::max(top, 0);
    bottom = std::min(bottom, canvas.height() - 1);
    for (int y = top; y <= bottom; ++y)
        reinterpret_cast<QRgb *>(canvas.scanLine(y))[x] = colour;
}

} // namespace

// The plots paint every pixel of their own: nothing under them is painted
// again with each of their ten updates a second.
ProfilePlot::ProfilePlot(QWidget *parent) : QWidget(parent)
{
    setMinimumSize(160, 80);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ProfilePlot::setProfile(const LineProfile &profile)
{
    m_profile = profile;
    update();
}

/*
 * Thousands of samples on a few hundred pixels: each pixel column draws the
 * range of the samples it covers, so a single bright or dead pixel still shows.
 */
void ProfilePlot::paintEvent(QPaintEvent *)
{
    QImage canvas = blankPlot(*this);
    const int columns = canvas.width();
    const int bottom = canvas.height() - 1;
    const double top = m_profile.topLevel;
    const auto yOf = [&](float value) { return bottom - int(value / top * bottom); };
    for (int c = 0; c < m_profile.channels; ++c) {
        const QVector<float> &v = m_profile.values[c];
        if (v.isEmpty())
            continue;
        const QRgb colour = channelColour(m_profile.channels, c).rgb();
        int previousLo = 0, previousHi = 0;
        for (int px = 0; px < columns; ++px) {
            const int first = int(qint64(px) * v.size() / columns);
            const int last = std::max(first + 1, int(qint64(px + 1) * v.size() / columns));
            float lo = v[first], hi = v[first];
            for (int i = first + 1; i < last && i < v.size(); ++i) {
                lo = std::min(lo, v[i]);
                hi = std::max(hi, v[i]);
            }
            // The column's range, stretched to meet the column before.
            const int yLo = yOf(lo), yHi = yOf(hi);
            fillColumn(canvas, px, px ? std::min(yHi, previousLo) : yHi, px ? std::max(yLo, previousHi) : yLo,
                       colour);
            previousLo = yLo;
            previousHi = yHi;
        }
    }
    showPlot(*this, canvas);
}

HistogramPlot::HistogramPlot(QWidget *parent) : QWidget(parent)
{
    setMinimumSize(160, 80);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void HistogramPlot::setHistogram(const ImageHistogram &histogram)
{
    m_histogram = histogram;
    update();
}

void HistogramPlot::setLogScale(bool on)
{
    m_logScale = on;
    update();
}

/*
 * Each channel's bars take away the other two colours from the white below,
 * so red, green and blue bars stay apart where they overlap and a gray
 * frame's bars are gray.
 */
void HistogramPlot::paintEvent(QPaintEvent *)
{
    QImage canvas = blankPlot(*this);
    qint64 highest = 1;
    for (int c = 0; c < m_histogram.channels; ++c)
        for (qint64 count : m_histogram.counts[c])
            highest = std::max(highest, count);
    const int bottom = canvas.height() - 1;
    const auto heightOf = [&](qint64 count) {
        if (count <= 0)
            return 0;
        const double share = m_logScale ? std::log1p(double(count)) / std::log1p(double(highest))
                                        : double(count) / double(highest);
        return std::max(1, int(share * bottom));
    };
    for (int c = 0; c < m_histogram.channels; ++c) {
        const QVector<qint64> &counts = m_histogram.counts[c];
        for (int x = 0; x < canvas.width() && !counts.isEmpty(); ++x) {
            const int h = heightOf(counts[int(qint64(x) * counts.size() / canvas.width())]);
            for (int y = bottom - h + 1; y <= bottom; ++y) {
                QRgb &pixel = reinterpret_cast<QRgb *>(canvas.scanLine(y))[x];
                const int r = qRed(pixel), g = qGreen(pixel), b = qBlue(pixel);
                pixel = m_histogram.channels == 1
                    ? qRgb(110, 110, 110)
                    : qRgb(c == 0 ? r : std::max(r - 110, 0), c == 1 ? g : std::max(g - 110, 0),
                           c == 2 ? b : std::max(b - 110, 0));
            }
        }
    }
    showPlot(*this, canvas);
}

QString profileStatisticsText(const LineProfile &profile)
{
    QStringList lines;
    for (int c = 0; c < profile.channels; ++c) {
        const ChannelStatistics &s = profile.stats[c];
        lines << QStringLiteral("%1 min %2 max %3 mean %4 saturated %5")
                     .arg(channelName(profile.channels, c))
                     .arg(s.min)
                     .arg(s.max)
                     .arg(s.mean, 0, 'f', 1)
                     .arg(s.saturated);
    }
    return lines.join(QLatin1Char('\n'));
}

QString histogramStatisticsText(const ImageHistogram &histogram)
{
    QStringList parts;
    for (int c = 0; c < histogram.channels; ++c)
        parts << QStringLiteral("%1 saturated %2 (%3)")
                     .arg(channelName(histogram.channels, c))
                     .arg(histogram.saturated[c])
                     .arg(shareText(histogram.saturated[c], histogram.pixels));
    return parts.join(QLatin1Char('\n'));
}

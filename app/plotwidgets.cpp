#include "plotwidgets.h"

#include "acquisitionhealth.h"

#include <QPainter>
#include <QPainterPath>

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

QRectF plotArea(const QWidget &w)
{
    return QRectF(w.rect()).adjusted(4, 4, -4, -4);
}

} // namespace

ProfilePlot::ProfilePlot(QWidget *parent) : QWidget(parent)
{
    setMinimumSize(160, 80);
    setAutoFillBackground(true);
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
    QPainter painter(this);
    const QRectF area = plotArea(*this);
    painter.fillRect(area, Qt::white);
    painter.setPen(QColor(200, 200, 200));
    painter.drawRect(area);
    const int columns = int(area.width());
    const double top = m_profile.topLevel;
    for (int c = 0; c < m_profile.channels && columns > 0; ++c) {
        const QVector<float> &v = m_profile.values[c];
        if (v.isEmpty())
            continue;
        QPainterPath path;
        const auto yOf = [&](double value) { return area.bottom() - value / top * area.height(); };
        for (int px = 0; px < columns; ++px) {
            const int first = int(qint64(px) * v.size() / columns);
            const int last = std::max(first + 1, int(qint64(px + 1) * v.size() / columns));
            float lo = v[first], hi = v[first];
            for (int i = first + 1; i < last && i < v.size(); ++i) {
                lo = std::min(lo, v[i]);
                hi = std::max(hi, v[i]);
            }
            const double x = area.left() + px + 0.5;
            if (px == 0)
                path.moveTo(x, yOf(hi));
            else
                path.lineTo(x, yOf(hi));
            if (lo != hi)
                path.lineTo(x, yOf(lo));
        }
        painter.setPen(channelColour(m_profile.channels, c));
        painter.drawPath(path);
    }
}

HistogramPlot::HistogramPlot(QWidget *parent) : QWidget(parent)
{
    setMinimumSize(160, 80);
    setAutoFillBackground(true);
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

void HistogramPlot::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRectF area = plotArea(*this);
    painter.fillRect(area, Qt::white);
    painter.setPen(QColor(200, 200, 200));
    painter.drawRect(area);
    qint64 highest = 1;
    for (int c = 0; c < m_histogram.channels; ++c)
        for (qint64 count : m_histogram.counts[c])
            highest = std::max(highest, count);
    const auto heightOf = [&](qint64 count) {
        if (count <= 0)
            return 0.0;
        const double share = m_logScale ? std::log1p(double(count)) / std::log1p(double(highest))
                                        : double(count) / double(highest);
        return share * area.height();
    };
    const double binWidth = area.width() / ImageHistogram::kBins;
    for (int c = 0; c < m_histogram.channels; ++c) {
        QPainterPath path;
        path.moveTo(area.left(), area.bottom());
        for (int b = 0; b < m_histogram.counts[c].size(); ++b) {
            const double y = area.bottom() - heightOf(m_histogram.counts[c][b]);
            path.lineTo(area.left() + b * binWidth, y);
            path.lineTo(area.left() + (b + 1) * binWidth, y);
        }
        path.lineTo(area.right(), area.bottom());
        QColor fill = channelColour(m_histogram.channels, c);
        painter.setPen(fill);
        fill.setAlpha(m_histogram.channels == 1 ? 140 : 70);
        painter.setBrush(fill);
        painter.drawPath(path);
    }
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
    return parts.join(QStringLiteral("  "));
}

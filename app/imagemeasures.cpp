#include "imagemeasures.h"

#include <algorithm>
#include <type_traits>

namespace {

// The formats read directly; anything else is converted to RGB888 first.
QImage readable(const QImage &frame)
{
    switch (frame.format()) {
    case QImage::Format_RGB888:
    case QImage::Format_Grayscale8:
    case QImage::Format_Grayscale16:
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
        return frame;
    default:
        return frame.convertToFormat(QImage::Format_RGB888);
    }
}

int channelsOf(const QImage &frame, bool gray)
{
    const bool grayFormat
        = frame.format() == QImage::Format_Grayscale8 || frame.format() == QImage::Format_Grayscale16;
    return gray || grayFormat ? 1 : 3;
}

int topLevelOf(const QImage &frame)
{
    return frame.format() == QImage::Format_Grayscale16 ? 65535 : 255;
}

// Sample c (0 red or gray, 1 green, 2 blue) of pixel x on a scan line of a
// frame in `format`.
inline int sampleAt(QImage::Format format, const uchar *line, int x, int c)
{
    switch (format) {
    case QImage::Format_Grayscale8:
        return line[x];
    case QImage::Format_Grayscale16:
        return reinterpret_cast<const quint16 *>(line)[x];
    case QImage::Format_RGB888:
        return line[3 * x + c];
    default: {
        const QRgb rgb = reinterpret_cast<const QRgb *>(line)[x];
        return c == 0 ? qRed(rgb) : c == 1 ? qGreen(rgb) : qBlue(rgb);
    }
    }
}

// Calls f(x, y, sample) for sample c of every pixel, row by row. The format
// is chosen once a frame, not once a sample: a frame has millions.
template<typename F>
void forEachSample(const QImage &frame, int c, F f)
{
    const auto rows = [&](auto format) {
        for (int y = 0; y < frame.height(); ++y) {
            const uchar *line = frame.constScanLine(y);
            for (int x = 0; x < frame.width(); ++x)
                f(x, y, sampleAt(format, line, x, c));
        }
    };
    switch (frame.format()) {
    case QImage::Format_Grayscale8:
        rows(std::integral_constant<QImage::Format, QImage::Format_Grayscale8>());
        break;
    case QImage::Format_Grayscale16:
        rows(std::integral_constant<QImage::Format, QImage::Format_Grayscale16>());
        break;
    case QImage::Format_RGB888:
        rows(std::integral_constant<QImage::Format, QImage::Format_RGB888>());
        break;
    default:
        rows(std::integral_constant<QImage::Format, QImage::Format_RGB32>());
        break;
    }
}

void finishStatistics(LineProfile &profile, int c)
{
    const QVector<float> &v = profile.values[c];
    if (v.isEmpty())
        return;
    ChannelStatistics &s = profile.stats[c];
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    s.min = qRound(*lo);
    s.max = qRound(*hi);
    double sum = 0;
    for (float value : v)
        sum += value;
    s.mean = sum / v.size();
}

} // namespace

/*
 * The samples of one line of the frame, with their minimum, maximum, mean and
 * the count at the top level. A line outside the frame gives no channel.
 */
LineProfile rowProfile(const QImage &source, int row, bool gray)
{
    LineProfile profile;
    if (source.isNull() || row < 0 || row >= source.height())
        return profile;
    const QImage frame = readable(source);
    profile.row = row;
    profile.channels = channelsOf(frame, gray);
    profile.topLevel = topLevelOf(frame);
    const uchar *line = frame.constScanLine(row);
    for (int c = 0; c < profile.channels; ++c) {
        QVector<float> &v = profile.values[c];
        v.resize(frame.width());
        qint64 saturated = 0;
        for (int x = 0; x < frame.width(); ++x) {
            const int s = sampleAt(frame.format(), line, x, c);
            v[x] = float(s);
            saturated += s >= profile.topLevel;
        }
        finishStatistics(profile, c);
        profile.stats[c].saturated = saturated;
    }
    return profile;
}

/*
 * Every column's mean over the frame's lines: the illumination along the line
 * without the scene's detail. The minimum and maximum are of the means; the
 * saturated count is of every pixel.
 */
LineProfile meanProfile(const QImage &source, bool gray)
{
    LineProfile profile;
    if (source.isNull())
        return profile;
    const QImage frame = readable(source);
    profile.channels = channelsOf(frame, gray);
    profile.topLevel = topLevelOf(frame);
    QVector<qint64> sums(frame.width());
    for (int c = 0; c < profile.channels; ++c) {
        sums.fill(0);
        qint64 saturated = 0;
        qint64 *sum = sums.data();
        const int topLevel = profile.topLevel;
        forEachSample(frame, c, [&](int x, int, int s) {
            sum[x] += s;
            saturated += s >= topLevel;
        });
        QVector<float> &v = profile.values[c];
        v.resize(frame.width());
        for (int x = 0; x < frame.width(); ++x)
            v[x] = float(double(sums[x]) / frame.height());
        finishStatistics(profile, c);
        profile.stats[c].saturated = saturated;
    }
    return profile;
}

/*
 * Counts of every pixel of the frame in 256 bins per channel (a 16-bit level
 * goes to bin level / 256), and how many sit at the top level.
 */
ImageHistogram imageHistogram(const QImage &source, bool gray)
{
    ImageHistogram histogram;
    if (source.isNull())
        return histogram;
    const QImage frame = readable(source);
    histogram.channels = channelsOf(frame, gray);
    histogram.topLevel = topLevelOf(frame);
    histogram.pixels = qint64(frame.width()) * frame.height();
    const int shift = histogram.topLevel > 255 ? 8 : 0;
    for (int c = 0; c < histogram.channels; ++c) {
        QVector<qint64> &counts = histogram.counts[c];
        counts.fill(0, ImageHistogram::kBins);
        qint64 *count = counts.data();
        qint64 saturated = 0;
        const int topLevel = histogram.topLevel;
        forEachSample(frame, c, [&](int, int, int s) {
            ++count[s >> shift];
            saturated += s >= topLevel;
        });
        histogram.saturated[c] = saturated;
    }
    return histogram;
}

QString pixelReadout(const QImage &frame, QPoint pixel, bool gray)
{
    if (frame.isNull() || !frame.rect().contains(pixel))
        return QString();
    const QImage readableFrame = readable(frame);
    const uchar *line = readableFrame.constScanLine(pixel.y());
    const QImage::Format format = readableFrame.format();
    const QString where = QStringLiteral("x %1  y %2  ").arg(pixel.x()).arg(pixel.y());
    if (channelsOf(readableFrame, gray) == 1)
        return where + QStringLiteral("value %1").arg(sampleAt(format, line, pixel.x(), 0));
    return where
        + QStringLiteral("R %1 G %2 B %3")
              .arg(sampleAt(format, line, pixel.x(), 0))
              .arg(sampleAt(format, line, pixel.x(), 1))
              .arg(sampleAt(format, line, pixel.x(), 2));
}

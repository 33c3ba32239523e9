#include "tilemaker.h"

#include "turnedcopy.h"

#include <QVector>

#include <cmath>

namespace {

bool isGray(QImage::Format format)
{
    return format == QImage::Format_Grayscale8 || format == QImage::Format_Grayscale16
        || format == QImage::Format_Mono || format == QImage::Format_Indexed8;
}

// The tile pixels [first, end) along one axis whose centres fall within
// [from, to) of the scene, and the scene pixel under each, from `origin`.
void centresWithin(double from, double to, double regionStart, double scale, int tilePixels, int origin,
                   int &first, QVector<int> &picked)
{
    picked.clear();
    first = qMax(0, int(std::floor((from - regionStart) * scale)));
    for (int t = first; t < tilePixels; ++t) {
        const double centre = regionStart + (t + 0.5) / scale;
        if (centre < from) {
            first = t + 1;
            continue;
        }
        if (centre >= to)
            break;
        picked.append(int(std::floor(centre)) - origin);
    }
}

} // namespace

QImage renderBatchRegion(const QList<QImage> &frames, const QList<QRect> &places, int turnAngle,
                         const QRect &region, double scale)
{
    if (region.isEmpty() || !(scale > 0) || frames.size() != places.size())
        return QImage();
    scale = std::min(scale, 1.0);
    bool allGray = true;
    for (const QImage &frame : frames)
        allGray = allGray && (frame.isNull() || isGray(frame.format()));
    const QImage::Format format = allGray ? QImage::Format_Grayscale8 : QImage::Format_RGB888;
    const int bpp = allGray ? 1 : 3;
    QImage tile(int(std::ceil(region.width() * scale)), int(std::ceil(region.height() * scale)), format);
    if (tile.isNull())
        return QImage();
    tile.fill(0);
    QVector<int> columns, rows;
    for (int i = 0; i < frames.size(); ++i) {
        const QRect within = places[i].intersected(region);
        if (frames[i].isNull() || within.isEmpty())
            continue;
        int x0 = 0, y0 = 0;
        centresWithin(within.left(), within.left() + within.width(), region.left(), scale, tile.width(),
                      places[i].left(), x0, columns);
        centresWithin(within.top(), within.top() + within.height(), region.top(), scale, tile.height(),
                      places[i].top(), y0, rows);
        if (columns.isEmpty() || rows.isEmpty())
            continue;
        const QImage frame
            = copiesTurnedDirectly(frames[i].format(), bpp) ? frames[i] : frames[i].convertToFormat(format);
        if (frame.isNull())
            return QImage();
        sampleTurned(frame, turnAngle, columns.constData(), columns.size(), rows.constData(), rows.size(),
                     tile.scanLine(y0) + qsizetype(x0) * bpp, tile.bytesPerLine(), bpp);
    }
    // A pixmap of RGB32 shares its pixels: the window's thread converts nothing.
    return tile.convertToFormat(QImage::Format_RGB32);
}

TileMaker::TileMaker(QObject *parent)
    : QObject(parent),
      m_thread(std::chrono::milliseconds(0), [this](BatchTileRequest request) { make(std::move(request)); })
{
    qRegisterMetaType<BatchTile>("BatchTile");
}

TileMaker::~TileMaker() = default;

void TileMaker::request(BatchTileRequest request)
{
    m_thread.offer(std::move(request)); // a replaced request's frames are let go here, outside the lock
}

void TileMaker::cancel()
{
    m_thread.cancel();
}

void TileMaker::make(BatchTileRequest request)
{
    BatchTile tile;
    tile.batch = request.batch;
    tile.region = request.region;
    tile.scale = std::min(request.scale, 1.0);
    tile.picture
        = renderBatchRegion(request.frames, request.places, request.turnAngle, request.region, request.scale);
    request = BatchTileRequest(); // the frames go back before the tile is shown
    QMetaObject::invokeMethod(
        this,
        [this, tile] {
            m_thread.taken();
            emit made(tile);
        },
        Qt::QueuedConnection);
}

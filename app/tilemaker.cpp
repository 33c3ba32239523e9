#include "tilemaker.h"

#include "savethread.h"
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

TileMaker::TileMaker(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<BatchTile>("BatchTile");
    m_thread = std::thread([this] { run(); });
}

TileMaker::~TileMaker()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void TileMaker::request(BatchTileRequest request)
{
    BatchTileRequest replaced;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        replaced = std::move(m_waiting); // its frames are let go outside the lock
        m_waiting = std::move(request);
        m_hasWaiting = true;
    }
    m_wake.notify_all();
}

void TileMaker::cancel()
{
    BatchTileRequest dropped;
    std::lock_guard<std::mutex> lock(m_mutex);
    dropped = std::move(m_waiting);
    m_waiting = BatchTileRequest();
    m_hasWaiting = false;
}

void TileMaker::run()
{
    yieldToAcquisition();
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || (m_hasWaiting && !m_delivering); });
        if (m_stop)
            return;
        BatchTileRequest request = std::move(m_waiting);
        m_waiting = BatchTileRequest();
        m_hasWaiting = false;
        m_delivering = true;
        lock.unlock();
        BatchTile tile;
        tile.batch = request.batch;
        tile.region = request.region;
        tile.scale = std::min(request.scale, 1.0);
        tile.picture = renderBatchRegion(request.frames, request.places, request.turnAngle, request.region,
                                         request.scale);
        request = BatchTileRequest(); // the frames go back before the tile is shown
        QMetaObject::invokeMethod(
            this, [this, tile] { deliver(tile); }, Qt::QueuedConnection);
        lock.lock();
    }
}

void TileMaker::deliver(const BatchTile &tile)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_delivering = false;
    }
    m_wake.notify_all();
    emit made(tile);
}

#ifndef TILEMAKER_H
#define TILEMAKER_H

#include <QImage>
#include <QList>
#include <QObject>
#include <QRect>

#include "newestonlythread.h"

/*
 * The batch view zoomed in past its picture, which is scaled down for large
 * batches: the part on screen is rendered again from the batch's frames at
 * the view's scale (never above full resolution), on a thread of its own.
 * One request waits at most; a newer one (a further zoom or scroll) replaces
 * it, and a tile is not started before the window has taken the last.
 */
struct BatchTileRequest {
    int batch = 0;
    QList<QImage> frames; // as grabbed; only read
    QList<QRect> places;  // of each frame in the scene, turned
    int turnAngle = 0;
    QRect region;     // the scene rectangle to render
    double scale = 1; // screen pixels per scene pixel, at most 1
};

struct BatchTile {
    int batch = 0;
    QRect region;
    double scale = 1;
    QImage picture; // RGB32, null when nothing could be rendered
};

// The part `region` of a batch's scene at `scale` (at most 1): each pixel is
// the frame pixel under its centre, black where no frame lies. Any thread.
QImage renderBatchRegion(const QList<QImage> &frames, const QList<QRect> &places, int turnAngle,
                         const QRect &region, double scale);

class TileMaker : public QObject
{
    Q_OBJECT

public:
    explicit TileMaker(QObject *parent = nullptr);
    ~TileMaker() override;
    void request(BatchTileRequest request);
    // Drops a waiting request; a tile being made is still reported.
    void cancel();

signals:
    void made(const BatchTile &tile);

private:
    void make(BatchTileRequest request);

    NewestOnlyThread<BatchTileRequest> m_thread; // last: it stops before the rest goes
};

#endif // TILEMAKER_H

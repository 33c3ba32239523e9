#ifndef PREVIEWMAKER_H
#define PREVIEWMAKER_H

#include <QImage>
#include <QList>
#include <QObject>

#include <chrono>

#include "newestonlythread.h"
#include "preview.h"

/*
 * Composes the stitch view's picture of a closed batch on a thread of its
 * own, so that the window's thread only shows it. Only the newest batch is
 * ever composed: a batch still waiting when a newer one comes is given up,
 * and the next picture is not started before the window has taken the last
 * one, so pictures never queue up whatever the rate at which batches close.
 * A picture is also begun at most every minimumInterval, which no one can
 * tell from a faster view but which keeps a burst of one-frame batches from
 * spending a core on pictures that are replaced at once.
 *
 * Every batch handed to request() ends once: given back by request() or
 * cancel() when it is superseded or dropped, or reported by composed().
 * Lives in its owner's thread, where request(), cancel() and composed() run.
 */
class PreviewMaker : public QObject
{
    Q_OBJECT

public:
    struct Batch {
        int number = 0;
        QList<QImage> frames;
        int direction = 0;
        int turnAngle = 0;
    };

    explicit PreviewMaker(qint64 maxPixels, std::chrono::milliseconds minimumInterval,
                          QObject *parent = nullptr);
    ~PreviewMaker() override;

    // Returns the number of the waiting batch this one replaces, 0 if none.
    int request(Batch batch);
    // Drops the waiting batch and returns its number, 0 if none. A picture
    // being composed is still reported.
    int cancel();

signals:
    // The picture of batch `number`, ready to be shown (in a format a pixmap
    // takes without converting); null when it could not be composed.
    void composed(int number, const ComposedPreview &preview);

private:
    void compose(Batch batch);

    const qint64 m_maxPixels;
    NewestOnlyThread<Batch> m_thread; // last: it stops before the rest goes
};

#endif // PREVIEWMAKER_H

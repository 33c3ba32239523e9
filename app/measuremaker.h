#ifndef MEASUREMAKER_H
#define MEASUREMAKER_H

#include <QImage>
#include <QObject>

#include <chrono>

#include "imagemeasures.h"
#include "newestonlythread.h"

/*
 * Measures the newest shown frame (line profile and histogram) on a thread of
 * its own, so that the window's thread only paints the results. One frame
 * waits at most: a newer one replaces it. A measurement starts at most every
 * minimumInterval and not before the window has taken the last, so results
 * never queue up whatever the frame rate. Lives in its owner's thread, where
 * request() and measured() run.
 */
class MeasureMaker : public QObject
{
    Q_OBJECT

public:
    struct Request {
        QImage frame;
        int row = 0; // the profile's line; -1: the mean of all lines
        bool gray = false;
    };
    struct Result {
        LineProfile profile;
        ImageHistogram histogram;
        QImage frame; // what was measured
    };

    explicit MeasureMaker(std::chrono::milliseconds minimumInterval, QObject *parent = nullptr);
    ~MeasureMaker() override;

    void request(Request request);

signals:
    void measured(const MeasureMaker::Result &result);

private:
    void measure(Request request);

    NewestOnlyThread<Request> m_thread; // last: it stops before the rest goes
};

#endif // MEASUREMAKER_H

#ifndef MEASUREMAKER_H
#define MEASUREMAKER_H

#include <QImage>
#include <QObject>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "imagemeasures.h"

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
    void run();
    void deliver(const Result &result);

    const std::chrono::milliseconds m_minimumInterval;
    std::mutex m_mutex; /* Protects m_waiting, m_hasWaiting, m_delivering and m_stop */
    std::condition_variable m_wake;
    Request m_waiting;
    bool m_hasWaiting = false;
    bool m_delivering = false; // a result is on its way to the owner's thread
    bool m_stop = false;
    std::thread m_thread;
};

#endif // MEASUREMAKER_H

#include "measuremaker.h"

MeasureMaker::MeasureMaker(std::chrono::milliseconds minimumInterval, QObject *parent)
    : QObject(parent), m_thread(minimumInterval, [this](Request request) { measure(std::move(request)); })
{
    qRegisterMetaType<MeasureMaker::Result>("MeasureMaker::Result");
}

/* Waits for a measurement under way; one not yet delivered is never reported. Owner's thread. */
MeasureMaker::~MeasureMaker() = default;

/* Keeps `request` as the next to measure, in place of any still waiting. Owner's thread. */
void MeasureMaker::request(Request request)
{
    m_thread.offer(std::move(request)); // a replaced frame is let go here, outside the lock
}

// Measuring thread.
void MeasureMaker::measure(Request request)
{
    Result result;
    result.profile = request.row < 0 ? meanProfile(request.frame, request.gray)
                                     : rowProfile(request.frame, request.row, request.gray);
    result.histogram = imageHistogram(request.frame, request.gray);
    result.frame = std::move(request.frame);
    QMetaObject::invokeMethod(
        this,
        [this, result] {
            m_thread.taken();
            emit measured(result);
        },
        Qt::QueuedConnection);
}

#include "previewmaker.h"

#include "savethread.h"

#include <QDebug>

#include <new>

/*
 * A maker that bounds its pictures to maxPixels (see composePreview()) and
 * begins one at most every minimumInterval. Starts its thread. Owner's
 * thread.
 */
PreviewMaker::PreviewMaker(qint64 maxPixels, std::chrono::milliseconds minimumInterval, QObject *parent)
    : QObject(parent), m_maxPixels(maxPixels), m_minimumInterval(minimumInterval)
{
    m_thread = std::thread([this] { run(); });
}

/*
 * Waits for a picture being composed; one not yet delivered is never
 * reported. Owner's thread.
 */
PreviewMaker::~PreviewMaker()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

int PreviewMaker::request(Batch batch)
{
    int replaced = 0;
    Batch dropped;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_hasWaiting) {
            replaced = m_waiting.number;
            dropped = std::move(m_waiting);
        }
        m_waiting = std::move(batch);
        m_hasWaiting = true;
    }
    m_wake.notify_all();
    return replaced;
}

int PreviewMaker::cancel()
{
    Batch dropped;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_hasWaiting)
            return 0;
        dropped = std::move(m_waiting);
        m_waiting = Batch();
        m_hasWaiting = false;
    }
    return dropped.number;
}

/*
 * Composes the newest waiting batch once the last picture has been taken and
 * the interval has passed, and sends it to the owner's thread. The pixmap
 * the window makes of an RGB32 picture shares its pixels, so the conversion
 * is done here and not on the window's thread. Preview thread.
 */
void PreviewMaker::run()
{
    // Pictures are for the eye: the camera and the files come first.
    yieldToAcquisition();
    auto nextStart = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || (m_hasWaiting && !m_delivering); });
        if (m_stop)
            return;
        if (m_wake.wait_until(lock, nextStart, [this] { return m_stop; }))
            return;
        if (!m_hasWaiting || m_delivering)
            continue;
        Batch batch = std::move(m_waiting);
        m_waiting = Batch();
        m_hasWaiting = false;
        m_delivering = true;
        nextStart = std::chrono::steady_clock::now() + m_minimumInterval;
        lock.unlock();

        ComposedPreview preview;
        try {
            preview = composePreview(batch.frames, batch.direction, m_maxPixels, batch.turnAngle);
            if (!preview.picture.isNull())
                preview.picture = preview.picture.convertToFormat(QImage::Format_RGB32);
        } catch (const std::bad_alloc &) {
            qWarning() << "Not enough memory to compose the preview of a batch of" << batch.frames.size()
                       << "frames";
            preview = ComposedPreview();
        }
        const int number = batch.number;
        // The frames go back before the picture is shown: the budget counts
        // them until composed() says so.
        batch = Batch();
        QMetaObject::invokeMethod(
            this, [this, number, preview] { deliver(number, preview); }, Qt::QueuedConnection);
        lock.lock();
    }
}

void PreviewMaker::deliver(int number, const ComposedPreview &preview)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_delivering = false;
    }
    m_wake.notify_all();
    emit composed(number, preview);
}

#include "previewmaker.h"

#include <QDebug>

#include <new>

/*
 * A maker that bounds its pictures to maxPixels (see composePreview()) and
 * begins one at most every minimumInterval. Starts its thread. Owner's
 * thread.
 */
PreviewMaker::PreviewMaker(qint64 maxPixels, std::chrono::milliseconds minimumInterval, QObject *parent)
    : QObject(parent), m_maxPixels(maxPixels),
      m_thread(minimumInterval, [this](Batch batch) { compose(std::move(batch)); })
{ }

/* Waits for a picture being composed; one not yet delivered is never reported. Owner's thread. */
PreviewMaker::~PreviewMaker() = default;

int PreviewMaker::request(Batch batch)
{
    const std::optional<Batch> replaced = m_thread.offer(std::move(batch));
    return replaced ? replaced->number : 0;
}

int PreviewMaker::cancel()
{
    const std::optional<Batch> dropped = m_thread.cancel();
    return dropped ? dropped->number : 0;
}

/*
 * Composes a batch and sends its picture to the owner's thread. The pixmap
 * the window makes of an RGB32 picture shares its pixels, so the conversion
 * is done here and not on the window's thread. Preview thread.
 */
void PreviewMaker::compose(Batch batch)
{
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
        this,
        [this, number, preview] {
            m_thread.taken();
            emit composed(number, preview);
        },
        Qt::QueuedConnection);
}

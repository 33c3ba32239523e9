#include "windowdestroyedfilter.h"

#include <QWidget>

#include <cstring>

namespace {

// The X11 protocol's DestroyNotify event as xcb hands it over (32 bytes; the
// top bit of the type marks an event another client sent).
struct DestroyNotifyEvent {
    quint8 responseType;
    quint8 pad0;
    quint16 sequence;
    quint32 event;
    quint32 window;
};
constexpr quint8 kDestroyNotify = 17;

} // namespace

bool isDestroyNotifyFor(const void *xcbEvent, quint32 windowId)
{
    if (!xcbEvent || windowId == 0)
        return false;
    DestroyNotifyEvent event;
    std::memcpy(&event, xcbEvent, sizeof event);
    return (event.responseType & 0x7f) == kDestroyNotify && event.window == windowId;
}

WindowDestroyedFilter::WindowDestroyedFilter(QWidget *window) : m_window(window) { }

/*
 * Never consumes the event: Qt goes on with it as before. The close is queued,
 * so it does not run inside the window system's event handling.
 */
bool WindowDestroyedFilter::nativeEventFilter(const QByteArray &eventType, void *message, long *)
{
    if (!m_window || eventType != "xcb_generic_event_t" || !m_window->testAttribute(Qt::WA_WState_Created))
        return false;
    if (isDestroyNotifyFor(message, quint32(m_window->winId())))
        QMetaObject::invokeMethod(m_window.data(), "close", Qt::QueuedConnection);
    return false;
}

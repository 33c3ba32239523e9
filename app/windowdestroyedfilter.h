#ifndef WINDOWDESTROYEDFILTER_H
#define WINDOWDESTROYEDFILTER_H

#include <QAbstractNativeEventFilter>
#include <QPointer>

class QWidget;

/*
 * Closes the main window the normal way when the window system destroys its
 * native window (another X11 client destroying it, for example). Qt does not
 * react to that by itself: the widget lives on without a window, and with it
 * grabbing and saving. Install it on the application after the window is
 * shown. GUI thread.
 */
class WindowDestroyedFilter : public QAbstractNativeEventFilter
{
public:
    explicit WindowDestroyedFilter(QWidget *window);

    bool nativeEventFilter(const QByteArray &eventType, void *message, long *result) override;

private:
    QPointer<QWidget> m_window;
};

// Whether an X11 event (as xcb delivers it) says that window `windowId` was
// destroyed. Pure.
bool isDestroyNotifyFor(const void *xcbEvent, quint32 windowId);

#endif // WINDOWDESTROYEDFILTER_H

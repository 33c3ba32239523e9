// The main window closes the normal way when the window system destroys its
// native window; other events, and other windows, leave it alone.
#include <QtTest>

#include "windowdestroyedfilter.h"

#include <QWidget>

#include <cstring>

namespace {

// An xcb event of 32 bytes, as the X server sends it.
QByteArray xcbEvent(quint8 type, quint32 window)
{
    QByteArray bytes(32, '\0');
    bytes[0] = char(type);
    std::memcpy(bytes.data() + 8, &window, sizeof window);
    return bytes;
}

} // namespace

class TestWindowDestroyedFilter : public QObject
{
    Q_OBJECT

private slots:
    void recognisesTheDestructionOfThatWindowOnly_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<quint32>("window");
        QTest::addColumn<bool>("destroyed");
        QTest::newRow("destroyed") << 17 << 0x1234u << true;
        QTest::newRow("destroyed, sent by a client") << (17 | 0x80) << 0x1234u << true;
        QTest::newRow("another window destroyed") << 17 << 0x9999u << false;
        QTest::newRow("unmapped, not destroyed") << 18 << 0x1234u << false;
        QTest::newRow("window id 0") << 17 << 0u << false;
    }
    void recognisesTheDestructionOfThatWindowOnly()
    {
        QFETCH(int, type);
        QFETCH(quint32, window);
        QFETCH(bool, destroyed);
        const QByteArray event = xcbEvent(quint8(type), window);
        QCOMPARE(isDestroyNotifyFor(event.constData(), window == 0 ? 0 : 0x1234u), destroyed);
    }

    void destroyedNativeWindowClosesTheWindow()
    {
        QWidget window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        WindowDestroyedFilter filter(&window);
        QByteArray other = xcbEvent(17, quint32(window.winId()) + 1);
        QVERIFY(!filter.nativeEventFilter("xcb_generic_event_t", other.data(), nullptr));
        QByteArray ours = xcbEvent(17, quint32(window.winId()));
        QVERIFY(!filter.nativeEventFilter("windows_generic_MSG", ours.data(), nullptr));
        QCoreApplication::processEvents();
        QVERIFY(window.isVisible());
        // Not consumed: Qt still sees the event.
        QVERIFY(!filter.nativeEventFilter("xcb_generic_event_t", ours.data(), nullptr));
        QTRY_VERIFY(!window.isVisible());
    }
};

QTEST_MAIN(TestWindowDestroyedFilter)
#include "tst_windowdestroyedfilter.moc"

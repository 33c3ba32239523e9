// The Open and Start buttons of the toolbar, clicked as a person clicks them:
// one answer per click, and a button that always shows the camera's state.
#include <QToolBar>
#include <QToolButton>

#include "camerawindow.h"

namespace {

const char *const kVanishingCamera
    = "[cam]\ntransport = USB3\nserial = C1\nwidth = 64\nlines_per_frame = 16\n"
      "pixel_format = Mono8\nline_rate = 4000\n";

} // namespace

class ToolbarStateTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        qputenv("CORVISTA_CAMERAS", "simulator");
        mvsim::reset();
        m_fixture = std::make_unique<CameraWindow>();
        QVERIFY(installCameras(kVanishingCamera));
        QVERIFY(m_fixture->make());
        m_fixture->window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_fixture->window.get()));
    }
    void cleanup()
    {
        m_fixture.reset();
        mvsim::reset();
    }

    void openWithoutCameraSaysSoOncePerClick()
    {
        qputenv("CORVISTA_CAMERAS", "none");
        windowAction(window(), "actionCameraSearch")->trigger();
        m_fixture->boxes.clear();
        QAction *open = windowAction(window(), "actionCameraOpen");

        for (int click = 1; click <= 4; ++click) {
            QTest::mouseClick(button("actionCameraOpen"), Qt::LeftButton);
            QCOMPARE(m_fixture->boxes.count(), click);
            QCOMPARE(boxSummary(m_fixture->boxes).split(QLatin1Char('\n')).last(),
                     QStringLiteral("Device|Please choose camera!|%1").arg(QMessageBox::Warning));
            QVERIFY(!open->isChecked());
            QVERIFY(!window().m_isOpen);
        }
    }

    void buttonsFollowTheCameraThroughAVanishingAndAReopen()
    {
        QAction *open = windowAction(window(), "actionCameraOpen");
        QAction *start = windowAction(window(), "actionCameraStart");
        windowAction(window(), "actionCameraSearch")->trigger();
        QTest::mouseClick(button("actionCameraOpen"), Qt::LeftButton);
        QVERIFY(window().m_isOpen && open->isChecked());
        mvsim::vanishAfter("C1", 3);
        QTest::mouseClick(button("actionCameraStart"), Qt::LeftButton);
        QVERIFY(start->isChecked());

        QVERIFY(m_fixture->boxes.waitForCount(1));
        QCOMPARE(m_fixture->boxes.last().text, QStringLiteral("Camera disconnected!"));
        QVERIFY(!window().m_isGrabbing);
        QVERIFY(!start->isChecked()); // Start again, not Pause
        QVERIFY(open->isChecked());   // still open until closed

        QTest::mouseClick(button("actionCameraOpen"), Qt::LeftButton); // closes
        QVERIFY(!window().m_isOpen && !open->isChecked());
        QVERIFY(installCameras(kVanishingCamera)); // the camera is back
        windowAction(window(), "actionCameraSearch")->trigger();
        QTest::mouseClick(button("actionCameraOpen"), Qt::LeftButton);
        QVERIFY(window().m_isOpen && open->isChecked());

        QTest::mouseClick(button("actionCameraStart"), Qt::LeftButton);
        QVERIFY(window().m_isGrabbing);
        QVERIFY(start->isChecked());
        QTest::qWait(100);
        QVERIFY(window().m_isGrabbing);
        QTest::mouseClick(button("actionCameraStart"), Qt::LeftButton);
        QVERIFY(!window().m_isGrabbing && !start->isChecked());
        QCOMPARE(m_fixture->boxes.count(), 1);
    }

    void closeWhileGrabbingLeavesBothButtonsOff()
    {
        QAction *open = windowAction(window(), "actionCameraOpen");
        QAction *start = windowAction(window(), "actionCameraStart");
        windowAction(window(), "actionCameraSearch")->trigger();
        QTest::mouseClick(button("actionCameraOpen"), Qt::LeftButton);
        QTest::mouseClick(button("actionCameraStart"), Qt::LeftButton);
        QVERIFY(window().m_isGrabbing && start->isChecked());

        windowAction(window(), "actionCameraClose")->trigger();
        QVERIFY(!open->isChecked() && !start->isChecked());

        // The next clicks open, then start: nothing is undone by a stale button.
        QTest::mouseClick(button("actionCameraOpen"), Qt::LeftButton);
        QTest::mouseClick(button("actionCameraStart"), Qt::LeftButton);
        QVERIFY(window().m_isOpen && window().m_isGrabbing);
        QVERIFY(open->isChecked() && start->isChecked());
        QVERIFY(m_fixture->boxes.isEmpty());
    }

private:
    MainWindow &window() { return *m_fixture->window; }
    QWidget *button(const char *action)
    {
        for (QToolBar *bar : window().findChildren<QToolBar *>()) {
            if (QWidget *widget = bar->widgetForAction(windowAction(window(), action)))
                return widget;
        }
        qFatal("no toolbar button for %s", action);
        return nullptr;
    }

    std::unique_ptr<CameraWindow> m_fixture;
};

QTEST_MAIN(ToolbarStateTest)
#include "tst_toolbar_state.moc"

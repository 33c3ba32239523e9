// Setting up a camera at the window: line profile, histogram, pixel readout, 1:1 zoom, health figures
// and the banner of lost frames, driven with the mouse and keys on simulated cameras.
#include "camerawindow.h"
#include "ui_mainwindow.h"

#include "acquisitionhealth.h"
#include "appsettings.h"
#include "plotwidgets.h"
#include "simcamera.h"

#include <QGraphicsPixmapItem>
#include <QLabel>
#include <QRegularExpression>

class TestSetupTools : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(installCameras(twoSmallCameras())); }
    void cleanup() { mvsim::reset(); }

    // Frames arrive every periodMs and the window samples a while later. Shares are whole percent
    // (0.5: "<1 %"); an exposure longer than the period of the line rate cannot be kept.
    void healthFigures_data()
    {
        QTest::addColumn<QVector<double>>("v");
        // frames, periodMs, sampleAfterMs, received, lost, dropped, frames/s, lost %, dropped %,
        // exposure us, line rate, over-triggered
        QTest::newRow("steady") << QVector<double>{21, 50, 10, 21, 0, 0, 20, 0, 0, 500, 6000, 1};
        QTest::newRow("late sample") << QVector<double>{5, 100, 900, 5, 0, 0, 10, 0, 0, 166, 6000, 0};
        QTest::newRow("no frame for 1 s") << QVector<double>{3, 10, 1500, 3, 0, 0, 0, 0, 0, 100, 10000, 0};
        QTest::newRow("lost 1140 of 1280")
            << QVector<double>{4, 20, 0, 140, 1140, 0, 50, 89, 0, 101, 10000, 1};
        QTest::newRow("lost, dropped") << QVector<double>{4, 20, 0, 1576, 6883, 1092, 50, 81, 13, 500, 0, 0};
        QTest::newRow("1 of 10^6") << QVector<double>{4, 20, 0, 999999, 1, 1, 50, 0.5, 0.5, 0, 1000, 0};
    }
    void healthFigures()
    {
        QFETCH(QVector<double>, v);
        const double received = v[3], lost = v[4], dropped = v[5], framesPerSecond = v[6];
        constexpr qint64 ms = 1000000, start = 5000 * ms;
        constexpr int lines = 512, lineBytes = 4096;
        AcquisitionHealth health;
        health.start(start);
        qint64 t = start;
        for (int i = 0; i < v[0]; ++i) {
            t += qint64(v[1] * ms);
            health.frameArrived(lines, lines * lineBytes, t, qint64(received), qint64(lost));
            if (i % 3 == 2) // samples between frames change nothing
                health.sample(t + ms, qint64(dropped));
        }
        const HealthFigures f = health.sample(t + qint64(v[2] * ms), qint64(dropped));
        QCOMPARE(qRound(f.framesPerSecond * 100), qRound(framesPerSecond * 100));
        QCOMPARE(qRound(f.linesPerSecond), qRound(framesPerSecond * lines));
        QCOMPARE(qRound(f.megabytesPerSecond * 1e6), qRound(framesPerSecond * lines * lineBytes));
        QCOMPARE(f.sent, qint64(received + lost));
        const QString banner = lossBannerLines(f).join('|');
        QCOMPARE(banner.count('|') + !banner.isEmpty(), int(lost > 0) + int(dropped > 0));
        for (const double share : {v[7], v[8]})
            QVERIFY2(!share || banner.contains(share < 1 ? "(<1 %)" : QString("(%1 %)").arg(share)),
                     qPrintable(banner));
        QCOMPARE(exposureExceedsLinePeriod(v[9], v[10]), bool(v[11]));
    }

    // A click picks the profile's line; the profile, the histogram, 1:1 zoom and the readout all hold
    // what the camera sent, which the test builds from the simulator's pattern.
    void toolsShowTheCamerasValues_data()
    {
        QTest::addColumn<int>("channels"); // the gray camera G1 is listed first, the colour one U7 next
        QTest::newRow("Mono8") << 1;
        QTest::newRow("RGB8") << 3;
    }
    void toolsShowTheCamerasValues()
    {
        QFETCH(int, channels);
        const int entry = channels == 1 ? 0 : 1;
        CameraWindow cw;
        AppSettings::setValue(AppSettings::kShowLiveView, true);
        QVERIFY(cw.make());
        MainWindow &w = *cw.window;
        w.resize(1024, 768);
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QVERIFY(cw.openEntry(entry) && cw.start());
        QGraphicsPixmapItem *item = w.m_livePixmapItem;
        QTRY_VERIFY(!item->pixmap().isNull());
        cw.trigger("actionCameraStart"); // stops; the last frame stays on screen
        const QImage shown = item->pixmap().toImage();
        const int row = shown.height() / 4; // not the middle line shown by default
        QGraphicsView *gv = w.ui->gv;
        QTest::mouseClick(gv->viewport(), Qt::LeftButton, {},
                          gv->mapFromScene(item->mapToScene(QPointF(10.25, row + 0.25))));
        auto *profilePlot = w.findChild<ProfilePlot *>("lineProfilePlot");
        QTRY_COMPARE(profilePlot->profile().row, row);
        const LineProfile profile = profilePlot->profile();
        QCOMPARE(profile.channels, channels);
        const QVector<float> &gray = profile.values[0];
        const uchar stamp[4] = {uchar(gray[0]), uchar(gray[1]), uchar(gray[2]), uchar(gray[3])};
        const quint32 line = mvsim::lineStamp(stamp, 1);
        QCOMPARE(int(line % quint32(shown.height())), row); // frames start at whole frames of lines
        const quint32 firstLine = line - quint32(row);
        const auto sent = [&](int x, int y, int c) {
            return int(mvsim::scenePixel(channels == 1 ? "G1" : "U7", firstLine + quint32(y), unsigned(x),
                                         unsigned(c),
                                         channels == 1 ? PixelType_Gvsp_Mono8 : PixelType_Gvsp_RGB8_Packed));
        };
        QVector<qint64> counts[3];
        for (int c = 0; c < channels; ++c) {
            counts[c].fill(0, 256);
            int lo = 255, hi = 0;
            for (int x = 0; x < shown.width(); ++x) {
                QCOMPARE(int(profile.values[c][x]), sent(x, row, c));
                lo = qMin(lo, sent(x, row, c));
                hi = qMax(hi, sent(x, row, c));
                for (int y = 0; y < shown.height(); ++y)
                    ++counts[c][sent(x, y, c)];
            }
            QCOMPARE(profile.stats[c].min, lo);
            QCOMPARE(profile.stats[c].max, hi);
            QCOMPARE(w.findChild<HistogramPlot *>("histogramPlot")->histogram().counts[c], counts[c]);
        }

        QTest::keyClick(&w, Qt::Key_1, Qt::ControlModifier);
        const QPoint origin = gv->mapFromScene(item->mapToScene(QPointF(0, 0)));
        const QImage screen = gv->viewport()->grab().toImage();
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x)
                QCOMPARE(screen.pixel(origin + QPoint(x, y)),
                         qRgb(sent(x, y, 0), sent(x, y, channels / 2), sent(x, y, channels - 1)));

        const QPoint pixel(shown.width() - 5, shown.height() - 2);
        QTest::mouseMove(gv->viewport(), origin + pixel);
        QString readout = w.findChild<QLabel *>("pixelReadout")->text();
        const QStringList numbers
            = readout.replace(QRegularExpression("[^0-9]+"), " ").simplified().split(' ');
        QStringList expected = {QString::number(pixel.x()), QString::number(pixel.y())};
        for (int c = 0; c < channels; ++c)
            expected << QString::number(sent(pixel.x(), pixel.y(), c));
        QCOMPARE(numbers, expected);
    }

    // The camera keeps one frame while the grab loop is held up; the banner then names the loss.
    void bannerNamesTheLossWithinASecond()
    {
        QVERIFY(installCameras("[cam]\ntransport = USB3\nserial = L1\nwidth = 64\nlines_per_frame = 16\n"
                               "buffer_count = 2\nline_rate = 2000\n"));
        CameraWindow cw;
        AppSettings::setValue(AppSettings::kShowLiveView, true);
        QVERIFY(cw.make());
        MainWindow &w = *cw.window;
        w.show();
        QVERIFY(cw.openEntry(0) && cw.start());
        QLabel *banner = w.ui->acquisitionBanner;
        QTRY_VERIFY(!w.m_livePixmapItem->pixmap().isNull());
        w.m_frameMutex.lock(); // as a slow snapshot holds up the grab loop
        QTest::qSleep(300);
        w.m_frameMutex.unlock();
        QTRY_VERIFY_WITH_TIMEOUT(banner->isVisible(), 1000);
        cw.trigger("actionCameraStart"); // stops
        const FrameCounts counts = cameraFrameCounts(w.m_handle);
        const qint64 lost = counts.lost, sent = lost + counts.received;
        QVERIFY(lost > 20);
        const QString text = banner->text();
        QVERIFY2(banner->isVisible() && text.contains(QString(" %1 of %2 ").arg(lost).arg(sent))
                     && text.contains(QString("(%1 %)").arg(qRound(100.0 * lost / sent))),
                 qPrintable(text));
    }
};

QTEST_MAIN(TestSetupTools)
#include "tst_setuptools.moc"

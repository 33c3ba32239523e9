// The free functions behind the stitch session and the views: turning frames,
// placing and composing the preview, and the zoom and rotation arithmetic.
#include <QtTest>

#include "frameturn.h"
#include "preview.h"
#include "viewmath.h"

#include <QPainter>
#include <QRandomGenerator>

#include <cstring>

namespace {

QImage noiseImage(int w, int h, QImage::Format format, quint32 seed)
{
    QImage image(w, h, format);
    QRandomGenerator rng(seed);
    const int bytes = image.bytesPerLine();
    for (int y = 0; y < h; ++y) {
        uchar *line = image.scanLine(y);
        for (int i = 0; i < bytes; ++i)
            line[i] = uchar(rng.generate());
    }
    return image;
}

QImage solid(int w, int h, QImage::Format format, QColor color)
{
    QImage image(w, h, format);
    image.fill(color);
    return image;
}

bool samePixels(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.format() != b.format())
        return false;
    const int bytes = a.width() * a.depth() / 8;
    for (int y = 0; y < a.height(); ++y)
        if (std::memcmp(a.constScanLine(y), b.constScanLine(y), size_t(bytes)) != 0)
            return false;
    return true;
}

} // namespace

class TestPreview : public QObject
{
    Q_OBJECT

private slots:
    void turnPutsTheFirstLineWhereTheDirectionBegins_data();
    void turnPutsTheFirstLineWhereTheDirectionBegins();
    void turningANullFrameGivesANullFrame();
    void expectedFrameSizeIsSwappedForLeftAndRight_data();
    void expectedFrameSizeIsSwappedForLeftAndRight();

    void framesArePlacedEdgeToEdgeInTheDirection_data();
    void framesArePlacedEdgeToEdgeInTheDirection();
    void nullFramesGetNoPlace();
    void previewPutsTheFirstFrameAtTheSceneOrigin_data();
    void previewPutsTheFirstFrameAtTheSceneOrigin();
    void previewIsGrayOnlyWhenEveryFrameIsGray_data();
    void previewIsGrayOnlyWhenEveryFrameIsGray();
    void previewOfNothingIsNull();
    void previewLeavesUncoveredAreaBlack();
    void largePreviewIsReducedWithinBudgetKeepingProportionsAndContent();

    void rotationMenuStepsTheLiveAngle_data();
    void rotationMenuStepsTheLiveAngle();
    void zoomOutStopsAtOneHundredth();
    void zoomInHasNoUpperLimit();
    void zoomStartsFromOneWhenTheScaleIsLost();
    void fitScaleKeepsTheSceneInsideTheViewport_data();
    void fitScaleKeepsTheSceneInsideTheViewport();
};

void TestPreview::turnPutsTheFirstLineWhereTheDirectionBegins_data()
{
    // A 5x3 frame: where do its first pixel, the end of its first line and
    // the start of its last line land after the turn?
    QTest::addColumn<int>("direction");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("firstPixel");
    QTest::addColumn<QPoint>("firstLineEnd");
    QTest::addColumn<QPoint>("lastLineStart");
    QTest::newRow("left: lines run left to right")
        << 0 << QSize(3, 5) << QPoint(0, 4) << QPoint(0, 0) << QPoint(2, 4);
    QTest::newRow("right: lines run right to left")
        << 1 << QSize(3, 5) << QPoint(2, 0) << QPoint(2, 4) << QPoint(0, 0);
    QTest::newRow("bottom: lines run downwards")
        << 2 << QSize(5, 3) << QPoint(0, 0) << QPoint(4, 0) << QPoint(0, 2);
    QTest::newRow("top: lines run upwards")
        << 3 << QSize(5, 3) << QPoint(4, 2) << QPoint(0, 2) << QPoint(4, 0);
    QTest::newRow("hand-edited 7 is like bottom")
        << 7 << QSize(5, 3) << QPoint(0, 0) << QPoint(4, 0) << QPoint(0, 2);
    QTest::newRow("hand-edited -1 is like bottom")
        << -1 << QSize(5, 3) << QPoint(0, 0) << QPoint(4, 0) << QPoint(0, 2);
}

void TestPreview::turnPutsTheFirstLineWhereTheDirectionBegins()
{
    QFETCH(int, direction);
    QFETCH(QSize, size);
    QFETCH(QPoint, firstPixel);
    QFETCH(QPoint, firstLineEnd);
    QFETCH(QPoint, lastLineStart);
    QImage frame(5, 3, QImage::Format_RGB888);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            frame.setPixelColor(x, y, QColor(x * 40, y * 100, 7));
    const QImage turned = turnFrameForDirection(frame, direction);
    QCOMPARE(turned.size(), size);
    QCOMPARE(turned.format(), frame.format());
    QCOMPARE(turned.pixelColor(firstPixel), frame.pixelColor(0, 0));
    QCOMPARE(turned.pixelColor(firstLineEnd), frame.pixelColor(4, 0));
    QCOMPARE(turned.pixelColor(lastLineStart), frame.pixelColor(0, 2));
}

void TestPreview::turningANullFrameGivesANullFrame()
{
    for (int direction = 0; direction < 4; ++direction)
        QVERIFY(turnFrameForDirection(QImage(), direction).isNull());
}

void TestPreview::expectedFrameSizeIsSwappedForLeftAndRight_data()
{
    QTest::addColumn<int>("direction");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("left") << 0 << QSize(64, 256);
    QTest::newRow("right") << 1 << QSize(64, 256);
    QTest::newRow("bottom") << 2 << QSize(256, 64);
    QTest::newRow("top") << 3 << QSize(256, 64);
    QTest::newRow("hand-edited 9") << 9 << QSize(256, 64);
}

void TestPreview::expectedFrameSizeIsSwappedForLeftAndRight()
{
    QFETCH(int, direction);
    QFETCH(QSize, expected);
    QCOMPARE(expectedTurnedFrameSize(256, 64, direction), expected);
    // A complete frame turned for the direction has exactly that size.
    QCOMPARE(turnFrameForDirection(QImage(256, 64, QImage::Format_Grayscale8), direction).size(),
             expected);
}

void TestPreview::framesArePlacedEdgeToEdgeInTheDirection_data()
{
    QTest::addColumn<int>("direction");
    QTest::addColumn<QList<QRect>>("expected");
    // Frames of 10x4, 6x4 and 10x3: the second and third are incomplete.
    QTest::newRow("left") << 0
                          << QList<QRect>{QRect(0, 0, 10, 4), QRect(10, 0, 6, 4),
                                          QRect(16, 0, 10, 3)};
    QTest::newRow("right") << 1
                           << QList<QRect>{QRect(0, 0, 10, 4), QRect(-6, 0, 6, 4),
                                           QRect(-16, 0, 10, 3)};
    QTest::newRow("bottom") << 2
                            << QList<QRect>{QRect(0, 0, 10, 4), QRect(0, 4, 6, 4),
                                            QRect(0, 8, 10, 3)};
    QTest::newRow("top") << 3
                         << QList<QRect>{QRect(0, 0, 10, 4), QRect(0, -4, 6, 4),
                                         QRect(0, -7, 10, 3)};
}

void TestPreview::framesArePlacedEdgeToEdgeInTheDirection()
{
    QFETCH(int, direction);
    QFETCH(QList<QRect>, expected);
    const QList<QImage> frames = {QImage(10, 4, QImage::Format_RGB888),
                                  QImage(6, 4, QImage::Format_RGB888),
                                  QImage(10, 3, QImage::Format_RGB888)};
    QCOMPARE(placeFrames(frames, direction), expected);
}

void TestPreview::nullFramesGetNoPlace()
{
    const QList<QImage> frames = {QImage(), QImage(5, 2, QImage::Format_RGB888), QImage(),
                                  QImage(5, 2, QImage::Format_RGB888)};
    const QList<QRect> places = placeFrames(frames, StitchDirection::Bottom);
    QCOMPARE(places, (QList<QRect>{QRect(), QRect(0, 0, 5, 2), QRect(), QRect(0, 2, 5, 2)}));
    QCOMPARE(composePreview(frames, StitchDirection::Bottom).picture.size(), QSize(5, 4));
}

void TestPreview::previewPutsTheFirstFrameAtTheSceneOrigin_data()
{
    QTest::addColumn<int>("direction");
    QTest::addColumn<QPoint>("topLeft");
    QTest::addColumn<QSize>("size");
    QTest::newRow("left") << 0 << QPoint(0, 0) << QSize(20, 3);
    QTest::newRow("right") << 1 << QPoint(-12, 0) << QSize(20, 3);
    QTest::newRow("bottom") << 2 << QPoint(0, 0) << QSize(8, 9);
    QTest::newRow("top") << 3 << QPoint(0, -6) << QSize(8, 9);
}

void TestPreview::previewPutsTheFirstFrameAtTheSceneOrigin()
{
    QFETCH(int, direction);
    QFETCH(QPoint, topLeft);
    QFETCH(QSize, size);
    const QList<QImage> frames = {noiseImage(8, 3, QImage::Format_RGB888, 1),
                                  noiseImage(6, 3, QImage::Format_RGB888, 2),
                                  noiseImage(6, 3, QImage::Format_RGB888, 3)};
    const ComposedPreview preview = composePreview(frames, direction);
    QCOMPARE(preview.topLeft, topLeft);
    QCOMPARE(preview.picture.size(), size);
    QCOMPARE(preview.fullSize, size);
    // Every frame appears unchanged at its place, shifted by the corner.
    const QList<QRect> places = placeFrames(frames, direction);
    for (int i = 0; i < frames.size(); ++i)
        QVERIFY(samePixels(preview.picture.copy(places[i].translated(-topLeft)), frames[i]));
}

void TestPreview::previewIsGrayOnlyWhenEveryFrameIsGray_data()
{
    QTest::addColumn<QList<int>>("formats");
    QTest::addColumn<int>("expected");
    QTest::newRow("all gray8") << QList<int>{QImage::Format_Grayscale8, QImage::Format_Grayscale8}
                               << int(QImage::Format_Grayscale8);
    QTest::newRow("gray8, mono, indexed8")
        << QList<int>{QImage::Format_Grayscale8, QImage::Format_Mono, QImage::Format_Indexed8}
        << int(QImage::Format_Grayscale8);
    QTest::newRow("one rgb888") << QList<int>{QImage::Format_Grayscale8, QImage::Format_RGB888}
                                << int(QImage::Format_RGB888);
    QTest::newRow("rgb32 only") << QList<int>{QImage::Format_RGB32} << int(QImage::Format_RGB888);
}

void TestPreview::previewIsGrayOnlyWhenEveryFrameIsGray()
{
    QFETCH(QList<int>, formats);
    QFETCH(int, expected);
    QList<QImage> frames;
    for (int f : formats)
        frames.append(
            solid(4, 2, QImage::Format_Grayscale8, Qt::white).convertToFormat(QImage::Format(f)));
    const ComposedPreview preview = composePreview(frames, StitchDirection::Bottom);
    QCOMPARE(int(preview.picture.format()), expected);
    QCOMPARE(preview.picture.pixelColor(0, 2 * formats.size() - 1), QColor(Qt::white));
}

void TestPreview::previewOfNothingIsNull()
{
    QVERIFY(composePreview({}, StitchDirection::Left).picture.isNull());
    QVERIFY(composePreview({QImage(), QImage()}, StitchDirection::Top).picture.isNull());
}

void TestPreview::previewLeavesUncoveredAreaBlack()
{
    // A short incomplete frame leaves a corner of the bounding box uncovered.
    const QList<QImage> frames = {solid(10, 4, QImage::Format_RGB888, Qt::red),
                                  solid(10, 2, QImage::Format_RGB888, Qt::green)};
    const QImage picture = composePreview(frames, StitchDirection::Left).picture;
    QCOMPARE(picture.size(), QSize(20, 4));
    QCOMPARE(picture.pixelColor(15, 1), QColor(Qt::green));
    QCOMPARE(picture.pixelColor(15, 3), QColor(Qt::black));
    QCOMPARE(picture.pixelColor(5, 3), QColor(Qt::red));
}

void TestPreview::largePreviewIsReducedWithinBudgetKeepingProportionsAndContent()
{
    // Ten frames, alternately red and blue, each 100x40, stacked left to right.
    QList<QImage> frames;
    for (int i = 0; i < 10; ++i)
        frames.append(solid(100, 40, QImage::Format_RGB888, i % 2 ? Qt::blue : Qt::red));
    const qint64 budget = 10000;
    const ComposedPreview preview = composePreview(frames, StitchDirection::Left, budget);
    QCOMPARE(preview.fullSize, QSize(1000, 40));
    QVERIFY(qint64(preview.picture.width()) * preview.picture.height() <= budget);
    QVERIFY(preview.picture.width() >= 490);
    const double ratio = double(preview.picture.width()) / preview.picture.height();
    QVERIFY2(qAbs(ratio - 25.0) < 1.0, qPrintable(QString::number(ratio)));
    // Each frame keeps its colour over its share of the reduced picture.
    const double sx = double(preview.picture.width()) / 1000.0;
    for (int i = 0; i < 10; ++i) {
        const int centre = int((i * 100 + 50) * sx);
        QCOMPARE(preview.picture.pixelColor(centre, preview.picture.height() / 2),
                 QColor(i % 2 ? Qt::blue : Qt::red));
    }
    // Within budget nothing is reduced.
    QCOMPARE(composePreview(frames, StitchDirection::Left, 40000).picture.size(), QSize(1000, 40));
}

void TestPreview::rotationMenuStepsTheLiveAngle_data()
{
    QTest::addColumn<int>("angle");
    QTest::addColumn<int>("choice");
    QTest::addColumn<int>("expected");
    const int left = int(LiveRotationChoice::RotateLeft);
    const int right = int(LiveRotationChoice::RotateRight);
    const int reset = int(LiveRotationChoice::Reset);
    QTest::newRow("left from 0 gives 270") << 0 << left << 270;
    QTest::newRow("left from 90 gives 0") << 90 << left << 0;
    QTest::newRow("left from 270 gives 180") << 270 << left << 180;
    QTest::newRow("right from 0 gives 90") << 0 << right << 90;
    QTest::newRow("right from 270 gives 0") << 270 << right << 0;
    QTest::newRow("right from 180 gives 270") << 180 << right << 270;
    QTest::newRow("reset from 180 gives 0") << 180 << reset << 0;
    QTest::newRow("hand-edited 45, left") << 45 << left << 270;
    QTest::newRow("hand-edited 45, right") << 45 << right << 135;
}

void TestPreview::rotationMenuStepsTheLiveAngle()
{
    QFETCH(int, angle);
    QFETCH(int, choice);
    QFETCH(int, expected);
    QCOMPARE(rotatedLiveAngle(angle, LiveRotationChoice(choice)), expected);
}

void TestPreview::zoomOutStopsAtOneHundredth()
{
    double s = 1.0;
    for (int i = 0; i < 100; ++i)
        s = zoomedOutScale(s);
    QCOMPARE(s, 0.01);
    QCOMPARE(zoomedOutScale(1.2), 1.0);
    QCOMPARE(zoomedOutScale(0.011), 0.01);
}

void TestPreview::zoomInHasNoUpperLimit()
{
    double s = 1.0;
    for (int i = 0; i < 60; ++i)
        s = zoomedInScale(s);
    QVERIFY(s > 1e4);
    QCOMPARE(zoomedInScale(1.0), 1.2);
}

void TestPreview::zoomStartsFromOneWhenTheScaleIsLost()
{
    QCOMPARE(zoomedInScale(0.0), 1.2);
    QCOMPARE(zoomedOutScale(-3.0), 1.0 / 1.2);
}

void TestPreview::fitScaleKeepsTheSceneInsideTheViewport_data()
{
    QTest::addColumn<QSizeF>("viewport");
    QTest::addColumn<QSizeF>("scene");
    QTest::addColumn<double>("expected");
    QTest::newRow("wide scene") << QSizeF(800, 600) << QSizeF(8000, 100) << 0.1;
    QTest::newRow("tall scene") << QSizeF(800, 600) << QSizeF(100, 1200) << 0.5;
    QTest::newRow("small scene grows") << QSizeF(800, 600) << QSizeF(80, 60) << 10.0;
    QTest::newRow("empty scene") << QSizeF(800, 600) << QSizeF(0, 0) << 0.0;
    QTest::newRow("empty viewport") << QSizeF(0, 600) << QSizeF(80, 60) << 0.0;
}

void TestPreview::fitScaleKeepsTheSceneInsideTheViewport()
{
    QFETCH(QSizeF, viewport);
    QFETCH(QSizeF, scene);
    QFETCH(double, expected);
    QCOMPARE(fitScale(viewport, scene), expected);
}

QTEST_GUILESS_MAIN(TestPreview)
#include "tst_preview.moc"

// The free functions behind the stitch session and the views: turning frames,
// composing the preview, and the zoom, fit and rotation arithmetic.
#include <QtTest>

#include "frameturn.h"
#include "preview.h"
#include "patternframe.h"
#include "viewmath.h"

class TestPreview : public QObject
{
    Q_OBJECT

private slots:
    void turnPutsTheFirstLineWhereTheDirectionBegins_data();
    void turnPutsTheFirstLineWhereTheDirectionBegins();
    void previewPlacesFramesEdgeToEdgeFromTheSceneOrigin_data();
    void previewPlacesFramesEdgeToEdgeFromTheSceneOrigin();
    void largePreviewIsReducedWithinBudgetKeepingProportions();
    void rotationMenuStepsTheLiveAngle_data();
    void rotationMenuStepsTheLiveAngle();
    void fitScaleKeepsTheSceneInsideTheViewport_data();
    void fitScaleKeepsTheSceneInsideTheViewport();
};

void TestPreview::turnPutsTheFirstLineWhereTheDirectionBegins_data()
{
    // Where do the first pixel, the end of the first line and the start of
    // the last line of a 5x3 frame land after the turn?
    QTest::addColumn<int>("direction");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("firstPixel");
    QTest::addColumn<QPoint>("firstLineEnd");
    QTest::addColumn<QPoint>("lastLineStart");
    QTest::newRow("left") << 0 << QSize(3, 5) << QPoint(0, 4) << QPoint(0, 0) << QPoint(2, 4);
    QTest::newRow("right") << 1 << QSize(3, 5) << QPoint(2, 0) << QPoint(2, 4) << QPoint(0, 0);
    QTest::newRow("bottom") << 2 << QSize(5, 3) << QPoint(0, 0) << QPoint(4, 0) << QPoint(0, 2);
    QTest::newRow("top") << 3 << QSize(5, 3) << QPoint(4, 2) << QPoint(0, 2) << QPoint(4, 0);
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
    const QImage frame = patternFrame(5, 3, QImage::Format_RGB888, 1);
    const QImage turned = turnFrameForDirection(frame, direction);
    QCOMPARE(turned.size(), size);
    QCOMPARE(expectedTurnedFrameSize(5, 3, direction), size);
    QCOMPARE(turned.pixel(firstPixel), frame.pixel(0, 0));
    QCOMPARE(turned.pixel(firstLineEnd), frame.pixel(4, 0));
    QCOMPARE(turned.pixel(lastLineStart), frame.pixel(0, 2));
    QVERIFY(turnFrameForDirection(QImage(), direction).isNull());
}

void TestPreview::previewPlacesFramesEdgeToEdgeFromTheSceneOrigin_data()
{
    // Frames of 10x4, 6x4 and 10x3 with a null one among them: the short
    // ones leave black where they do not reach.
    QTest::addColumn<int>("direction");
    QTest::addColumn<QList<QRect>>("places");
    QTest::newRow("left") << 0 << QList<QRect>{{0, 0, 10, 4}, {}, {10, 0, 6, 4}, {16, 0, 10, 3}};
    QTest::newRow("right") << 1 << QList<QRect>{{0, 0, 10, 4}, {}, {-6, 0, 6, 4}, {-16, 0, 10, 3}};
    QTest::newRow("bottom") << 2 << QList<QRect>{{0, 0, 10, 4}, {}, {0, 4, 6, 4}, {0, 8, 10, 3}};
    QTest::newRow("top") << 3 << QList<QRect>{{0, 0, 10, 4}, {}, {0, -4, 6, 4}, {0, -7, 10, 3}};
}

void TestPreview::previewPlacesFramesEdgeToEdgeFromTheSceneOrigin()
{
    QFETCH(int, direction);
    QFETCH(QList<QRect>, places);
    const QList<QImage> frames
        = {patternFrame(10, 4, QImage::Format_RGB888, 1), QImage(),
           patternFrame(6, 4, QImage::Format_RGB888, 2), patternFrame(10, 3, QImage::Format_RGB888, 3)};
    QCOMPARE(placeFrames(frames, direction), places);
    const QRect bounds = places[0] | places[2] | places[3];
    const ComposedPreview preview = composePreview(frames, direction);
    QCOMPARE(preview.topLeft, bounds.topLeft());
    QCOMPARE(preview.picture.size(), bounds.size());
    QCOMPARE(preview.fullSize, bounds.size());
    QImage expected(bounds.size(), QImage::Format_RGB888);
    expected.fill(Qt::black);
    for (int i : {0, 2, 3}) {
        const QRect at = places[i].translated(-bounds.topLeft());
        for (int y = 0; y < at.height(); ++y)
            for (int x = 0; x < at.width(); ++x)
                expected.setPixel(at.x() + x, at.y() + y, frames[i].pixel(x, y));
    }
    QCOMPARE(preview.picture.convertToFormat(QImage::Format_RGB888), expected);
    QVERIFY(composePreview({QImage(), QImage()}, direction).picture.isNull());
}

void TestPreview::largePreviewIsReducedWithinBudgetKeepingProportions()
{
    // Ten frames of 100x40, alternately red and blue, left to right.
    QList<QImage> frames;
    for (int i = 0; i < 10; ++i) {
        frames.append(QImage(100, 40, QImage::Format_RGB888));
        frames.last().fill(i % 2 ? Qt::blue : Qt::red);
    }
    const ComposedPreview preview = composePreview(frames, StitchDirection::Left, 10000);
    const QImage &picture = preview.picture;
    QCOMPARE(preview.fullSize, QSize(1000, 40));
    QVERIFY(qint64(picture.width()) * picture.height() <= 10000);
    QVERIFY(picture.width() >= 490);
    QVERIFY(qAbs(double(picture.width()) / picture.height() - 25.0) < 1.0);
    for (int i = 0; i < 10; ++i)
        QCOMPARE(picture.pixelColor(int((i * 100 + 50) * picture.width() / 1000.0), picture.height() / 2),
                 QColor(i % 2 ? Qt::blue : Qt::red));
    QCOMPARE(composePreview(frames, StitchDirection::Left, 40000).picture.size(), QSize(1000, 40));
}

void TestPreview::rotationMenuStepsTheLiveAngle_data()
{
    QTest::addColumn<int>("angle");
    QTest::addColumn<int>("choice");
    QTest::addColumn<int>("expected");
    const int left = int(LiveRotationChoice::RotateLeft);
    const int right = int(LiveRotationChoice::RotateRight);
    QTest::newRow("left from 0 gives 270") << 0 << left << 270;
    QTest::newRow("left from 90 gives 0") << 90 << left << 0;
    QTest::newRow("right from 270 gives 0") << 270 << right << 0;
    QTest::newRow("right from 180 gives 270") << 180 << right << 270;
    QTest::newRow("reset from 180 gives 0") << 180 << int(LiveRotationChoice::Reset) << 0;
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

#include <QPainter>
#include <QtTest>

#include "composer.h"
#include "tst_stitch_support.h"

Q_DECLARE_METATYPE(QVector<int>)

namespace {

QString describe(const QVector<Segment> &segments)
{
    QStringList parts;
    for (const Segment &segment : segments)
        parts << QStringLiteral("%1-%2").arg(segment.first).arg(segment.end);
    return parts.join(QLatin1Char(','));
}

} // namespace

class StitchComposerTest : public QObject
{
    Q_OBJECT

private slots:
    void splitIsGreedyAndNeverCutsAFrame_data();
    void splitIsGreedyAndNeverCutsAFrame();
    void frameLongerThanTheLimitStopsTheSplit();
    void surveyKeepsGrayOnlyForGrayFormats_data();
    void surveyKeepsGrayOnlyForGrayFormats();
    void surveyIgnoresNullFrames();
    void drawingCopiesTheSamePixelsAsAPainter_data();
    void drawingCopiesTheSamePixelsAsAPainter();
    void drawingIntoANullCanvasDoesNothing();
    void canvasIsGrayOnlyForGrayBatches_data();
    void canvasIsGrayOnlyForGrayBatches();
};

void StitchComposerTest::splitIsGreedyAndNeverCutsAFrame_data()
{
    QTest::addColumn<QVector<int>>("lengths");
    QTest::addColumn<QString>("segments");
    QTest::newRow("ten of 8192") << QVector<int>(10, 8192) << "0-4,4-8,8-10";
    QTest::newRow("exactly the limit") << QVector<int>{16384, 16384} << "0-2";
    QTest::newRow("one pixel over") << QVector<int>{16384, 16385} << "0-1,1-2";
    QTest::newRow("two of 20000") << QVector<int>{20000, 20000} << "0-1,1-2";
    QTest::newRow("one frame at the limit") << QVector<int>{32768, 1} << "0-1,1-2";
    QTest::newRow("leading null rides along") << QVector<int>{0, 20000, 20000} << "0-2,2-3";
    QTest::newRow("trailing null rides along") << QVector<int>{20000, 20000, 0} << "0-1,1-3";
    QTest::newRow("null between") << QVector<int>{30000, 0, 2768, 1} << "0-3,3-4";
    QTest::newRow("only nulls") << QVector<int>{0, 0, 0} << "0-3";
    QTest::newRow("nothing") << QVector<int>{} << "";
}

void StitchComposerTest::splitIsGreedyAndNeverCutsAFrame()
{
    QFETCH(QVector<int>, lengths);
    QFETCH(QString, segments);
    const SegmentSplit split = splitIntoSegments(lengths, 32768);
    QCOMPARE(split.oversizedFrame, -1);
    QCOMPARE(describe(split.segments), segments);
}

void StitchComposerTest::frameLongerThanTheLimitStopsTheSplit()
{
    const SegmentSplit split = splitIntoSegments({100, 20000, 40000, 50000}, 32768);
    QCOMPARE(split.oversizedFrame, 2);
}

void StitchComposerTest::surveyKeepsGrayOnlyForGrayFormats_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<bool>("gray");
    QTest::newRow("Grayscale8") << int(QImage::Format_Grayscale8) << true;
    QTest::newRow("Mono") << int(QImage::Format_Mono) << true;
    QTest::newRow("Indexed8") << int(QImage::Format_Indexed8) << true;
    QTest::newRow("MonoLSB") << int(QImage::Format_MonoLSB) << false;
    QTest::newRow("RGB888") << int(QImage::Format_RGB888) << false;
    QTest::newRow("RGB32") << int(QImage::Format_RGB32) << false;
    QTest::newRow("Grayscale16") << int(QImage::Format_Grayscale16) << false;
}

void StitchComposerTest::surveyKeepsGrayOnlyForGrayFormats()
{
    QFETCH(int, format);
    QFETCH(bool, gray);
    const QImage grayFrame = patternFrame(4, 3, QImage::Format_Grayscale8, 1);
    const QImage other = patternFrame(5, 2, QImage::Format(format), 2);
    const FrameSurvey survey = surveyFrames({grayFrame, other, grayFrame});
    QCOMPARE(survey.gray, gray);
    QCOMPARE(survey.validCount, 3);
}

void StitchComposerTest::surveyIgnoresNullFrames()
{
    const QImage frame = patternFrame(7, 3, QImage::Format_RGB888, 1);
    const QImage tall = patternFrame(2, 9, QImage::Format_RGB888, 2);
    const FrameSurvey survey = surveyFrames({QImage(), frame, QImage(), tall});
    QCOMPARE(survey.validCount, 2);
    QCOMPARE(survey.valid, (QVector<quint8>{0, 1, 0, 1}));
    QCOMPARE(survey.widths, (QVector<qint32>{0, 7, 0, 2}));
    QCOMPARE(survey.heights, (QVector<qint32>{0, 3, 0, 9}));
    QCOMPARE(survey.maxWidth, 7);
    QCOMPARE(survey.maxHeight, 9);
    QCOMPARE(survey.lengths(true), (QVector<int>{0, 7, 0, 2}));
    QCOMPARE(survey.lengths(false), (QVector<int>{0, 3, 0, 9}));
}

void StitchComposerTest::drawingCopiesTheSamePixelsAsAPainter_data()
{
    QTest::addColumn<int>("canvasFormat");
    QTest::addColumn<int>("frameFormat");
    QTest::addColumn<bool>("horizontal");
    const QList<QPair<const char *, QImage::Format>> formats = {{"RGB888", QImage::Format_RGB888},
                                                                {"RGB32", QImage::Format_RGB32},
                                                                {"Gray8", QImage::Format_Grayscale8},
                                                                {"Mono", QImage::Format_Mono},
                                                                {"Indexed8", QImage::Format_Indexed8}};
    const QList<QPair<const char *, QImage::Format>> canvases = {{"RGB888", QImage::Format_RGB888},
                                                                 {"RGB32", QImage::Format_RGB32},
                                                                 {"Gray8", QImage::Format_Grayscale8}};
    for (const auto &canvas : canvases) {
        for (const auto &format : formats) {
            for (bool horizontal : {true, false}) {
                QTest::addRow("%s canvas, %s frame, %s", canvas.first, format.first, horizontal ? "x" : "y")
                    << int(canvas.second) << int(format.second) << horizontal;
            }
        }
    }
}

void StitchComposerTest::drawingCopiesTheSamePixelsAsAPainter()
{
    QFETCH(int, canvasFormat);
    QFETCH(int, frameFormat);
    QFETCH(bool, horizontal);
    // The second frame runs past the canvas edge, the first is shorter than
    // the cross side: clipping and black fill both show.
    const QImage first = patternFrame(5, 4, QImage::Format(frameFormat), 1);
    const QImage second = patternFrame(9, 8, QImage::Format(frameFormat), 2);

    QImage drawn = createCanvas(11, 7, QImage::Format(canvasFormat));
    int offset = drawFrame(drawn, first, 0, horizontal);
    QCOMPARE(offset, horizontal ? 5 : 4);
    offset = drawFrame(drawn, second, offset, horizontal);
    QCOMPARE(offset, horizontal ? 14 : 12);

    QImage painted(11, 7, QImage::Format(canvasFormat));
    painted.fill(Qt::black);
    {
        QPainter painter(&painted);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(QPoint(0, 0), first.convertToFormat(painted.format()));
        painter.drawImage(horizontal ? QPoint(5, 0) : QPoint(0, 4), second.convertToFormat(painted.format()));
    }
    QCOMPARE(drawn, painted);
}

void StitchComposerTest::drawingIntoANullCanvasDoesNothing()
{
    QImage canvas;
    const QImage frame = patternFrame(5, 4, QImage::Format_RGB888, 1);
    QCOMPARE(drawFrame(canvas, frame, 3, true), 8);
    QVERIFY(canvas.isNull());
}

void StitchComposerTest::canvasIsGrayOnlyForGrayBatches_data()
{
    QTest::addColumn<bool>("gray");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<int>("format");
    QTest::newRow("gray png") << true << "png" << int(QImage::Format_Grayscale8);
    QTest::newRow("gray bmp") << true << "bmp" << int(QImage::Format_Grayscale8);
    QTest::newRow("colour jpg") << false << "jpg" << int(QImage::Format_RGB888);
    QTest::newRow("colour tif") << false << "tif" << int(QImage::Format_RGB888);
    // The BMP encoder takes 32-bit pixels without a whole-picture copy.
    QTest::newRow("colour bmp") << false << "bmp" << int(QImage::Format_RGB32);
}

void StitchComposerTest::canvasIsGrayOnlyForGrayBatches()
{
    QFETCH(bool, gray);
    QFETCH(QString, extension);
    QFETCH(int, format);
    QCOMPARE(int(canvasFormat(gray, extension)), format);
    const QImage canvas = createCanvas(3, 2, QImage::Format(format));
    QCOMPARE(int(canvas.format()), format);
    QCOMPARE(canvas.convertToFormat(QImage::Format_RGB888).pixel(2, 1), qRgb(0, 0, 0));
}

QTEST_GUILESS_MAIN(StitchComposerTest)
#include "tst_stitchcomposer.moc"

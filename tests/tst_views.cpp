// The two views: zoom and fit of the stitch view, the wheel, and the live
// view's rotation menu with its persisted angle.
#include <QtTest>

#include "appsettings.h"
#include "mainwindow.h"
#include "scratchdirectory.h"
#include "ui_mainwindow.h"

#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QMenu>
#include <QScrollBar>
#include <QSettings>

#include <memory>

class TestViews : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDirectory> m_scratch;
    std::unique_ptr<MainWindow> m_window;

    MainWindow &w()
    {
        return *m_window;
    }
    QGraphicsView *stitchView()
    {
        return w().ui->gvStitch;
    }
    double stitchScale()
    {
        return stitchView()->transform().m11();
    }

    // Puts a 2000x100 strip into the stitch scene, as a shown batch would.
    void showStrip()
    {
        w().m_stitchScene->clear();
        QPixmap strip(2000, 100);
        strip.fill(Qt::darkGreen);
        w().m_stitchScene->addPixmap(strip);
        w().m_stitchScene->setSceneRect(
            w().m_stitchScene->itemsBoundingRect().adjusted(-20, -20, 20, 20));
        w().fitStitchView();
    }
    double expectedFit()
    {
        const QRect viewport = stitchView()->viewport()->rect();
        const QRectF scene = w().m_stitchScene->sceneRect();
        return qMin(viewport.width() / scene.width(), viewport.height() / scene.height());
    }
    // Answers the rotation menu with its entry number `entry` (-1: dismissed)
    // and remembers what the menu offered.
    QStringList m_menuTexts;
    QList<bool> m_menuEnabled;
    void answerRotationMenu(int entry)
    {
        w().m_execRotationMenu = [this, entry](QMenu *menu, const QPoint &) -> QAction * {
            m_menuTexts.clear();
            m_menuEnabled.clear();
            for (QAction *action : menu->actions()) {
                m_menuTexts.append(action->text());
                m_menuEnabled.append(action->isEnabled());
            }
            return entry < 0 ? nullptr : menu->actions().at(entry);
        };
    }
    bool wholeLiveFrameInSight()
    {
        QGraphicsView *gv = w().ui->gv;
        const QRectF visible = gv->mapToScene(gv->viewport()->rect()).boundingRect();
        return visible.adjusted(-1, -1, 1, 1).contains(w().m_livePixmapItem->sceneBoundingRect());
    }
    void showLiveFrame(const QSize &size)
    {
        QImage frame(size, QImage::Format_Grayscale8);
        frame.fill(128);
        w().m_isOpen = true;
        w().m_isGrabbing = true;
        const qint64 before = w().m_livePixmapItem->pixmap().cacheKey();
        QMetaObject::invokeMethod(&w(), "onFrameGrabbed", Q_ARG(QImage, frame));
        QTRY_VERIFY(w().m_livePixmapItem->pixmap().cacheKey() != before);
        QCOMPARE(w().m_livePixmapItem->pixmap().size(), size);
    }

private slots:
    void init();
    void cleanup();

    void viewsAreSetUpForTheirJobs();
    void zoomingOutStopsAtOneHundredth();
    void zoomingInMultipliesTheScaleAndShowsScrollBars();
    void resizeRefitsTheStripWhileAutoFitIsOn();
    void resizeKeepsTheZoomAfterAZoomAction();
    void emptyStitchSceneIsLeftAloneOnResize();
    void fullScreenActionFitsBothViewsAgain();
    void wheelOverTheLiveViewZoomsIt_data();
    void wheelOverTheLiveViewZoomsIt();
    void wheelOverTheStitchViewScrollsItSideways_data();
    void wheelOverTheStitchViewScrollsItSideways();

    void rotationMenuOffersThreeChoicesAndTheCurrentAngle();
    void rotationChoiceIsAppliedAndWritten_data();
    void rotationChoiceIsAppliedAndWritten();
    void dismissingTheRotationMenuWritesNothing();
    void rotatedLiveImageIsRefittedOnEveryFrame();
    void unrotatedLiveImageKeepsAWheelZoom();
};

void TestViews::init()
{
    m_scratch = std::make_unique<ScratchDirectory>();
    m_window = std::make_unique<MainWindow>();
    w().setLiveViewVisible(true);
    w().resize(900, 600);
    w().show();
    QVERIFY(QTest::qWaitForWindowExposed(&w()));
}

void TestViews::cleanup()
{
    m_window.reset();
    m_scratch.reset();
}

void TestViews::viewsAreSetUpForTheirJobs()
{
    QCOMPARE(w().ui->gv->scene(), w().m_liveScene);
    QCOMPARE(w().m_livePixmapItem->scene(), w().m_liveScene);
    QCOMPARE(w().ui->gv->dragMode(), QGraphicsView::ScrollHandDrag);
    QCOMPARE(w().ui->gv->contextMenuPolicy(), Qt::CustomContextMenu);
    QCOMPARE(stitchView()->scene(), w().m_stitchScene);
    QCOMPARE(stitchView()->dragMode(), QGraphicsView::NoDrag);
    QCOMPARE(stitchView()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(w().m_stitchScene->itemIndexMethod(), QGraphicsScene::NoIndex);
    QVERIFY(w().m_autoFitStitch);
    // A second setup keeps the scene and switches auto fit on again.
    QGraphicsScene *scene = w().m_stitchScene;
    w().m_autoFitStitch = false;
    w().setupStitchView();
    QCOMPARE(w().m_stitchScene, scene);
    QVERIFY(w().m_autoFitStitch);
}

void TestViews::zoomingOutStopsAtOneHundredth()
{
    showStrip();
    for (int i = 0; i < 60; ++i)
        w().ui->action_ZoomOut->trigger();
    QCOMPARE(stitchScale(), 0.01);
    QVERIFY(!w().m_autoFitStitch);
    w().ui->action_ZoomOut->trigger();
    QCOMPARE(stitchScale(), 0.01);
}

void TestViews::zoomingInMultipliesTheScaleAndShowsScrollBars()
{
    showStrip();
    const double before = stitchScale();
    w().ui->action_ZoomInt->trigger();
    QCOMPARE(stitchScale(), before * 1.2);
    QCOMPARE(stitchView()->transform().m22(), before * 1.2);
    QCOMPARE(stitchView()->horizontalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
    QCOMPARE(stitchView()->verticalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
}

void TestViews::resizeRefitsTheStripWhileAutoFitIsOn()
{
    showStrip();
    const double before = stitchScale();
    w().resize(1500, 800);
    QTRY_VERIFY(stitchScale() > before);
    QCOMPARE(stitchScale(), expectedFit());
    QCOMPARE(stitchView()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(stitchView()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
}

void TestViews::resizeKeepsTheZoomAfterAZoomAction()
{
    showStrip();
    w().ui->action_ZoomInt->trigger();
    w().ui->action_ZoomInt->trigger();
    const double zoomed = stitchScale();
    w().resize(1200, 700);
    QTRY_VERIFY(stitchView()->viewport()->width() > 700);
    QCOMPARE(stitchScale(), zoomed);
    QCOMPARE(stitchView()->horizontalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
}

void TestViews::emptyStitchSceneIsLeftAloneOnResize()
{
    stitchView()->setTransform(QTransform::fromScale(0.5, 0.5));
    w().resize(1100, 650);
    QTRY_VERIFY(stitchView()->viewport()->width() > 600);
    QCOMPARE(stitchScale(), 0.5);
}

void TestViews::fullScreenActionFitsBothViewsAgain()
{
    showStrip();
    showLiveFrame(QSize(400, 300));
    w().ui->action_ZoomInt->trigger();
    w().ui->gv->scale(3, 3);
    w().ui->action_FullScreen->trigger();
    QVERIFY(w().m_autoFitStitch);
    QCOMPARE(stitchScale(), expectedFit());
    QVERIFY(wholeLiveFrameInSight());
    QVERIFY(!w().isFullScreen());
}

void TestViews::wheelOverTheLiveViewZoomsIt_data()
{
    QTest::addColumn<int>("delta");
    QTest::addColumn<double>("factor");
    QTest::newRow("up zooms in") << 120 << 1.1;
    QTest::newRow("down zooms out") << -120 << 0.9;
}

void TestViews::wheelOverTheLiveViewZoomsIt()
{
    QFETCH(int, delta);
    QFETCH(double, factor);
    const double before = w().ui->gv->transform().m11();
    w().ui->gv->setAttribute(Qt::WA_UnderMouse, true);
    QWheelEvent event(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&w(), &event);
    QVERIFY(event.isAccepted());
    QCOMPARE(w().ui->gv->transform().m11(), before * factor);
    QCOMPARE(w().ui->gv->transform().m22(), before * factor);
}

void TestViews::wheelOverTheStitchViewScrollsItSideways_data()
{
    QTest::addColumn<int>("delta");
    QTest::addColumn<int>("step");
    QTest::newRow("up scrolls left") << 120 << -40;
    QTest::newRow("down scrolls right") << -120 << 40;
}

void TestViews::wheelOverTheStitchViewScrollsItSideways()
{
    QFETCH(int, delta);
    QFETCH(int, step);
    showStrip();
    for (int i = 0; i < 3; ++i)
        w().ui->action_ZoomInt->trigger();
    QScrollBar *bar = stitchView()->horizontalScrollBar();
    QTRY_VERIFY(bar->maximum() > 200);
    bar->setValue(100);
    stitchView()->setAttribute(Qt::WA_UnderMouse, true);
    QWheelEvent event(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&w(), &event);
    QVERIFY(event.isAccepted());
    QCOMPARE(bar->value(), 100 + step);
}

void TestViews::rotationMenuOffersThreeChoicesAndTheCurrentAngle()
{
    w().m_gvRotationAngle = 180;
    answerRotationMenu(-1);
    w().ui->gv->customContextMenuRequested(QPoint(5, 5));
    QCOMPARE(m_menuTexts,
             (QStringList{QStringLiteral("左旋转90°"), QStringLiteral("右旋转90°"),
                          QStringLiteral("重置旋转"), QStringLiteral("当前角度: 180°")}));
    QCOMPARE(m_menuEnabled, (QList<bool>{true, true, true, false}));
}

void TestViews::rotationChoiceIsAppliedAndWritten_data()
{
    QTest::addColumn<int>("angle");
    QTest::addColumn<int>("entry");
    QTest::addColumn<int>("expected");
    QTest::newRow("left from 0 gives 270") << 0 << 0 << 270;
    QTest::newRow("right from 270 gives 0") << 270 << 1 << 0;
    QTest::newRow("right from 90 gives 180") << 90 << 1 << 180;
    QTest::newRow("reset from 90 gives 0") << 90 << 2 << 0;
}

void TestViews::rotationChoiceIsAppliedAndWritten()
{
    QFETCH(int, angle);
    QFETCH(int, entry);
    QFETCH(int, expected);
    showLiveFrame(QSize(300, 100));
    w().m_gvRotationAngle = angle;
    answerRotationMenu(entry);
    w().ui->gv->customContextMenuRequested(QPoint(5, 5));
    QCOMPARE(w().m_gvRotationAngle, expected);
    QCOMPARE(AppSettings::intValue(AppSettings::kGvRotationAngle, -1), expected);
    // The item is turned about its centre: a quarter turn stands it upright.
    const QRectF shown = w().m_livePixmapItem->sceneBoundingRect();
    const bool upright = expected == 90 || expected == 270;
    QCOMPARE(shown.size(), upright ? QSizeF(100, 300) : QSizeF(300, 100));
    QCOMPARE(shown.center(), QPointF(150, 50));
}

void TestViews::dismissingTheRotationMenuWritesNothing()
{
    showLiveFrame(QSize(300, 100));
    w().m_gvRotationAngle = 90;
    answerRotationMenu(-1);
    w().ui->gv->customContextMenuRequested(QPoint(5, 5));
    QCOMPARE(w().m_gvRotationAngle, 90);
    QSettings settings(AppSettings::fileName(), QSettings::IniFormat);
    QVERIFY(!settings.contains(AppSettings::kGvRotationAngle));
    QVERIFY(w().m_livePixmapItem->transform().isIdentity());
}

void TestViews::rotatedLiveImageIsRefittedOnEveryFrame()
{
    w().m_gvRotationAngle = 90;
    // The first fit can bring up a scroll bar; from the second frame on the
    // fit is steady.
    showLiveFrame(QSize(300, 100));
    showLiveFrame(QSize(300, 100));
    const double fitted = w().ui->gv->transform().m11();
    w().ui->gv->scale(4, 4);
    QVERIFY(!wholeLiveFrameInSight());
    showLiveFrame(QSize(300, 100));
    QCOMPARE(w().ui->gv->transform().m11(), fitted);
}

void TestViews::unrotatedLiveImageKeepsAWheelZoom()
{
    showLiveFrame(QSize(300, 100));
    w().ui->gv->scale(2, 2);
    const double zoomed = w().ui->gv->transform().m11();
    showLiveFrame(QSize(300, 100));
    QCOMPARE(w().ui->gv->transform().m11(), zoomed);
}

QTEST_MAIN(TestViews)
#include "tst_views.moc"

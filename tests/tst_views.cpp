// The two views: zoom and fit of the stitch view, and the live
// view's rotation menu with its persisted angle.
#include <QtTest>

#include "appsettings.h"
#include "mainwindow.h"
#include "scratchdirectory.h"
#include "ui_mainwindow.h"

#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QMenu>
#include <QSettings>

#include <memory>

class TestViews : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDirectory> m_scratch;
    std::unique_ptr<MainWindow> m_window;
    QStringList m_menuTexts;

    MainWindow &w() { return *m_window; }
    QGraphicsView *stitchView() { return w().ui->gvStitch; }
    double stitchScale() { return stitchView()->transform().m11(); }

    // Puts a 2000x100 strip into the stitch scene, as a shown batch would.
    void showStrip()
    {
        QPixmap strip(2000, 100);
        strip.fill(Qt::darkGreen);
        w().m_stitchScene->addPixmap(strip);
        w().m_stitchScene->setSceneRect(w().m_stitchScene->itemsBoundingRect().adjusted(-20, -20, 20, 20));
        w().fitStitchView();
    }
    // Opens the rotation menu and answers it with entry `entry` (-1: dismissed).
    void answerRotationMenu(int entry)
    {
        w().m_execRotationMenu = [this, entry](QMenu *menu, const QPoint &) -> QAction * {
            m_menuTexts.clear();
            for (QAction *action : menu->actions())
                m_menuTexts.append(action->text() + (action->isEnabled() ? "" : " (disabled)"));
            return entry < 0 ? nullptr : menu->actions().at(entry);
        };
        w().ui->gv->customContextMenuRequested(QPoint(5, 5));
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
    }

private slots:
    void init();
    void cleanup();

    void zoomingOutStopsAtOneHundredth();
    void resizeRefitsTheStripOnlyWhileAutoFitIsOn_data();
    void resizeRefitsTheStripOnlyWhileAutoFitIsOn();
    void rotationMenuOffersThreeChoicesAndTheCurrentAngle();
    void rotationChoiceIsAppliedAndWritten_data();
    void rotationChoiceIsAppliedAndWritten();
    void dismissingTheRotationMenuWritesNothing();
    void onlyARotatedLiveImageIsRefittedOnEveryFrame_data();
    void onlyARotatedLiveImageIsRefittedOnEveryFrame();
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

void TestViews::zoomingOutStopsAtOneHundredth()
{
    showStrip();
    for (int i = 0; i < 60; ++i)
        w().ui->action_ZoomOut->trigger();
    QCOMPARE(stitchScale(), 0.01);
    QVERIFY(!w().m_autoFitStitch);
}

void TestViews::resizeRefitsTheStripOnlyWhileAutoFitIsOn_data()
{
    QTest::addColumn<bool>("zoomed");
    QTest::newRow("fitted strip is refitted") << false;
    QTest::newRow("zoomed strip keeps its zoom") << true;
}

void TestViews::resizeRefitsTheStripOnlyWhileAutoFitIsOn()
{
    QFETCH(bool, zoomed);
    showStrip();
    if (zoomed)
        w().ui->action_ZoomInt->trigger();
    const double before = stitchScale();
    const int width = stitchView()->viewport()->width();
    w().resize(1500, 800);
    QTRY_VERIFY(stitchView()->viewport()->width() > width + 100);
    const QRect viewport = stitchView()->viewport()->rect();
    const QRectF scene = w().m_stitchScene->sceneRect();
    QCOMPARE(stitchScale(),
             zoomed ? before : qMin(viewport.width() / scene.width(), viewport.height() / scene.height()));
    QCOMPARE(stitchView()->horizontalScrollBarPolicy(),
             zoomed ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
}

void TestViews::rotationMenuOffersThreeChoicesAndTheCurrentAngle()
{
    w().m_gvRotationAngle = 180;
    answerRotationMenu(-1);
    QCOMPARE(m_menuTexts, (QStringList{"左旋转90°", "右旋转90°", "重置旋转", "当前角度: 180° (disabled)"}));
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
    QCOMPARE(w().m_gvRotationAngle, expected);
    QCOMPARE(AppSettings::intValue(AppSettings::kGvRotationAngle, -1), expected);
    // The item is turned about its centre: a quarter turn stands it upright.
    const QRectF shown = w().m_livePixmapItem->sceneBoundingRect();
    QCOMPARE(shown.size(), expected % 180 ? QSizeF(100, 300) : QSizeF(300, 100));
    QCOMPARE(shown.center(), QPointF(150, 50));
}

void TestViews::dismissingTheRotationMenuWritesNothing()
{
    showLiveFrame(QSize(300, 100));
    w().m_gvRotationAngle = 90;
    answerRotationMenu(-1);
    QCOMPARE(w().m_gvRotationAngle, 90);
    QVERIFY(
        !QSettings(AppSettings::fileName(), QSettings::IniFormat).contains(AppSettings::kGvRotationAngle));
    QVERIFY(w().m_livePixmapItem->transform().isIdentity());
}

void TestViews::onlyARotatedLiveImageIsRefittedOnEveryFrame_data()
{
    QTest::addColumn<int>("angle");
    QTest::newRow("rotated 90: refitted") << 90;
    QTest::newRow("unrotated: keeps a wheel zoom") << 0;
}

void TestViews::onlyARotatedLiveImageIsRefittedOnEveryFrame()
{
    QFETCH(int, angle);
    w().m_gvRotationAngle = angle;
    // The first fit can bring up a scroll bar; from the second frame on it is steady.
    showLiveFrame(QSize(300, 100));
    showLiveFrame(QSize(300, 100));
    const double fitted = w().ui->gv->transform().m11();
    w().ui->gv->scale(4, 4);
    showLiveFrame(QSize(300, 100));
    QCOMPARE(w().ui->gv->transform().m11(), angle ? fitted : fitted * 4);
}

QTEST_MAIN(TestViews)
#include "tst_views.moc"

// The main window's frame: size, toolbar, actions, icons, wiring order.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "messageboxrecorder.h"
#include "scratchdirectory.h"
#include "stitchworker.h"
#include "workthread.h"

#include <QAction>
#include <QMenuBar>
#include <QMetaMethod>
#include <QTest>
#include <QThread>
#include <QToolBar>
#include <QToolButton>

#include <memory>

class TestShell : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDirectory> m_scratch;

private slots:
    void init() { m_scratch = std::make_unique<ScratchDirectory>(); }
    void cleanup() { m_scratch.reset(); }

    void windowIsTitledCorvistaAndStartsAtItsMinimumSize();
    void windowCannotBeMadeSmallerThanItsMinimum();
    void toolbarShowsTenActionsAndSixSeparatorsInOrder();
    void actionsForProgramUseAppearOnNoToolbarAndNoMenu_data();
    void actionsForProgramUseAppearOnNoToolbarAndNoMenu();
    void menuBarIsEmpty();
    void stitchStartIsEnabledAndStitchStopDisabledAtStart();
    void checkableActionShowsItsOtherIconWhenChecked_data();
    void checkableActionShowsItsOtherIconWhenChecked();
    void toolbarButtonBackgroundStaysTransparent_data();
    void toolbarButtonBackgroundStaysTransparent();
    void everyResourceImageHasItsStatedSize_data();
    void everyResourceImageHasItsStatedSize();
    void windowIconComesFromTheResourceTree();
    void argumentFreeSlotIsDeclaredBeforeTheCheckedSlot_data();
    void argumentFreeSlotIsDeclaredBeforeTheCheckedSlot();
    void byNameWiringRunsSlotsInDeclarationOrder();
    void stitchThreadRunsForTheLifeOfTheWindow();
};

namespace {

QToolButton *buttonFor(MainWindow &window, QAction *action)
{
    return qobject_cast<QToolButton *>(window.ui->mainToolBar->widgetForAction(action));
}

// The form's actions by object name, so data tables can name them.
QAction *actionNamed(MainWindow &window, const QString &name)
{
    return window.findChild<QAction *>(name, Qt::FindDirectChildrenOnly);
}

} // namespace

void TestShell::windowIsTitledCorvistaAndStartsAtItsMinimumSize()
{
    MainWindow window;
    QCOMPARE(window.windowTitle(), QStringLiteral("Corvista"));
    QCOMPARE(window.objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(window.size(), QSize(1280, 640));
}

void TestShell::windowCannotBeMadeSmallerThanItsMinimum()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.resize(800, 400);
    QTest::qWait(20);
    QVERIFY(window.width() >= 1280);
    QVERIFY(window.height() >= 640);
}

void TestShell::toolbarShowsTenActionsAndSixSeparatorsInOrder()
{
    MainWindow window;
    QStringList order;
    const QList<QAction *> actions = window.ui->mainToolBar->actions();
    for (QAction *action : actions)
        order << (action->isSeparator() ? QStringLiteral("|") : action->objectName());
    const QStringList expected{"actionCameraSearch",
                               "|",
                               "actionCameraOpen",
                               "actionCameraStart",
                               "|",
                               "actionSetting",
                               "|",
                               "actionSave_Image",
                               "|",
                               "action_ZoomInt",
                               "action_ZoomOut",
                               "action_FullScreen",
                               "|",
                               "actionClearImages",
                               "|",
                               "actionAbout"};
    QCOMPARE(order, expected);
    QCOMPARE(window.ui->mainToolBar->toolButtonStyle(), Qt::ToolButtonIconOnly);
    QCOMPARE(window.toolBarArea(window.ui->mainToolBar), Qt::TopToolBarArea);
}

void TestShell::actionsForProgramUseAppearOnNoToolbarAndNoMenu_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("stop") << "actionCameraStop";
    QTest::newRow("close") << "actionCameraClose";
    QTest::newRow("stitch start") << "actionStitchStart";
    QTest::newRow("stitch stop") << "actionStitchStop";
}

void TestShell::actionsForProgramUseAppearOnNoToolbarAndNoMenu()
{
    QFETCH(QString, name);
    MainWindow window;
    QAction *action = actionNamed(window, name);
    QVERIFY(action);
    // An action added to a toolbar, menu or widget lists that widget here.
    QVERIFY2(action->associatedWidgets().isEmpty(), qPrintable(name));
}

void TestShell::menuBarIsEmpty()
{
    MainWindow window;
    QCOMPARE(window.menuBar(), window.ui->menuBar);
    QVERIFY(window.ui->menuBar->actions().isEmpty());
    QCOMPARE(window.ui->menuBar->geometry(), QRect(0, 0, 1280, 22));
}

void TestShell::stitchStartIsEnabledAndStitchStopDisabledAtStart()
{
    MainWindow window;
    QVERIFY(window.ui->actionStitchStart->isEnabled());
    QVERIFY(!window.ui->actionStitchStop->isEnabled());
}

void TestShell::checkableActionShowsItsOtherIconWhenChecked_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("offImage");
    QTest::addColumn<QString>("onImage");
    QTest::newRow("open") << "actionCameraOpen"
                          << ":/res/Open.png"
                          << ":/res/Close.png";
    QTest::newRow("start") << "actionCameraStart"
                           << ":/res/play.png"
                           << ":/res/pause.png";
}

void TestShell::checkableActionShowsItsOtherIconWhenChecked()
{
    QFETCH(QString, name);
    QFETCH(QString, offImage);
    QFETCH(QString, onImage);
    MainWindow window;
    QAction *action = actionNamed(window, name);
    QVERIFY(action && action->isCheckable());

    const QSize size(48, 48);
    const QImage expectedOff = QIcon(offImage).pixmap(size).toImage();
    const QImage expectedOn = QIcon(onImage).pixmap(size).toImage();
    QVERIFY(!expectedOff.isNull());
    QVERIFY(expectedOff != expectedOn);
    QCOMPARE(action->icon().pixmap(size, QIcon::Normal, QIcon::Off).toImage(), expectedOff);
    QCOMPARE(action->icon().pixmap(size, QIcon::Normal, QIcon::On).toImage(), expectedOn);

    // The toolbar button paints the icon of the action's state: checking and
    // unchecking change the picture and change it back.
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QToolButton *button = buttonFor(window, action);
    QVERIFY(button);
    const QImage unchecked = button->grab().toImage();
    action->setChecked(true);
    const QImage checked = button->grab().toImage();
    action->setChecked(false);
    QVERIFY(checked != unchecked);
    QCOMPARE(button->grab().toImage(), unchecked);
}

void TestShell::toolbarButtonBackgroundStaysTransparent_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<bool>("hovered");
    QTest::newRow("open checked") << "actionCameraOpen" << true << false;
    QTest::newRow("open hovered") << "actionCameraOpen" << false << true;
    QTest::newRow("start checked and hovered") << "actionCameraStart" << true << true;
    QTest::newRow("search hovered") << "actionCameraSearch" << false << true;
}

void TestShell::toolbarButtonBackgroundStaysTransparent()
{
    QFETCH(QString, name);
    QFETCH(bool, checked);
    QFETCH(bool, hovered);
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QAction *action = actionNamed(window, name);
    QToolButton *button = buttonFor(window, action);
    QVERIFY(button);

    // The corner of a button lies outside its icon: there the toolbar shows
    // the button's background, which must look the same in every state.
    const QPoint corner = button->geometry().topLeft() + QPoint(1, 1);
    const QRgb plain = window.ui->mainToolBar->grab().toImage().pixel(corner);

    if (checked)
        action->setChecked(true);
    if (hovered) {
        button->setAttribute(Qt::WA_UnderMouse, true);
        QEvent enter(QEvent::Enter);
        QCoreApplication::sendEvent(button, &enter);
    }
    QCOMPARE(window.ui->mainToolBar->grab().toImage().pixel(corner), plain);
}

void TestShell::everyResourceImageHasItsStatedSize_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::newRow("app icon") << ":/res/app.ico" << QSize(256, 256);
    QTest::newRow("play") << ":/res/play.png" << QSize(256, 256);
    QTest::newRow("pause") << ":/res/pause.png" << QSize(256, 256);
    QTest::newRow("open") << ":/res/Open.png" << QSize(1636, 1636);
    QTest::newRow("close") << ":/res/Close.png" << QSize(1636, 1636);
    QTest::newRow("camera") << ":/res/cam.png" << QSize(128, 128);
    QTest::newRow("setting") << ":/res/setting.png" << QSize(128, 128);
    QTest::newRow("save") << ":/res/save.png" << QSize(256, 256);
    QTest::newRow("brush") << ":/res/brush.png" << QSize(128, 128);
    QTest::newRow("zoom in") << ":/res/zoomin.png" << QSize(32, 32);
    QTest::newRow("zoom out") << ":/res/zoomout.png" << QSize(32, 32);
    QTest::newRow("full screen") << ":/res/window-no-full-screen-icon.png" << QSize(256, 256);
    QTest::newRow("stitch start") << ":/res/StitchStart.png" << QSize(2048, 2048);
    QTest::newRow("stitch stop") << ":/res/StitchStop.png" << QSize(2048, 2048);
    QTest::newRow("logo") << ":/res/logo.png" << QSize(108, 97);
}

void TestShell::everyResourceImageHasItsStatedSize()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    const QImage image(path);
    QVERIFY2(!image.isNull(), qPrintable(path));
    QCOMPARE(image.size(), size);
}

void TestShell::windowIconComesFromTheResourceTree()
{
    MainWindow window;
    const QImage expected = QIcon(QStringLiteral(":/res/app.ico")).pixmap(64, 64).toImage();
    QVERIFY(!expected.isNull());
    QCOMPARE(window.windowIcon().pixmap(64, 64).toImage(), expected);
}

void TestShell::argumentFreeSlotIsDeclaredBeforeTheCheckedSlot_data()
{
    QTest::addColumn<QByteArray>("plainSlot");
    QTest::addColumn<QByteArray>("checkedSlot");
    QTest::newRow("open") << QByteArray("on_actionCameraOpen_triggered()")
                          << QByteArray("on_actionCameraOpen_triggered(bool)");
    QTest::newRow("start") << QByteArray("on_actionCameraStart_triggered()")
                           << QByteArray("on_actionCameraStart_triggered(bool)");
}

// The by-name wiring connects a form's slots in method-index order, and a
// signal calls its slots in connection order. This checks the half that is
// ours: the window's meta-object lists the argument-free slot first, so a
// click runs it before the bool slot (the next test checks Qt's half).
void TestShell::argumentFreeSlotIsDeclaredBeforeTheCheckedSlot()
{
    QFETCH(QByteArray, plainSlot);
    QFETCH(QByteArray, checkedSlot);
    const QMetaObject &meta = MainWindow::staticMetaObject;
    const int plain = meta.indexOfSlot(plainSlot.constData());
    const int checked = meta.indexOfSlot(checkedSlot.constData());
    QVERIFY(plain >= 0);
    QVERIFY(checked >= 0);
    QVERIFY(plain < checked);
}

namespace {

// Two slots for one checkable action, declared in the window's order; the
// form's setup wires them by name exactly as it does for the window.
class SlotOrderProbe : public QMainWindow
{
    Q_OBJECT
public:
    QStringList calls;
    Ui::MainWindow form;
    SlotOrderProbe() { form.setupUi(this); }
private slots:
    void on_actionCameraOpen_triggered() { calls << QStringLiteral("plain"); }
    void on_actionCameraOpen_triggered(bool checked)
    {
        calls << (checked ? QStringLiteral("checked:on") : QStringLiteral("checked:off"));
    }
};

} // namespace

void TestShell::byNameWiringRunsSlotsInDeclarationOrder()
{
    SlotOrderProbe probe;
    probe.form.actionCameraOpen->trigger();
    probe.form.actionCameraOpen->trigger();
    QCOMPARE(probe.calls, (QStringList{"plain", "checked:on", "plain", "checked:off"}));
}

void TestShell::stitchThreadRunsForTheLifeOfTheWindow()
{
    MainWindow window;
    QVERIFY(window.m_stitchThread);
    QVERIFY(window.m_stitchThread->isRunning());
    QVERIFY(window.m_stitchWorker);
    QCOMPARE(window.m_stitchWorker->thread(), window.m_stitchThread);
    QVERIFY(!window.m_workThread->isRunning());
}

QTEST_MAIN(TestShell)
#include "tst_shell.moc"

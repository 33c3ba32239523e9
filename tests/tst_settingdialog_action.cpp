// The Setting action of the main window: it opens the settings dialog modally
// only with a camera open, wires it to the window while it runs and destroys it
// when it closes.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QGraphicsView>
#include <QPointer>
#include <QRadioButton>
#include <QSettings>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

#include "appsettings.h"
#include "mainwindow.h"
#include "messageboxrecorder.h"
#include "scratchdirectory.h"
#include "settingdialog.h"
#include "tst_settingdialog_camera.h"

namespace {

// Finds the settings dialog once it runs modally, hands it to a check and
// closes it, as an operator would.
class SettingDialogCloser : public QObject
{
public:
    explicit SettingDialogCloser(std::function<void(settingdialog *)> check) : m_check(std::move(check))
    {
        connect(&m_timer, &QTimer::timeout, this, &SettingDialogCloser::poll);
        m_timer.start(10);
    }

    int seen = 0;

private:
    void poll()
    {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            QPointer<settingdialog> dialog = qobject_cast<settingdialog *>(widget);
            if (!dialog || !dialog->isVisible() || dialog->property("checked").toBool())
                continue;
            dialog->setProperty("checked", true);
            ++seen;
            m_check(dialog);
            if (dialog)
                dialog->reject();
        }
    }

    std::function<void(settingdialog *)> m_check;
    QTimer m_timer;
};

QAction *settingAction(MainWindow &window)
{
    auto *action = window.findChild<QAction *>(QStringLiteral("actionSetting"));
    if (!action)
        qFatal("the window has no actionSetting");
    return action;
}

} // namespace

class SettingActionTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDirectory> m_scratch;

private slots:
    void init() { m_scratch = std::make_unique<ScratchDirectory>(); }
    void cleanup() { m_scratch.reset(); }

    void settingWithoutOpenCameraWarnsAndOpensNothing();
    void settingRunsTheDialogModallyAndDestroysItAfterwards();
    void dialogChangesReachTheWindowWhileItRuns();
};

void SettingActionTest::settingWithoutOpenCameraWarnsAndOpensNothing()
{
    MainWindow window;
    MessageBoxRecorder boxes;
    SettingDialogCloser closer([](settingdialog *) {});

    settingAction(window)->trigger();

    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().kind, QMessageBox::Warning);
    QCOMPARE(boxes.last().title, QStringLiteral("setting"));
    QCOMPARE(boxes.last().text, QStringLiteral("please open camera"));
    QCOMPARE(closer.seen, 0);
    QVERIFY(window.findChildren<settingdialog *>().isEmpty());
}

void SettingActionTest::settingRunsTheDialogModallyAndDestroysItAfterwards()
{
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    QPointer<settingdialog> opened;
    SettingDialogCloser closer([&](settingdialog *dialog) {
        opened = dialog;
        QVERIFY(dialog->isModal());
        QVERIFY(QApplication::activeModalWidget() == dialog);
        QVERIFY(dialog->parent() == &window);
        QVERIFY(dialog->isEnabled());
        QCOMPARE(dialog->windowTitle(), QStringLiteral("设置"));
    });

    settingAction(window)->trigger();

    QCOMPARE(closer.seen, 1);
    QVERIFY(opened.isNull());
    QVERIFY(window.findChildren<settingdialog *>().isEmpty());

    // Each opening builds a new dialog.
    settingAction(window)->trigger();
    QCOMPARE(closer.seen, 2);
}

void SettingActionTest::dialogChangesReachTheWindowWhileItRuns()
{
    MainWindow window;
    SimulatedCamera camera(window, "DLG-1");
    auto *liveView = window.findChild<QGraphicsView *>(QStringLiteral("gv"));
    QVERIFY(liveView);
    QVERIFY(liveView->isHidden());
    SettingDialogCloser closer([&](settingdialog *dialog) {
        dialog->findChild<QRadioButton *>(QStringLiteral("rdButtonPng"))->click();
        QCOMPARE(window.m_imageFormat, QStringLiteral("PNG"));
        QCOMPARE(window.m_pngQuality, 8);

        dialog->findChild<QCheckBox *>(QStringLiteral("cbShowLiveView"))->click();
        QVERIFY(!liveView->isHidden());

        QVERIFY(QMetaObject::invokeMethod(dialog, "sigSaveDirChanged",
                                          Q_ARG(QString, QStringLiteral("/data/line3"))));
        QCOMPARE(window.m_saveDir, QStringLiteral("/data/line3"));
    });

    settingAction(window)->trigger();

    QCOMPARE(closer.seen, 1);
    QSettings file(QStringLiteral("setting.ini"), QSettings::IniFormat);
    QCOMPARE(file.value(QLatin1String(AppSettings::kFormat)).toString(), QStringLiteral("PNG"));
    QCOMPARE(file.value(QLatin1String(AppSettings::kShowLiveView)).toBool(), true);
    QCOMPARE(file.value(QLatin1String(AppSettings::kSaveDir)).toString(), QStringLiteral("/data/line3"));
}

QTEST_MAIN(SettingActionTest)
#include "tst_settingdialog_action.moc"

// The main window's shell and views: setting.ini as found on a machine, the
// settings the window keeps, start-up, signals, the build stamp, zoom and rotation.
#include "camerawindow.h"
#include "ui_mainwindow.h"

#include "appsettings.h"
#include "buildinfo.h"
#include "terminationsignals.h"

#include <QFileInfo>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QMenu>
#include <QSettings>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QStringList g_messages;

void recordMessage(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type != QtDebugMsg)
        g_messages << text;
}

} // namespace

class TestShell : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDirectory> m_scratch;
    QtMessageHandler m_previousHandler = nullptr;

    // A shown window with the live view, a 300x100 live frame and a
    // 2000x100 strip in the stitch view, as a shown batch leaves it.
    std::unique_ptr<MainWindow> viewWindow()
    {
        auto window = std::make_unique<MainWindow>();
        window->setLiveViewVisible(true);
        window->resize(900, 600);
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()))
            return nullptr;
        window->m_stitchScene->addPixmap(QPixmap(2000, 100));
        window->m_stitchScene->setSceneRect(
            window->m_stitchScene->itemsBoundingRect().adjusted(-20, -20, 20, 20));
        window->fitStitchView();
        window->m_isOpen = window->m_isGrabbing = true;
        return window;
    }
    void showLiveFrame(MainWindow &window)
    {
        QImage frame(300, 100, QImage::Format_Grayscale8);
        frame.fill(128);
        const qint64 before = window.m_livePixmapItem->pixmap().cacheKey();
        QMetaObject::invokeMethod(&window, "onFrameGrabbed", Q_ARG(QImage, frame));
        QTRY_VERIFY(window.m_livePixmapItem->pixmap().cacheKey() != before);
    }

private slots:
    void init()
    {
        mvsim::reset();
        m_scratch = std::make_unique<ScratchDirectory>();
        g_messages.clear();
        m_previousHandler = qInstallMessageHandler(recordMessage);
    }
    void cleanup()
    {
        qInstallMessageHandler(m_previousHandler);
        m_scratch.reset();
    }

    // setting.ini as it may be found on a machine. A link is followed to the
    // file it names (there or not yet); a file that cannot be parsed is kept
    // aside as .bad before defaults are written. A pipe nobody writes to would
    // block the first read for ever, and a folder or a loop cannot be written:
    // they are left alone. Each problem is said once; defaults apply.
    void settingsFileAsFound_data()
    {
        QTest::addColumn<QString>("what"); // what setting.ini is, or leads to
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("read"); // -1: set aside, -2: left alone
        QTest::addColumn<QString>("said");
        QTest::newRow("link to a settings file")
            << "link to file" << QByteArray("[UI]\nStitchDirection=2\n") << 2 << "";
        QTest::newRow("link to a file not yet there") << "link to file" << QByteArray() << 1 << "";
        QTest::newRow("comments and blanks")
            << "file" << QByteArray("; c\n\n[UI]\nStitchDirection = 3 \n") << 3 << "";
        QTest::newRow("UTF-8 with a byte-order mark")
            << "file" << QByteArray("\xef\xbb\xbf[UI]\nStitchDirection=3\n") << 3 << "";
        QTest::newRow("UTF-16") << "file" << QByteArray("\xff\xfe[\0U\0I\0]\0\n\0", 12) << -1
                                << "cannot be parsed";
        // Every line has its "=": only the NUL itself gives it away.
        QTest::newRow("NUL byte in a valid line")
            << "file" << QByteArray("[UI]\nStitchDirection=3\0\n", 24) << -1 << "cannot be parsed";
        QTest::newRow("a line that is no key")
            << "file" << QByteArray("[UI]\nStitchDirection=3\nno key here\n") << -1 << "cannot be parsed";
        QTest::newRow("unclosed section")
            << "file" << QByteArray("[UI\nStitchDirection=3\n") << -1 << "cannot be parsed";
        QTest::newRow("garbage behind a link")
            << "link to file" << QByteArray("no key here\n") << -1 << "cannot be parsed";
        QTest::newRow("named pipe") << "pipe" << QByteArray() << -2 << "is not a regular file";
        QTest::newRow("folder") << "folder" << QByteArray() << -2 << "is a folder";
        QTest::newRow("link to a folder")
            << "link to folder" << QByteArray() << -2 << "/target, which is a folder";
        QTest::newRow("loop of links") << "loop" << QByteArray() << -2 << "loop of symbolic links";
    }
    void settingsFileAsFound()
    {
        QFETCH(QString, what);
        QFETCH(QByteArray, content);
        QFETCH(int, read);
        QFETCH(QString, said);
        const bool link = what.startsWith(QLatin1String("link"));
        const QString made = link ? QDir::current().filePath("target") : QStringLiteral("setting.ini");
        if (what.endsWith(QLatin1String("pipe")))
            QCOMPARE(mkfifo(qPrintable(made), 0644), 0);
        else if (what.endsWith(QLatin1String("folder")))
            QVERIFY(QDir().mkdir(made));
        else if (!content.isEmpty())
            QVERIFY(writeFile(made, content));
        if (link)
            QVERIFY(QFile::link(made, QStringLiteral("setting.ini")));
        if (what == QLatin1String("loop")) {
            QCOMPARE(symlink("other.ini", "setting.ini"), 0);
            QCOMPARE(symlink("setting.ini", "other.ini"), 0);
        }
        QCOMPARE(AppSettings::intValue(AppSettings::kStitchDirection, 1), read < 0 ? 1 : read);
        AppSettings::setValue(AppSettings::kSaveDir, QStringLiteral("/data/line 3;a=b#c\\"));
        QCOMPARE(AppSettings::stringValue(AppSettings::kSaveDir, QString()),
                 read == -2 ? QString() : QStringLiteral("/data/line 3;a=b#c\\"));
        QVERIFY(!AppSettings::unparsableSettingsText("[a]\nb = c \\\n  continued\n"));
        QVERIFY2(g_messages.size() == (said.isEmpty() ? 0 : 1), qPrintable(g_messages.join("|")));
        if (!said.isEmpty())
            QVERIFY2(g_messages[0].contains(said)
                         && g_messages[0].contains(read == -1 ? made : "setting.ini"),
                     qPrintable(g_messages[0]));
        if (read == -1)
            QCOMPARE(readFile(made + QStringLiteral(".bad")), content);
        if (read != -2) {
            QVERIFY(!AppSettings::unparsableSettingsText(readFile(made)));
            QCOMPARE(QFileInfo(QStringLiteral("setting.ini")).isSymLink(), link);
        }
        // No lock, no half-written copy.
        QCOMPARE(QDir().entryList({QStringLiteral("setting.ini?*"), QStringLiteral("target?*")},
                                  QDir::AllEntries | QDir::Hidden | QDir::System),
                 read == -1 ? QStringList{QFileInfo(made).fileName() + ".bad"} : QStringList());
    }

    // The first start writes nothing. Stored numbers that are no numbers
    // read as 0, a frame count below 1 as 1. Closing writes the window's seven
    // keys beside the others, and the next start reads them back.
    void closingWritesTheWindowKeysWhichTheNextStartReads()
    {
        {
            MainWindow first;
        }
        QVERIFY(!QFile::exists(QStringLiteral("setting.ini")));
        QVERIFY(writeFile("setting.ini",
                          "[File]\nPartialStitch=false\nJpgQuality=high\n[Camera]\nLineRate=4200\n"
                          "[Stitch]\nMaxStitchCount=0\n[UI]\nStitchDirection=right\n"));
        {
            MainWindow window;
            QCOMPARE(QList<int>({window.m_maxStitchCount, window.m_jpgQuality, window.m_stitchDirection}),
                     QList<int>({1, 0, 0}));
            window.m_gvRotationAngle = 270;
            window.m_stitchDirection = 3;
            window.m_saveDir = QStringLiteral("/tmp/out");
            window.m_imageFormat = QStringLiteral("TIF");
            window.m_jpgQuality = 77;
            window.m_pngQuality = 3;
            window.m_maxStitchCount = 12;
            window.m_partialStitch = true; // not the window's to write
            QVERIFY(window.close());
        }
        QSettings settings(QStringLiteral("setting.ini"), QSettings::IniFormat);
        QCOMPARE(settings.value("Camera/LineRate").toInt(), 4200);
        MainWindow next;
        QCOMPARE(QStringList({next.m_imageFormat, next.m_saveDir}), QStringList({"TIF", "/tmp/out"}));
        QCOMPARE(QList<int>({next.m_gvRotationAngle, next.m_stitchDirection, next.m_jpgQuality,
                             next.m_pngQuality, next.m_maxStitchCount}),
                 QList<int>({270, 3, 77, 3, 12}));
        QVERIFY(!next.m_partialStitch);
    }

    // The window comes up first; its camera search fills the list afterwards.
    void deviceSearchFollowsTheStart()
    {
        MainWindow window;
        window.show();
        QCOMPARE(window.ui->cbSearchDevices->count(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(window.ui->cbSearchDevices->count(), 2, 5000);
    }

    // Ctrl+C, a stop request and a lost terminal reach the GUI thread once;
    // without the handler each would end the test program. A second signal
    // of that kind ends the process at once.
    void terminationSignalIsDeliveredInTheGuiThreadOnce()
    {
        for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
            TerminationSignals termination;
            QSignalSpy requested(&termination, &TerminationSignals::terminationRequested);
            QCOMPARE(std::raise(signalNumber), 0);
            QVERIFY(requested.wait(2000));
            QCOMPARE(QList<QVariantList>(requested), QList<QVariantList>({{signalNumber}}));
            struct sigaction current = {};
            ::sigaction(signalNumber, nullptr, &current);
            QVERIFY(current.sa_handler == SIG_DFL);
        }
    }

    void buildLineJoinsDateAndTimeWithoutBlank()
    {
        // Month names must stay English whatever locale the user runs.
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        const auto restore = qScopeGuard([] { QLocale::setDefault(QLocale::c()); });
        const char *rows[][3] = {{"Apr 28 2026", "11:18:39", "Build:20260428111839"},
                                 {"Apr  5 2026", "11:18:39", "Build:20260405111839"}, // a blank pads the day
                                 {"Jan  1 2027", "00:00:00", "Build:20270101000000"},
                                 {"04 28 2026", "11:18:39", ""}, // the date cannot be read
                                 {"Feb 30 2026", "11:18:39", ""}};
        for (const auto &row : rows) {
            const QDate date = BuildInfo::parseBuildDate(row[0]);
            QCOMPARE(date.isValid() ? BuildInfo::buildLine(date, BuildInfo::parseBuildTime(row[1]))
                                    : QString(),
                     QString(row[2]));
        }
    }

    // A fitted strip is fitted again when the window grows; zooming ends the
    // fit, and zooming out stops at a hundredth.
    void zoomAndResizeOfTheStitchView()
    {
        const auto window = viewWindow();
        QVERIFY(window);
        QGraphicsView *view = window->ui->gvStitch;
        const auto grow = [&](const QSize &size) {
            const int width = view->viewport()->width();
            window->resize(size);
            return QTest::qWaitFor([&] { return view->viewport()->width() > width + 100; });
        };
        QVERIFY(grow(QSize(1500, 800)));
        const QSizeF viewport = view->viewport()->size(), scene = window->m_stitchScene->sceneRect().size();
        QCOMPARE(view->transform().m11(),
                 qMin(viewport.width() / scene.width(), viewport.height() / scene.height()));
        QCOMPARE(view->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        window->ui->action_ZoomInt->trigger();
        QVERIFY(!window->m_autoFitStitch);
        const double zoomed = view->transform().m11();
        QVERIFY(grow(QSize(2100, 1000)));
        QCOMPARE(view->transform().m11(), zoomed);
        QCOMPARE(view->horizontalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
        for (int i = 0; i < 60; ++i)
            window->ui->action_ZoomOut->trigger();
        QCOMPARE(view->transform().m11(), 0.01);
    }

    // The arithmetic of the menu's steps is tst_pixels'; here the choice
    // reaches the item, the view and the file. A turned live image is
    // refitted on every frame; an upright one keeps a wheel zoom.
    void rotationChoiceIsAppliedAndWritten_data()
    {
        QTest::addColumn<int>("angle");
        QTest::addColumn<int>("entry"); // -1: the menu is dismissed
        QTest::addColumn<int>("expected");
        QTest::newRow("left from 0 gives 270") << 0 << 0 << 270;
        QTest::newRow("right from 0 gives 90") << 0 << 1 << 90;
        QTest::newRow("reset from 90 gives 0") << 90 << 2 << 0;
        QTest::newRow("dismissed at 90") << 90 << -1 << 90;
    }
    void rotationChoiceIsAppliedAndWritten()
    {
        QFETCH(int, angle);
        QFETCH(int, entry);
        QFETCH(int, expected);
        const auto window = viewWindow();
        QVERIFY(window);
        showLiveFrame(*window);
        window->m_gvRotationAngle = angle;
        window->m_execRotationMenu = [entry](QMenu *menu, const QPoint &) -> QAction * {
            return entry < 0 ? nullptr : menu->actions().at(entry);
        };
        window->ui->gv->customContextMenuRequested(QPoint(5, 5));
        QCOMPARE(window->m_gvRotationAngle, expected);
        QCOMPARE(AppSettings::intValue(AppSettings::kGvRotationAngle, -1), entry < 0 ? -1 : expected);
        // The item is turned about its centre: a quarter turn stands it upright.
        const QRectF shown = window->m_livePixmapItem->sceneBoundingRect();
        QCOMPARE(shown.size(), entry >= 0 && expected % 180 ? QSizeF(100, 300) : QSizeF(300, 100));
        QCOMPARE(shown.center(), QPointF(150, 50));
        // The first fit can bring up a scroll bar; from the second frame on it is steady.
        showLiveFrame(*window);
        showLiveFrame(*window);
        const double fitted = window->ui->gv->transform().m11();
        window->ui->gv->scale(4, 4);
        showLiveFrame(*window);
        QCOMPARE(window->ui->gv->transform().m11(), expected ? fitted : fitted * 4);
    }
};

QTEST_MAIN(TestShell)
#include "tst_shell.moc"

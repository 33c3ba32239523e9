// The main window's shell and views: start-up, setting.ini as it may be found
// on a machine, the settings the window keeps, shutdown, the build stamp, the
// stitch view's zoom and fit and the live view's rotation.
#include "camerawindow.h"
#include "ui_mainwindow.h"

#include "aboutdialog.h"
#include "appsettings.h"
#include "buildinfo.h"
#include "stitchworker.h"
#include "terminationsignals.h"
#include "workthread.h"

#include <QFileInfo>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QLabel>
#include <QMenu>
#include <QPointer>
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

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

QByteArray utf16Settings()
{
    const QString text = QStringLiteral("[UI]\nStitchDirection=3\n");
    return QByteArray("\xff\xfe") + QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
}

} // namespace

class TestShell : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchDirectory> m_scratch;
    QtMessageHandler m_previousHandler = nullptr;

    // A shown window with the live view, a 300x100 live frame and a
    // 2000x100 strip in the stitch view, as a shown batch leaves it.
    std::unique_ptr<MainWindow> viewWindow(int liveAngle)
    {
        auto window = std::make_unique<MainWindow>();
        window->m_gvRotationAngle = liveAngle;
        window->setLiveViewVisible(true);
        window->resize(900, 600);
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()))
            return nullptr;
        QPixmap strip(2000, 100);
        strip.fill(Qt::darkGreen);
        window->m_stitchScene->addPixmap(strip);
        window->m_stitchScene->setSceneRect(
            window->m_stitchScene->itemsBoundingRect().adjusted(-20, -20, 20, 20));
        window->fitStitchView();
        window->m_isOpen = true;
        window->m_isGrabbing = true;
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
        QTest::newRow("garbage") << "file" << QByteArray("\x01\x02 binary\nno key here\n[unclosed\n") << -1
                                 << "cannot be parsed";
        QTest::newRow("UTF-16") << "file" << utf16Settings() << -1 << "cannot be parsed";
        QTest::newRow("NUL bytes in a valid file")
            << "file" << QByteArray("[UI]\nStitchDirection=3\n\0\0", 25) << -1 << "cannot be parsed";
        QTest::newRow("a line that is no key")
            << "file" << QByteArray("[UI]\nStitchDirection=3\nno key here\n") << -1 << "cannot be parsed";
        QTest::newRow("unclosed section")
            << "file" << QByteArray("[UI\nStitchDirection=3\n") << -1 << "cannot be parsed";
        QTest::newRow("garbage behind a link")
            << "link to file" << QByteArray("no key here\n") << -1 << "cannot be parsed";
        QTest::newRow("named pipe") << "pipe" << QByteArray() << -2 << "is not a regular file";
        QTest::newRow("folder") << "folder" << QByteArray() << -2 << "is a folder";
        QTest::newRow("link to a named pipe")
            << "link to pipe" << QByteArray() << -2 << "/target, which is not a regular file";
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
        AppSettings::setValues(
            {{AppSettings::kFormat, QStringLiteral("PNG")}, {AppSettings::kJpgQuality, 80}});
        QCOMPARE(AppSettings::stringValue(AppSettings::kSaveDir, QString()),
                 read == -2 ? QString() : QStringLiteral("/data/line 3;a=b#c\\"));
        QVERIFY(!AppSettings::unparsableSettingsText("[a]\nb = c \\\n  continued\n"));

        QCOMPARE(g_messages.size(), said.isEmpty() ? 0 : 1);
        if (!said.isEmpty())
            QVERIFY2(g_messages[0].contains(said)
                         && g_messages[0].contains(read == -1 ? made : "setting.ini"),
                     qPrintable(g_messages[0]));
        if (read == -1)
            QCOMPARE(readFile(made + QStringLiteral(".bad")), content);
        if (read != -2) {
            QVERIFY(!AppSettings::unparsableSettingsText(readFile(made)));
            QCOMPARE(QFileInfo(QStringLiteral("setting.ini")).isSymLink(), link);
        } else if (what != QLatin1String("loop")) {
            const QFileInfo left(made);
            QVERIFY(left.exists() && !left.isFile());
            QCOMPARE(left.isDir(), what.endsWith(QLatin1String("folder")));
        }
        // No lock, no half-written copy.
        QCOMPARE(QDir().entryList({QStringLiteral("setting.ini?*"), QStringLiteral("target?*")},
                                  QDir::AllEntries | QDir::Hidden | QDir::System),
                 read == -1 ? QStringList{QFileInfo(made).fileName() + ".bad"} : QStringList());
    }

    // The first start writes nothing; closing writes the window's seven keys
    // beside the others, and the next start reads them back.
    void closingWritesTheWindowKeysWhichTheNextStartReads()
    {
        {
            MainWindow first;
        }
        QVERIFY(!QFile::exists(QStringLiteral("setting.ini")));
        QVERIFY(writeFile("setting.ini", "[File]\nPartialStitch=false\n[Camera]\nLineRate=4200\n"));
        {
            MainWindow window;
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

    void storedNumbersAreReadWithTheirFallbacks_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("storedText");
        QTest::addColumn<int>("expected");
        const auto row = [](const char *key, const char *text, int expected) {
            QTest::newRow(qPrintable(QStringLiteral("%1=%2").arg(key, text)))
                << QString(key) << QString(text) << expected;
        };
        row("Stitch/MaxStitchCount", "0", 1);
        row("Stitch/MaxStitchCount", "-4", 1);
        row("Stitch/MaxStitchCount", "many", 1);
        row("Stitch/MaxStitchCount", "5000", 5000);
        row("UI/GvRotationAngle", "upright", 0);
        row("UI/StitchDirection", "right", 0);
        row("File/JpgQuality", "high", 0);
        row("File/PngQuality", "9x", 0);
    }
    void storedNumbersAreReadWithTheirFallbacks()
    {
        QFETCH(QString, key);
        QFETCH(QString, storedText);
        QFETCH(int, expected);
        const QStringList parts = key.split(QLatin1Char('/'));
        QVERIFY(writeFile("setting.ini",
                          QStringLiteral("[%1]\n%2=%3\n").arg(parts[0], parts[1], storedText).toUtf8()));
        MainWindow window;
        const QMap<QString, int> read{{"Stitch/MaxStitchCount", window.m_maxStitchCount},
                                      {"UI/GvRotationAngle", window.m_gvRotationAngle},
                                      {"UI/StitchDirection", window.m_stitchDirection},
                                      {"File/JpgQuality", window.m_jpgQuality},
                                      {"File/PngQuality", window.m_pngQuality}};
        QCOMPARE(read.value(key, -1), expected);
    }

    // The window comes up first; its camera search fills the list afterwards.
    void deviceSearchFollowsTheStart()
    {
        MessageBoxRecorder boxes;
        MainWindow window;
        window.show();
        QCOMPARE(window.ui->cbSearchDevices->count(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(window.ui->cbSearchDevices->count(), 2, 5000);
        QVERIFY(boxes.isEmpty());
    }

    void closingWhileGrabbingWritesSettingsAndDestroyingStopsEverything()
    {
        CameraWindow fixture;
        QVERIFY(fixture.make());
        MainWindow &window = *fixture.window;
        QVERIFY(fixture.openEntry(0));
        const MV_CC_DEVICE_INFO device = window.m_deviceInfo;
        QVERIFY(fixture.start());
        QTRY_VERIFY(!window.ui->dataitemLabel->text().isEmpty());
        window.m_stitchDirection = 3;
        QVERIFY(window.close());
        // Closing writes the settings and ends grabbing at once, not after the event loop.
        QCOMPARE(QSettings("setting.ini", QSettings::IniFormat).value("UI/StitchDirection"), QVariant("3"));
        QVERIFY(!window.m_workThread->isRunning());
        QVERIFY(!window.m_isGrabbing && !window.m_isOpen && !window.m_stitchActive);
        QVERIFY(deviceIsFree(device));

        QPointer<StitchWorker> worker = window.m_stitchWorker;
        QPointer<QThread> stitchThread = window.m_stitchThread;
        QVERIFY(worker && stitchThread && stitchThread->isRunning());
        fixture.window.reset();
        QVERIFY(!stitchThread && !worker);
        QVERIFY(fixture.boxes.isEmpty());
    }

    void terminationSignalIsDeliveredInTheGuiThreadOnce_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("Ctrl+C") << int(SIGINT);
        QTest::newRow("stop request") << int(SIGTERM);
        QTest::newRow("terminal gone") << int(SIGHUP);
    }
    void terminationSignalIsDeliveredInTheGuiThreadOnce()
    {
        QFETCH(int, signalNumber);
        TerminationSignals termination;
        QSignalSpy requested(&termination, &TerminationSignals::terminationRequested);
        // Without the handler this would end the test program.
        QCOMPARE(std::raise(signalNumber), 0);
        QVERIFY(requested.wait(2000));
        QCOMPARE(requested.count(), 1);
        QCOMPARE(requested.at(0).at(0).toInt(), signalNumber);
        // A second signal of that kind ends the process at once.
        struct sigaction current = {};
        ::sigaction(signalNumber, nullptr, &current);
        QVERIFY(current.sa_handler == SIG_DFL);
    }

    void buildLineJoinsDateAndTimeWithoutBlank_data()
    {
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("line"); // empty: the date cannot be read
        const auto row = [](const char *tag, const char *date, const char *time, const char *line) {
            QTest::newRow(tag) << QString(date) << QString(time) << QString(line);
        };
        row("two-digit day", "Apr 28 2026", "11:18:39", "Build:20260428111839");
        row("one-digit day padded by a blank", "Apr  5 2026", "11:18:39", "Build:20260405111839");
        row("midnight", "Jan  1 2027", "00:00:00", "Build:20270101000000");
        row("numeric month", "04 28 2026", "11:18:39", "");
        row("no such day", "Feb 30 2026", "11:18:39", "");
    }
    void buildLineJoinsDateAndTimeWithoutBlank()
    {
        QFETCH(QString, date);
        QFETCH(QString, time);
        QFETCH(QString, line);
        // Month names must stay English whatever locale the user runs.
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        const QDate parsed = BuildInfo::parseBuildDate(date);
        QLocale::setDefault(QLocale::c());
        QCOMPARE(parsed.isValid(), !line.isEmpty());
        if (parsed.isValid())
            QCOMPARE(BuildInfo::buildLine(parsed, BuildInfo::parseBuildTime(time)), line);
    }

    // The form's text step empties the logo label after the pixmap was set;
    // the box must put it back.
    void aboutBoxShowsLogoAndThisBuild()
    {
        AboutDialog box;
        QLabel *logo = box.findChild<QLabel *>("lbLog");
        // The 108 x 97 logo in its 100 x 100 label, its proportions kept.
        QCOMPARE(logo->pixmap(Qt::ReturnByValue).size(), QSize(100, 89));
        QVERIFY(box.findChild<QLabel *>("lblBuild")->text().contains(QRegularExpression("^Build:\\d{14}$")));
    }

    // Zooming ends the fit to the window, down to a hundredth at most; a
    // fitted strip is fitted again when the window grows.
    void zoomAndResizeOfTheStitchView_data()
    {
        QTest::addColumn<int>("zoomIns");  // negative: zoom-outs
        QTest::addColumn<double>("scale"); // 0: fitted
        QTest::newRow("fitted strip is refitted") << 0 << 0.0;
        QTest::newRow("zoomed strip keeps its zoom") << 1 << -1.0;
        QTest::newRow("zoomed out to the limit") << -60 << 0.01;
    }
    void zoomAndResizeOfTheStitchView()
    {
        QFETCH(int, zoomIns);
        QFETCH(double, scale);
        const auto window = viewWindow(0);
        QVERIFY(window);
        QGraphicsView *view = window->ui->gvStitch;
        for (int i = 0; i < qAbs(zoomIns); ++i)
            (zoomIns > 0 ? window->ui->action_ZoomInt : window->ui->action_ZoomOut)->trigger();
        QCOMPARE(window->m_autoFitStitch, zoomIns == 0);
        const double before = view->transform().m11();
        const int width = view->viewport()->width();
        window->resize(1500, 800);
        QTRY_VERIFY(view->viewport()->width() > width + 100);
        const QRect viewport = view->viewport()->rect();
        const QRectF scene = window->m_stitchScene->sceneRect();
        const double fitted = qMin(viewport.width() / scene.width(), viewport.height() / scene.height());
        QCOMPARE(view->transform().m11(), scale == 0 ? fitted : scale < 0 ? before : scale);
        QCOMPARE(view->horizontalScrollBarPolicy(), zoomIns ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    }

    void rotationChoiceIsAppliedAndWritten_data()
    {
        QTest::addColumn<int>("angle");
        QTest::addColumn<int>("entry"); // -1: the menu is dismissed
        QTest::addColumn<int>("expected");
        QTest::newRow("left from 0 gives 270") << 0 << 0 << 270;
        QTest::newRow("right from 270 gives 0") << 270 << 1 << 0;
        QTest::newRow("right from 90 gives 180") << 90 << 1 << 180;
        QTest::newRow("reset from 90 gives 0") << 90 << 2 << 0;
        QTest::newRow("dismissed at 90") << 90 << -1 << 90;
    }
    void rotationChoiceIsAppliedAndWritten()
    {
        QFETCH(int, angle);
        QFETCH(int, entry);
        QFETCH(int, expected);
        const auto window = viewWindow(0);
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
        const int turned = entry < 0 ? 0 : expected;
        QCOMPARE(shown.size(), turned % 180 ? QSizeF(100, 300) : QSizeF(300, 100));
        QCOMPARE(shown.center(), QPointF(150, 50));
    }

    void onlyARotatedLiveImageIsRefittedOnEveryFrame_data()
    {
        QTest::addColumn<int>("angle");
        QTest::newRow("rotated 90: refitted") << 90;
        QTest::newRow("unrotated: keeps a wheel zoom") << 0;
    }
    void onlyARotatedLiveImageIsRefittedOnEveryFrame()
    {
        QFETCH(int, angle);
        const auto window = viewWindow(angle);
        QVERIFY(window);
        // The first fit can bring up a scroll bar; from the second frame on it is steady.
        showLiveFrame(*window);
        showLiveFrame(*window);
        const double fitted = window->ui->gv->transform().m11();
        window->ui->gv->scale(4, 4);
        showLiveFrame(*window);
        QCOMPARE(window->ui->gv->transform().m11(), angle ? fitted : fitted * 4);
    }
};

QTEST_MAIN(TestShell)
#include "tst_shell.moc"

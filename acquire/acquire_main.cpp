// corvista-acquire: one camera, grabbed and stitched into files without a
// window, for scripts and services. The same session and grab thread as the
// window; defaults from the window's settings file, which it never writes.
#include "acquireoptions.h"
#include "acquisitionsession.h"
#include "appsettings.h"
#include "camera.h"
#include "cameraerror.h"
#include "deviceentry.h"
#include "framebudget.h"
#include "stitchworker.h"
#include "storedcamerasettings.h"
#include "terminationsignals.h"
#include "triggerrules.h"
#include "workthread.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryFile>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

enum ExitStatus { Done = 0, Usage = 2, NoCamera = 3, SaveFailed = 4, CameraVanished = 5 };

void say(const QString &text)
{
    std::fprintf(stderr, "corvista-acquire: %s\n", qUtf8Printable(text));
}

void listCameras()
{
    MV_CC_DEVICE_INFO_LIST list{};
    if (!Camera::enumerate(list)) {
        say(QStringLiteral("the camera library cannot search for cameras"));
        return;
    }
    for (unsigned int i = 0; i < list.nDeviceNum; ++i) {
        const MV_CC_DEVICE_INFO &record = *list.pDeviceInfo[i];
        const bool gige = record.nTLayerType == MV_GIGE_DEVICE;
        std::printf("%u\t%s\t%s\t%s\t%s\n", i, gige ? "GigE" : "USB3",
                    qUtf8Printable(deviceModelName(record)), qUtf8Printable(deviceSerialNumber(record)),
                    gige ? qUtf8Printable(ipv4Text(record.SpecialInfo.stGigEInfo.nCurrentIp)) : "-");
    }
    std::fflush(stdout);
}

// The record of the camera named by serial number or index; null, with the
// reason, when there is none.
const MV_CC_DEVICE_INFO *findCamera(const MV_CC_DEVICE_INFO_LIST &list, const QString &wanted, QString *why)
{
    if (list.nDeviceNum == 0) {
        *why = QStringLiteral("no camera found");
        return nullptr;
    }
    if (wanted.isEmpty())
        return list.pDeviceInfo[0];
    for (unsigned int i = 0; i < list.nDeviceNum; ++i)
        if (deviceSerialNumber(*list.pDeviceInfo[i]) == wanted)
            return list.pDeviceInfo[i];
    bool isIndex = false;
    const uint index = wanted.toUInt(&isIndex);
    if (isIndex && index < list.nDeviceNum)
        return list.pDeviceInfo[index];
    *why = QStringLiteral("camera \"%1\" not found: no serial number or index of the %2 camera(s) found")
               .arg(wanted)
               .arg(list.nDeviceNum);
    return nullptr;
}

// A folder the files can be written to: made when missing, and tried with a
// file of our own. Empty when usable, else the reason.
QString unusableFolder(const QString &path)
{
    if (!QDir().mkpath(path))
        return QStringLiteral("--out: cannot make the folder %1").arg(path);
    if (!QFileInfo(path).isDir())
        return QStringLiteral("--out: %1 is no folder").arg(path);
    QTemporaryFile probe(QDir(path).filePath(QStringLiteral(".corvista-acquire-XXXXXX")));
    if (!probe.open())
        return QStringLiteral("--out: cannot write in %1: %2").arg(path, probe.errorString());
    return QString();
}

// A second stop request ends the process at once; the first is the orderly one.
extern "C" void exitAtOnce(int)
{
    _exit(130);
}

/*
 * One run: grabs until the limit or a stop request, then lets every
 * handed-off batch reach the disk and reports what was written.
 */
class AcquireRun : public QObject
{
public:
    AcquireRun(const AcquireOptions &options, Camera &camera, AcquisitionSession &session)
        : m_options(options), m_camera(camera), m_session(session), m_thread(camera, &session.budget())
    {
        // The grab thread decides what each frame travels as, so the files' kind.
        m_thread.setKeepCameraPixels(session.worker()->keepCameraPixels());
    }

    int run();

private:
    void takeFrame(const QImage &frame, uint frameNumber);
    void stop();
    void printProgress(bool last);
    void printSummary(bool json) const;

    const AcquireOptions &m_options;
    Camera &m_camera;
    AcquisitionSession &m_session;
    WorkThread m_thread;
    QElapsedTimer m_clock;
    bool m_stopping = false;
    bool m_signalled = false;
    bool m_cameraLost = false;
    int m_lost = 0;
    qint64 m_lines = 0;
    qint64 m_linesAtLastProgress = 0;
    qint64 m_progressAt = 0;
    bool m_terminal = isatty(STDERR_FILENO);
    struct WrittenFile {
        QString path;
        FrameSpan span;
    };
    QList<WrittenFile> m_files;
    QStringList m_errors;
};

void AcquireRun::takeFrame(const QImage &frame, uint frameNumber)
{
    const bool framesDone = m_options.limit == AcquireOptions::Limit::Frames
        && m_session.framesCollected() >= m_options.limitCount;
    const bool batchesDone
        = m_options.limit == AcquireOptions::Limit::Batches && m_session.batchCount() >= m_options.limitCount;
    if (m_stopping || framesDone || batchesDone) {
        m_session.refuseFrame(frame);
        return;
    }
    const qint64 before = m_session.framesCollected();
    m_session.takeFrame(frame, frameNumber);
    if (m_session.framesCollected() > before)
        m_lines += frame.height();
    if ((m_options.limit == AcquireOptions::Limit::Frames
         && m_session.framesCollected() >= m_options.limitCount)
        || (m_options.limit == AcquireOptions::Limit::Batches
            && m_session.batchCount() >= m_options.limitCount))
        stop();
}

/* Grabbing ends now; the event loop then quits and run() finishes the saves. */
void AcquireRun::stop()
{
    if (m_stopping)
        return;
    m_stopping = true;
    m_session.setCollecting(false);
    QCoreApplication::quit();
}

void AcquireRun::printProgress(bool last)
{
    const qint64 now = m_clock.elapsed();
    const double rate
        = now > m_progressAt ? (m_lines - m_linesAtLastProgress) * 1000.0 / (now - m_progressAt) : 0;
    m_progressAt = now;
    m_linesAtLastProgress = m_lines;
    const QString line
        = QStringLiteral("%1 lines/s, %2 frames, %3 lost, %4 dropped, %5 files written, %6 batches to save")
              .arg(qRound64(rate))
              .arg(m_session.framesCollected())
              .arg(m_lost)
              .arg(m_session.dropped())
              .arg(m_session.filesWritten())
              .arg(m_session.pendingSaves());
    if (m_terminal)
        std::fprintf(stderr, "\r\033[K%s%s", qUtf8Printable(line), last ? "\n" : "");
    else
        std::fprintf(stderr, "%s\n", qUtf8Printable(line));
    std::fflush(stderr);
}

void AcquireRun::printSummary(bool json) const
{
    if (!json) {
        std::fprintf(stderr, "%lld frames, %lld lines, %d lost, %lld dropped, %d batches, %d files\n",
                     m_session.framesCollected(), m_lines, m_lost, m_session.dropped(),
                     m_session.batchCount(), int(m_files.size()));
        for (const QString &error : m_errors)
            say(error);
        return;
    }
    QJsonArray files;
    for (const WrittenFile &file : m_files)
        files.append(QJsonObject{{QStringLiteral("path"), file.path},
                                 {QStringLiteral("first_frame"), qint64(file.span.first)},
                                 {QStringLiteral("last_frame"), qint64(file.span.last)}});
    const QJsonObject summary{
        {QStringLiteral("frames"), m_session.framesCollected()},
        {QStringLiteral("lines"), m_lines},
        {QStringLiteral("lost"), m_lost},
        {QStringLiteral("dropped"), m_session.dropped()},
        {QStringLiteral("batches"), m_session.batchCount()},
        {QStringLiteral("files"), files},
        {QStringLiteral("errors"), QJsonArray::fromStringList(m_errors)},
    };
    std::printf("%s\n", QJsonDocument(summary).toJson(QJsonDocument::Indented).constData());
    std::fflush(stdout);
}

int AcquireRun::run()
{
    connect(&m_thread, &WorkThread::changeDetected, this,
            [this](const QImage &frame, const QImage &, qlonglong, qlonglong, uint number) {
                takeFrame(frame, number);
            });
    connect(&m_thread, &WorkThread::sequenceBroken, this, [this] { m_session.breakOpenBatch(); });
    connect(&m_thread, &WorkThread::frameInfoUpdated, this,
            [this](uint, int, int, qlonglong, qlonglong, int lost) { m_lost = lost; });
    connect(&m_thread, &WorkThread::cameraLost, this, [this] {
        m_cameraLost = true;
        m_errors.append(QStringLiteral("the camera vanished"));
        stop();
    });
    connect(&m_thread, &WorkThread::pixelFormatUnsupported, this, [this](uint type) {
        m_errors.append(QStringLiteral("frames of pixel type 0x%1 cannot be converted").arg(type, 0, 16));
    });
    connect(&m_session, &AcquisitionSession::batchSaved, this,
            [this](const QStringList &paths, FrameSpan span) {
                for (const QString &path : paths)
                    m_files.append({path, span});
            });
    connect(&m_session, &AcquisitionSession::saveFailed, this,
            [this](const QString &error) { m_errors.append(error); });

    TerminationSignals termination;
    connect(&termination, &TerminationSignals::terminationRequested, this, [this] {
        // A second request, of either kind, may come before or after the
        // handlers below are in place; both end the process at once.
        if (m_signalled)
            exitAtOnce(0);
        m_signalled = true;
        std::signal(SIGINT, exitAtOnce);
        std::signal(SIGTERM, exitAtOnce);
        stop();
    });
    QTimer progress;
    connect(&progress, &QTimer::timeout, this, [this] { printProgress(false); });
    progress.start(1000);
    if (m_options.limit == AcquireOptions::Limit::Seconds)
        QTimer::singleShot(qint64(m_options.seconds * 1000), this, [this] { stop(); });

    m_clock.start();
    m_session.setCollecting(true);
    m_thread.setReportChanges(true);
    m_thread.setRunning(true);
    m_thread.start();
    if (!m_camera.startGrabbing()) {
        m_thread.setRunning(false);
        m_thread.wait();
        say(QStringLiteral("the camera does not start grabbing"));
        return NoCamera;
    }
    QCoreApplication::exec();

    // Grabbing ends at once; frames already fed are collected or refused
    // by the limit, and the open batch becomes the run's last file.
    m_thread.setRunning(false);
    m_camera.stopGrabbing();
    m_thread.wait();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    if (m_options.limit == AcquireOptions::Limit::Batches)
        m_session.discardOpenBatch();
    else {
        m_session.setCollecting(true);
        m_session.saveOpenBatchAtRunEnd();
        m_session.setCollecting(false);
    }
    // The progress line goes on once a second while the saves finish.
    m_session.finishHandedOffBatches();
    progress.stop();
    printProgress(true);
    m_camera.stopGrabbing();
    printSummary(m_options.json);
    if (m_session.saveFailures() > 0)
        return SaveFailed;
    return m_cameraLost ? CameraVanished : Done;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        std::printf("%s", qUtf8Printable(acquireUsage()));
        return Done;
    }
    AcquireOptions options;
    QString error;
    if (!parseAcquireOptions(arguments, options, &error)) {
        say(error);
        return Usage;
    }
    if (options.list) {
        listCameras();
        return Done;
    }
    if (!options.settingsFile.isEmpty() && !QFileInfo(options.settingsFile).isFile()) {
        say(QStringLiteral("--settings: %1 is no file").arg(options.settingsFile));
        return Usage;
    }
    AppSettings::readOnlyFrom(options.settingsFile.isEmpty() ? QStringLiteral("setting.ini")
                                                             : options.settingsFile);

    AcquisitionSession session;
    SessionOptions &o = session.options();
    {
        using namespace AppSettings;
        o.stitchDirection = options.direction >= 0 ? options.direction
                                                   : intValue(kStitchDirection, kDefaultStitchDirection);
        o.saveDir = !options.outDir.isEmpty() ? options.outDir : stringValue(kSaveDir, kDefaultSaveDir);
        o.imageFormat
            = options.format ? imageFormatName(*options.format) : stringValue(kFormat, kDefaultFormatWindow);
        o.jpgQuality = intValue(kJpgQuality, kDefaultJpgQuality);
        o.pngQuality = intValue(kPngQuality, kDefaultPngQuality);
        o.partialStitch = boolValue(kPartialStitch, kDefaultPartialStitch);
        o.saveStitchImage = true;
        o.maxStitchCount
            = qMax(1, options.count > 0 ? options.count : intValue(kMaxStitchCount, kDefaultMaxStitchCount));
        session.worker()->setKeepCameraPixels(boolValue(kKeepCameraPixels, kDefaultKeepCameraPixels));
    }
    const QString folderProblem = unusableFolder(o.saveDir);
    if (!folderProblem.isEmpty()) {
        say(folderProblem);
        return Usage;
    }
    // The summary names files a service's reader finds from anywhere.
    o.saveDir = QFileInfo(o.saveDir).absoluteFilePath();

    MV_CC_DEVICE_INFO_LIST list{};
    if (!Camera::enumerate(list)) {
        say(QStringLiteral("the camera library cannot search for cameras"));
        return NoCamera;
    }
    QString why;
    const MV_CC_DEVICE_INFO *record = findCamera(list, options.camera, &why);
    if (!record) {
        say(why);
        return NoCamera;
    }
    Camera camera;
    QString packetWarning;
    switch (camera.open(*record, &packetWarning)) {
    case Camera::OpenResult::Opened:
        break;
    case Camera::OpenResult::CreateFailed:
    case Camera::OpenResult::AlreadyOpen:
        say(QStringLiteral("camera %1: the library gives no handle for it").arg(deviceSerialNumber(*record)));
        return NoCamera;
    case Camera::OpenResult::OpenFailed:
        say(QStringLiteral("camera %1 cannot be opened: it is gone or another program holds it")
                .arg(deviceSerialNumber(*record)));
        return NoCamera;
    }
    if (!packetWarning.isEmpty())
        say(packetWarning);
    o.cameraModelName = camera.modelName();
    o.cameraSerialNumber = camera.serialNumber();
    session.setFrameSizeSource([&camera] { return camera.frameSize(); });
    for (const QString &refused : applyStoredCameraSettings(camera))
        say(QStringLiteral("the camera refused a stored setting: %1").arg(refused));
    if (options.lineRate > 0 && camera.setLineRate(options.lineRate) != MV_OK)
        say(QStringLiteral("--line-rate: the camera refused %1 Hz").arg(options.lineRate));
    if (options.exposureUs > 0 && camera.setExposureUs(options.exposureUs) != MV_OK)
        say(QStringLiteral("--exposure: the camera refused %1 us").arg(options.exposureUs));
    if (options.gainDb >= 0 && camera.setGainDb(options.gainDb) != MV_OK)
        say(QStringLiteral("--gain: the camera refused %1 dB").arg(options.gainDb));

    const struct {
        const char *selector, *option;
        const AcquireOptions::Trigger &trigger;
    } triggers[] = {{"LineStart", "--line-trigger", options.lineTrigger},
                    {"FrameStart", "--frame-trigger", options.frameTrigger}};
    for (const auto &t : triggers) {
        if (t.trigger.source.isEmpty())
            continue;
        // Source and edge first: a trigger switched on with the last run's
        // source in place would start lines from the wrong input.
        const struct {
            const char *feature;
            QString value;
        } steps[] = {{"TriggerSource", t.trigger.source},
                     {"TriggerActivation", t.trigger.edge},
                     {"TriggerMode", QStringLiteral("On")}};
        for (const auto &step : steps) {
            if (step.value.isEmpty())
                continue;
            const int status = TriggerRules::writeTrigger(camera, t.selector, step.feature, step.value);
            if (status != MV_OK) {
                // Not switched on from a source or edge the camera did not take.
                say(QStringLiteral("%1: the camera refused %2 %3 (%4)")
                        .arg(QLatin1String(t.option), QLatin1String(step.feature), step.value,
                             cameraErrorText(status)));
                return Usage;
            }
        }
    }

    AcquireRun run(options, camera, session);
    const int status = run.run();
    camera.close();
    return status;
}

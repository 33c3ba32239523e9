// How fast a line rate the whole chain sustains: the real window, offscreen,
// with a simulated 4096-pixel camera of 1024 lines per frame, batches of 30
// frames stitched Left and saved. For each output format a coarse bisection
// with short trials finds the highest rate without a lost frame and without a
// growing backlog, and a long trial confirms it. Also prints what each step of
// the chain costs on its own, and the peak memory.
//
//   bench_pipeline [--trial S] [--confirm S] [--formats JPG,TIFF,BMP,PNG]
//                  [--pixel Mono8|RGB8] [--low N] [--high N] [--steps N]
//                  [--memory-limit MiB] [--steps-only] [--no-steps] [--only RATE]
//                  [--noise LEVELS] [--exposure US] [--flatfield] [--keep-camera-pixels]
//                  [--no-tools] [--live] [--tile-latency]
//
// --keep-camera-pixels runs every trial with the option to keep the camera's
// pixels on: a Mono8 camera writes 8-bit gray files, a Mono10/12/16 camera
// (--pixel Mono12) 16-bit PNG and TIFF. Each trial also prints the files
// written, the bytes a second they took, and the disk's own synced write rate
// measured right after it, so the ratio to the disk's limit shows.
//
// Each trial prints the window thread's CPU time per frame, with the line
// profile and histogram docks open, or closed with --no-tools; --live shows
// the live view (the settings file's default hides it).
//
// --flatfield stores a calibrated flat-field reference for the camera, switched
// on, before it opens: every frame is then corrected on the grab thread.
//
// The simulated camera adds sensor-like noise (default 12 levels) so that
// JPEG and PNG work as hard as on a real picture, and exposes for 10 us: the
// simulator caps the line rate at 1e6 / exposure, and 90000 lines/s needs at
// most 11 us. Each trial prints the delivered rate beside the requested one.
//
// Overload: the window against cameras it cannot keep up with, with a frame
// budget. For each format, a trial at its sustained rate and at 1.5x and 3x
// it, then an 8192-px RGB8 camera at 30000 lines/s; each prints the line
// rate written against the sustained trial's, frames lost at the camera and
// dropped, files and frames per file, peak resident memory above the start
// of grabbing, the window thread's longest stall, and how long Stop and
// Close took. Files are removed as they are written.
//
//   bench_pipeline --overload --sustained-by-format JPG:R,TIFF:R,BMP:R
//                  [--formats ...] [--overload-seconds S] [--budget MiB] [--no-rgb-trial]
#include "../tests/support/linestamps.h"
#include "../tests/support/stallprobe.h"
#include "appsettings.h"
#include "composer.h"
#include "deviceentry.h"
#include "flatfieldcorrector.h"
#include "framebudget.h"
#include "framekind.h"
#include "frameturn.h"
#include "imagewriter.h"
#include "mainwindow.h"
#include "mvsim.h"
#include "naming.h"
#include "preview.h"
#include "savethread.h"
#include "segmentpicture.h"
#include "setuptools.h"
#include "stitchworker.h"
#include "streamencoder.h"
#include "workthread.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <fcntl.h>
#include <malloc.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Removes files on a thread of its own, in the order given; the destructor
// waits for the last.
class FileRemover
{
public:
    FileRemover() : m_thread([this] { run(); }) { }
    ~FileRemover()
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }
    // Bytes of the files given to remove() so far.
    qint64 bytes() const { return m_bytes.load(); }
    void remove(const QStringList &files)
    {
        for (const QString &file : files)
            m_bytes += QFileInfo(file).size();
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_pending.append(files);
        }
        m_wake.notify_one();
    }

private:
    void run()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_done || !m_pending.isEmpty(); });
            if (m_pending.isEmpty())
                return;
            const QString file = m_pending.takeFirst();
            lock.unlock();
            QFile::remove(file);
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    QStringList m_pending;
    bool m_done = false;
    std::atomic<qint64> m_bytes{0};
    std::thread m_thread;
};

constexpr int kWidth = 4096;
constexpr int kLines = 1024;
constexpr int kBatch = 30;

struct Options {
    int trialSeconds = 20;
    int confirmSeconds = 60;
    QStringList formats = {"JPG", "TIFF", "BMP", "PNG"};
    QString pixel = "Mono8";
    int low = 5000;
    int high = 60000;
    int steps = 4;
    int memoryLimitMiB = 8000;
    bool stepsOnly = false;
    bool fileCostsOnly = false;
    bool noSave = false; // the chain without saving: what is left when saving costs nothing
    bool noSteps = false;
    int only = 0; // run one trial of --confirm seconds at this rate, in this process
    int noise = 12;
    double exposureUs = 10;
    bool overload = false;
    int sustained = 0; // highest sustainable 4096-px Mono8 rate; the overload runs at twice it
    int overloadSeconds = 60;
    int budgetMiB = 1024;
    QStringList overloadChild; // width, pixel format, rate, format: one overload trial in this process
    QHash<QString, int> sustainedByFormat; // highest sustained rate per format
    bool rgbTrial = true;
    QString saveCpu = QStringLiteral("nice19"); // nice5, nice19 or idle: how saving threads give way
    QString saveIo = QStringLiteral("be7");     // none, be7 or idle
    bool flatField = false;
    bool keepCameraPixels = false;
    bool setupTools = true; // the line profile and histogram docks open (--no-tools: closed)
    bool liveView = false;
    bool tileLatency = false;
};

struct TrialResult {
    bool ok = false;
    qint64 lost = 0;
    qint64 received = 0;
    qint64 maxIntakeBacklog = 0; // frames fetched but not yet batched by the window
    qint64 maxSaveBacklog = 0;   // batches handed to the worker but not yet written
    qint64 endSaveBacklog = 0;
    qint64 batches = 0; // closed by the window: a hole or a full budget closes one early
    qint64 dropped = 0; // frames the window's budget had no room for
    double drainSeconds = 0;
    qint64 peakKiB = 0;
    double seconds = 0;              // how long the camera ran
    double windowBusyMsPerFrame = 0; // CPU time of the window's thread per frame received
    bool aborted = false;            // memory ran past the limit: the window fell hopelessly behind
    qint64 files = 0;                // written and reported
    double writtenMBps = 0;          // bytes of the files over the camera's run
    double diskMBps = 0;             // the disk's synced write rate, right after the trial
};

// CPU time of the calling thread.
qint64 threadCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

qint64 statusKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').first().toLongLong();
    return -1;
}

// Lets the peak resident size start again from the current one.
void resetPeakMemory()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

// The form's action with this object name, as the operator would click it.
void trigger(MainWindow &w, const char *action)
{
    if (QAction *a = w.findChild<QAction *>(QLatin1String(action)))
        a->trigger();
    else
        std::fprintf(stderr, "no action %s\n", action);
}

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool cameraCounters(void *handle, qint64 &received, qint64 &lost)
{
    MV_MATCH_INFO_USB_DETECT usb{};
    MV_ALL_MATCH_INFO info{};
    info.nType = MV_MATCH_TYPE_USB_DETECT;
    info.pInfo = &usb;
    info.nInfoSize = sizeof usb;
    if (!handle || MV_CC_GetAllMatchInfo(handle, &info) != MV_OK)
        return false;
    received = usb.nReceivedFrameCount;
    lost = usb.nErrorFrameCount;
    return true;
}

// A reference as a lens with 40 % fall-off leaves it, switched on, where the
// window looks for the camera's references when it opens.
void storeFlatFieldReference(const MV_CC_DEVICE_INFO &device, const QString &pixel)
{
    FlatFieldReference reference;
    reference.pixelType = pixel == "RGB8" ? PixelType_Gvsp_RGB8_Packed : PixelType_Gvsp_Mono8;
    reference.layout = flatFieldLayoutOf(reference.pixelType, kWidth);
    reference.enabled = true;
    for (int i = 0; i < reference.layout.samples(); ++i) {
        const double u = (2.0 * (i / reference.layout.channels) + 1.0) / kWidth - 1.0;
        reference.dark.push_back(float(4 + i % 7));
        reference.white.push_back(float(reference.dark.back() + 220 * (1 - 0.4 * u * u)));
    }
    QFile file(QDir(AppSettings::settingsFolder())
                   .filePath(flatFieldFileName(deviceModelName(device), deviceSerialNumber(device))));
    if (!file.open(QIODevice::WriteOnly) || file.write(flatFieldFileBytes(reference)) < 0)
        std::fprintf(stderr, "flat-field reference not written: %s\n", qPrintable(file.errorString()));
}

void writeAndSync(const QString &path, qint64 bytes, bool sync)
{
    const std::vector<char> piece(size_t(8) << 20, 1);
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (qint64 done = 0; fd >= 0 && done < bytes; done += qint64(piece.size())) {
        if (::write(fd, piece.data(), piece.size()) < 0)
            break;
    }
    if (fd >= 0 && sync)
        ::fsync(fd);
    if (fd >= 0)
        ::close(fd);
    QFile::remove(path);
}

// What the disk under folder writes a second with the data synced: 512 MiB in
// 8 MiB pieces and an fsync, as dd conv=fsync would, median of 3.
double syncedWriteMBps(const QString &folder)
{
    const qint64 bytes = qint64(512) << 20;
    std::vector<double> rates;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer t;
        t.start();
        writeAndSync(QDir(folder).filePath(QStringLiteral("disk-rate")), bytes, true);
        rates.push_back(bytes / 1e6 / (t.nsecsElapsed() / 1e9));
    }
    std::sort(rates.begin(), rates.end());
    return rates[1];
}

TrialResult runTrial(const Options &o, const QString &format, int rate, int seconds)
{
    TrialResult r;
    QTemporaryDir scratch;
    QDir::setCurrent(scratch.path());
    // A ring as deep as the GenICam backend gives a camera of this payload
    // (as many buffers as fit in 128 MiB, at most 32), not the simulator's
    // default of 8: the trial measures the program, not a shallow ring.
    const QString ini = QStringLiteral("[BENCH]\ntransport = USB3\nwidth = %1\nlines_per_frame = %2\n"
                                       "pixel_format = %3\nline_rate = %4\nmax_line_rate = %4\n"
                                       "exposure_time = %5\nnoise = %6\nbuffer_count = 32\n")
                            .arg(kWidth)
                            .arg(kLines)
                            .arg(o.pixel)
                            .arg(rate)
                            .arg(o.exposureUs)
                            .arg(o.noise);
    std::string error;
    if (!mvsim::configure(ini.toStdString(), &error)) {
        std::fprintf(stderr, "camera configuration refused: %s\n", error.c_str());
        return r;
    }
    AppSettings::setValue(AppSettings::kStitchDirection, 0);
    AppSettings::setValue(AppSettings::kMaxStitchCount, kBatch);
    AppSettings::setValue(AppSettings::kSaveStitchImage, !o.noSave);
    AppSettings::setValue(AppSettings::kShowLiveView, o.liveView);
    AppSettings::setValue(AppSettings::kPartialStitch, true);
    AppSettings::setValue(AppSettings::kFormat, format);
    AppSettings::setValue(AppSettings::kSaveDir, scratch.filePath(QStringLiteral("out")));
    AppSettings::setValue(AppSettings::kKeepCameraPixels, o.keepCameraPixels);

    resetPeakMemory();
    auto w = std::make_unique<MainWindow>();
    w->show();
    // Written files are removed as soon as they are reported, so that a long
    // trial does not fill the disk; the encoding and writing still happen.
    // Not on the window's thread: on a disk that discards on delete, removing
    // a 377 MB file blocks for some 100 ms, which the window does not do.
    std::atomic<qint64> written{0};
    std::atomic<qint64> files{0};
    auto remover = std::make_unique<FileRemover>();
    QObject::connect(w->session().worker(), &StitchWorker::finished, w.get(),
                     [&written, &files, &remover](const QStringList &saved) {
                         remover->remove(saved);
                         files += saved.size();
                         ++written;
                     });
    QObject::connect(w->session().worker(), &StitchWorker::failed, w.get(), [&written](const QString &e) {
        std::fprintf(stderr, "save failed: %s\n", qPrintable(e));
        ++written;
    });
    trigger(*w, "actionCameraSearch");
    if (QComboBox *devices = w->findChild<QComboBox *>(QStringLiteral("cbSearchDevices")))
        devices->setCurrentIndex(0);
    if (o.flatField && w->m_deviceList.nDeviceNum > 0)
        storeFlatFieldReference(*w->m_deviceList.pDeviceInfo[0], o.pixel);
    trigger(*w, "actionCameraOpen");
    trigger(*w, "actionCameraStart");
    if (!w->m_isGrabbing) {
        std::fprintf(stderr, "camera did not start\n");
        return r;
    }
    if (o.flatField && !w->flatField()->correctionOn()) {
        std::fprintf(stderr, "flat-field reference not applied\n");
        return r;
    }
    // A window that falls behind queues frames without bound; on a shared
    // machine the trial is cut short before that hurts anyone. The camera
    // library allows stopping from another thread while the grab thread waits.
    std::atomic<bool> trialOver{false};
    std::atomic<bool> aborted{false};
    void *handle = w->m_handle;
    const qint64 baselineKiB = statusKiB("VmRSS:");
    std::thread watchdog([&] {
        while (!trialOver.load()) {
            if (statusKiB("VmRSS:") - baselineKiB > qint64(o.memoryLimitMiB) * 1024) {
                aborted.store(true);
                MV_CC_StopGrabbing(handle);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    for (const char *dock : {"lineProfileDock", "histogramDock"})
        if (QWidget *d = w->findChild<QWidget *>(QLatin1String(dock)))
            d->setVisible(o.setupTools);
    // What the window's thread spends: its CPU time over the trial, the
    // trial's own polling included (a few microseconds a quarter second).
    const qint64 windowCpuStartNs = threadCpuNs();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < seconds * 1000 && !aborted.load()) {
        spin(250);
        qint64 received = 0, lost = 0;
        if (cameraCounters(w->m_handle, received, lost)) {
            r.received = received;
            r.lost = lost;
        }
        const qint64 batched = qint64(w->session().batchCount()) * kBatch + w->session().openBatch().size();
        r.maxIntakeBacklog = std::max(r.maxIntakeBacklog, r.received - batched);
        r.maxSaveBacklog = std::max(r.maxSaveBacklog, qint64(w->session().batchCount()) - written.load());
    }
    r.windowBusyMsPerFrame
        = r.received > 0 ? (threadCpuNs() - windowCpuStartNs) / 1e6 / double(r.received) : 0;
    r.endSaveBacklog = qint64(w->session().batchCount()) - written.load();
    r.batches = w->session().batchCount();
    r.dropped = w->session().budget().dropped();
    r.seconds = clock.elapsed() / 1000.0;
    trialOver.store(true);
    watchdog.join();
    r.aborted = aborted.load();
    trigger(*w, "actionCameraStart"); // stop
    QElapsedTimer drain;
    drain.start();
    while (!o.noSave && written.load() < w->session().batchCount() && drain.elapsed() < 120000)
        spin(50);
    r.drainSeconds = drain.elapsed() / 1000.0;
    r.peakKiB = statusKiB("VmHWM:");
    trigger(*w, "actionCameraOpen"); // close
    w.reset();
    r.files = files.load();
    r.writtenMBps = r.seconds > 0 ? remover->bytes() / 1e6 / r.seconds : 0;
    remover.reset();
    r.diskMBps = syncedWriteMBps(scratch.path());
    // glibc keeps freed frame buffers in its heap; give them back so that the
    // next trial starts from the same footprint.
    malloc_trim(0);
    QDir::setCurrent(QDir::tempPath());
    // Steady state: nothing lost, the window keeps up with the frames, and at
    // most the batch being written plus one waiting.
    r.ok = !r.aborted && r.received > 0 && r.lost == 0 && r.dropped == 0 && r.maxIntakeBacklog <= 2 * kBatch
        && (o.noSave || r.endSaveBacklog <= 2);
    return r;
}

void printTrial(const QString &format, int rate, int seconds, const TrialResult &r)
{
    std::printf("  %-4s %6d lines/s (delivered %6.0f) %3d s: %s%s  received %lld lost %lld dropped %lld"
                "  intake backlog max %lld frames  batches %lld  save backlog max %lld end %lld"
                "  drain %.1f s  VmHWM %lld MiB  files %lld, written %.0f MB/s, disk synced %.0f MB/s"
                "  window thread CPU %.3f ms per frame\n",
                qPrintable(format), rate, r.seconds > 0 ? r.received * double(kLines) / r.seconds : 0.0,
                seconds, r.ok ? "ok  " : "FAIL", r.aborted ? " (memory limit)" : "", r.received, r.lost,
                r.dropped, r.maxIntakeBacklog, r.batches, r.maxSaveBacklog, r.endSaveBacklog, r.drainSeconds,
                r.peakKiB / 1024, r.files, r.writtenMBps, r.diskMBps, r.windowBusyMsPerFrame);
    std::fflush(stdout);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

template<typename F>
double medianMs(int runs, F step)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        step();
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    return median(ms);
}

// The batch view zoomed in past its scaled-down picture: how long from a zoom
// step to the full-resolution tile of the part on screen, for a batch of 30
// frames of the 4096-pixel camera (Left), in a 1024x768 window. Saving is off.
void printTileLatency(const Options &o)
{
    QTemporaryDir scratch;
    QDir::setCurrent(scratch.path());
    const QString ini
        = QStringLiteral("[BENCH]\ntransport = USB3\nwidth = %1\nlines_per_frame = %2\n"
                         "pixel_format = %3\nline_rate = 30000\nnoise = %4\nbuffer_count = 32\n")
              .arg(kWidth)
              .arg(kLines)
              .arg(o.pixel)
              .arg(o.noise);
    if (!mvsim::configure(ini.toStdString()))
        return;
    AppSettings::setValue(AppSettings::kStitchDirection, 0);
    AppSettings::setValue(AppSettings::kMaxStitchCount, kBatch);
    AppSettings::setValue(AppSettings::kSaveStitchImage, false);
    auto w = std::make_unique<MainWindow>();
    w->resize(1024, 768);
    w->show();
    trigger(*w, "actionCameraSearch");
    trigger(*w, "actionCameraOpen");
    trigger(*w, "actionCameraStart");
    QElapsedTimer waited;
    waited.start();
    while (w->m_previewShown == 0 && waited.elapsed() < 30000)
        spin(20);
    trigger(*w, "actionCameraStart"); // stop
    spin(500);
    std::vector<double> ms;
    for (int step = 0; step < 40 && ms.size() < 5; ++step) {
        const qint64 before = w->m_setupTools->lastTileMs();
        QElapsedTimer t;
        t.start();
        trigger(*w, "action_ZoomInt");
        while (w->m_setupTools->lastTileMs() == before && t.elapsed() < 300)
            spin(1);
        if (w->m_setupTools->lastTileMs() != before)
            ms.push_back(t.nsecsElapsed() / 1e6);
    }
    if (ms.empty())
        std::printf("  zoom step to full-resolution tile: no tile came\n");
    else
        std::printf("  zoom step to full-resolution tile %8.1f ms (median of %zu steps, %s, batch of %d)\n",
                    median(ms), ms.size(), qPrintable(o.pixel), kBatch);
    trigger(*w, "actionCameraOpen"); // close
    w.reset();
    QDir::setCurrent(QDir::tempPath());
}

// The frame the grab thread hands the window for stitching: a Mono8 frame
// stays gray, marked as standing for its RGB picture unless the camera's
// pixels are kept; kept, a deeper gray camera's frame is 16-bit gray.
QImage stitchFeedFrame(const Options &o)
{
    if (o.pixel == QLatin1String("Mono8")) {
        QImage gray(kWidth, kLines, QImage::Format_Grayscale8);
        gray.fill(128);
        return o.keepCameraPixels ? gray : markedAsRgb(gray);
    }
    const int bits = o.pixel.startsWith(QLatin1String("Mono")) ? o.pixel.mid(4, 2).toInt() : 0;
    if (o.keepCameraPixels && bits > 8) {
        QImage deep(kWidth, kLines, QImage::Format_Grayscale16);
        deep.fill(uint(1) << (bits - 1));
        return withSignificantBits(deep, bits);
    }
    QImage rgb(kWidth, kLines, QImage::Format_RGB888);
    rgb.fill(Qt::gray);
    return rgb;
}

// The kind of rows the worker makes of frames as grabbed: RGB, unless they
// are gray in their own right (8-bit, or 16-bit kept whole).
void describeAsGrabbed(SegmentPicture &picture, const QList<QImage> &grabbed)
{
    const FrameSurvey survey = surveyFrames(grabbed, turnAngleForDirection(0));
    picture.gray = survey.gray || survey.deep;
    picture.depth = survey.deep ? 16 : 8;
    picture.significantBits = survey.deep ? survey.significantBits : 8;
}

// What the window's thread spends per frame of the stitch feed for Left: the
// intake into the batch and handing each closed batch to the preview maker. Saving is
// off so that no stitch job competes for the cores. Median of 5 runs of three
// batches each.
void printIntakeCost(const Options &o)
{
    MainWindow w;
    w.m_isOpen = true;
    w.m_isGrabbing = true;
    w.session().setCollecting(true);
    w.m_saveStitchImage = false;
    w.m_stitchDirection = 0;
    w.m_maxStitchCount = kBatch;
    w.m_partialStitch = true;
    const QImage fed = stitchFeedFrame(o);
    const int frames = 3 * kBatch;
    const double ms = medianMs(5, [&] {
        for (int i = 0; i < frames; ++i)
            QMetaObject::invokeMethod(&w, "onChangeDetected", Q_ARG(QImage, fed), Q_ARG(QImage, fed),
                                      Q_ARG(qlonglong, 0), Q_ARG(qlonglong, 0));
    });
    std::printf(
        "  window thread, stitch feed     %8.2f ms per frame (%s, Left; the preview is composed off it)\n",
        ms / frames, qPrintable(o.pixel));
}

// A device that takes every byte and keeps none.
class NullDevice : public QIODevice
{
public:
    NullDevice() { open(QIODevice::WriteOnly); }
    bool isSequential() const override { return false; }
    qint64 size() const override { return m_end; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 size) override
    {
        m_end = std::max(m_end, pos() + size);
        return size;
    }

private:
    qint64 m_end = 0;
};

// What writeSegmentFile() does, without the file.
void encodeToNothing(const SegmentPicture &picture, const QString &format)
{
    const std::unique_ptr<StreamEncoder> encoder
        = createStreamEncoder(imageFormatFromSetting(format), 95, clampPngCompression(8));
    NullDevice device;
    if (!encoder || !encoder->begin(&device, picture.width, picture.height, picture.gray))
        return;
    const int preferred = encoder->preferredStripRows();
    const int rows = preferred > 0 ? preferred : stripRowsFor(picture.rowBytes());
    std::vector<uchar> strip(size_t(picture.rowBytes()) * size_t(rows));
    const int strips = (picture.height + rows - 1) / rows;
    for (int s = 0; s < strips; ++s) {
        const int first = (encoder->bottomUp() ? strips - 1 - s : s) * rows;
        const int count = std::min(rows, picture.height - first);
        composeRows(picture, first, count, strip.data(), picture.rowBytes());
        encoder->writeRows(strip.data(), picture.rowBytes(), count);
    }
    encoder->finish();
}

// The cost of each step of the chain on its own, median of several runs.
void printStepCosts(const Options &o)
{
    // The grab thread hands the window RGB888 frames for every pixel format
    // the camera library converts, Mono8 included.
    QImage frame(kWidth, kLines, QImage::Format_RGB888);
    frame.fill(Qt::gray);
    std::printf("Step costs (RGB888 frame %dx%d, median of runs):\n", kWidth, kLines);
    std::printf("  turn for Left (-90)            %8.1f ms per frame\n",
                medianMs(9, [&] { QImage t = turnFrameForDirection(frame, 0); }));
    std::printf("  turn for Top (180)             %8.1f ms per frame\n",
                medianMs(9, [&] { QImage t = turnFrameForDirection(frame, 3); }));
    std::printf("  pixmap of a live frame         %8.1f ms per shown frame\n",
                medianMs(9, [&] { QPixmap p = QPixmap::fromImage(frame); }));
    QList<QImage> batch;
    const QImage turned = turnFrameForDirection(frame, 0);
    for (int i = 0; i < kBatch; ++i)
        batch.append(turned.copy());
    std::printf("  preview, bounded (as shown)    %8.1f ms per batch\n", medianMs(5, [&] {
                    QPixmap p = QPixmap::fromImage(composePreview(batch, 0, kPreviewPixelBudget).picture);
                }));
    QList<QImage> grabbed;
    for (int i = 0; i < kBatch; ++i)
        grabbed.append(stitchFeedFrame(o));
    std::printf(
        "  preview of the batch as grabbed%8.1f ms per batch (%s, turned while composed)\n",
        medianMs(5,
                 [&] {
                     QPixmap p = QPixmap::fromImage(
                         composePreview(grabbed, 0, kPreviewPixelBudget, turnAngleForDirection(0)).picture);
                 }),
        qPrintable(o.pixel));
    std::printf("  preview, full resolution       %8.1f ms per batch\n",
                medianMs(3, [&] { QPixmap p = QPixmap::fromImage(composePreview(batch, 0).picture); }));
    // The save streams the batch's frames into the encoder (no canvas).
    SegmentPicture stitched;
    stitched.gray = false;
    stitched.width = turned.width() * kBatch;
    stitched.height = turned.height();
    for (const QImage &f : batch)
        stitched.append(f);
    QTemporaryDir dir;
    for (const QString &format : o.formats) {
        const QString path = dir.filePath(QStringLiteral("s.") + format.toLower());
        std::printf("  encode and write %-4s          %8.1f ms per batch (%dx%d)\n", qPrintable(format),
                    medianMs(3,
                             [&] {
                                 writeSegmentFile(path, stitched, imageFormatFromSetting(format), 95, 8);
                                 QFile::remove(path);
                             }),
                    stitched.width, stitched.height);
    }
    printIntakeCost(o);
    // The same batch as grabbed: the encoder's strips turn the frames (and
    // widen Mono8 to RGB) as they are composed.
    SegmentPicture asGrabbed;
    describeAsGrabbed(asGrabbed, grabbed);
    asGrabbed.width = stitched.width;
    asGrabbed.height = stitched.height;
    for (const QImage &f : grabbed)
        asGrabbed.append(f, turnAngleForDirection(0));
    const auto composeAll = [](const SegmentPicture &picture) {
        const int rows = stripRowsFor(picture.rowBytes());
        std::vector<uchar> strip(size_t(picture.rowBytes()) * size_t(rows));
        for (int first = 0; first < picture.height; first += rows)
            composeRows(picture, first, rows, strip.data(), picture.rowBytes());
    };
    std::printf("  compose the strips, turned     %8.1f ms per batch (RGB888 frames turned before)\n",
                medianMs(5, [&] { composeAll(stitched); }));
    std::printf("  compose the strips, as grabbed %8.1f ms per batch (%s, turned in the strips)\n",
                medianMs(5, [&] { composeAll(asGrabbed); }), qPrintable(o.pixel));
    for (const QString &format : o.formats) {
        const QString path = dir.filePath(QStringLiteral("g.") + format.toLower());
        std::printf("  encode and write %-4s as grabbed %6.1f ms per batch (%s, turned in the strips)\n",
                    qPrintable(format),
                    medianMs(3,
                             [&] {
                                 writeSegmentFile(path, asGrabbed, imageFormatFromSetting(format), 95, 8);
                                 QFile::remove(path);
                             }),
                    qPrintable(o.pixel));
    }
    // Where a save's time goes: composing the rows alone, encoding them into
    // a device that keeps nothing, and the disk alone (the same bytes
    // written in 8 MiB pieces and synced, as dd conv=fsync would).
    std::vector<uchar> strip(size_t(stitched.rowBytes()) * size_t(stripRowsFor(stitched.rowBytes())));
    const int rows = stripRowsFor(stitched.rowBytes());
    std::printf("  compose rows only               %8.1f ms per batch\n", medianMs(3, [&] {
                    for (int first = 0; first < stitched.height; first += rows)
                        composeRows(stitched, first, rows, strip.data(), stitched.rowBytes());
                }));
    for (const QString &format : o.formats) {
        std::printf("  compose and encode %-4s, no file %7.1f ms per batch\n", qPrintable(format),
                    medianMs(3, [&] { encodeToNothing(stitched, format); }));
    }
    const qint64 batchBytes = qint64(stitched.rowBytes()) * stitched.height;
    std::printf("  disk: %lld MB in 8 MiB writes   %8.1f ms unsynced, %.1f ms with fsync\n",
                batchBytes / 1000000,
                medianMs(3, [&] { writeAndSync(dir.filePath("dd"), batchBytes, false); }),
                medianMs(3, [&] { writeAndSync(dir.filePath("dd"), batchBytes, true); }));
    std::printf("  one batch arrives every         %8.1f ms at 30000 lines/s, %.1f ms at 90000\n",
                1000.0 * kBatch * kLines / 30000.0, 1000.0 * kBatch * kLines / 90000.0);
    std::fflush(stdout);
}

// What a file costs whatever its size (creating it, starting the encoder,
// syncing it and its folder, renaming it): a file of one frame against one
// of a whole batch, frames as grabbed from the Mono8 camera and turned for
// Left, as the worker writes them. Median of several runs each.
void printFileCosts(const Options &o)
{
    std::printf("Fixed cost of a file (1 frame against %d, %dx%d %s as grabbed, Left, written and synced):\n",
                kBatch, kWidth, kLines, qPrintable(o.pixel));
    QTemporaryDir dir;
    const auto pictureOf = [&](int frames) {
        SegmentPicture picture;
        QList<QImage> grabbed;
        while (grabbed.size() < frames)
            grabbed.append(stitchFeedFrame(o));
        describeAsGrabbed(picture, grabbed);
        picture.width = kLines * frames;
        picture.height = kWidth;
        for (const QImage &frame : grabbed)
            picture.append(frame, turnAngleForDirection(0));
        return picture;
    };
    const SegmentPicture one = pictureOf(1);
    const SegmentPicture batch = pictureOf(kBatch);
    for (const QString &format : o.formats) {
        const QString path = dir.filePath(QStringLiteral("f.") + format.toLower());
        const auto write = [&](const SegmentPicture &picture) {
            writeSegmentFile(path, picture, imageFormatFromSetting(format), 95, 8);
            QFile::remove(QFileInfo(path).path() + QLatin1Char('/') + QFileInfo(path).completeBaseName() + '.'
                          + imageFormatSuffix(imageFormatFromSetting(format)));
        };
        const double single = medianMs(9, [&] { write(one); });
        const double whole = medianMs(5, [&] { write(batch); });
        const double fixed = (kBatch * single - whole) / (kBatch - 1);
        std::printf("  %-4s 1 frame %7.1f ms, %d frames %7.1f ms: fixed %6.1f ms a file, %6.1f ms a frame;"
                    " a one-frame file costs %4.1fx a frame's share of a full one\n",
                    qPrintable(format), single, kBatch, whole, fixed, (whole - fixed) / kBatch,
                    single / (whole / kBatch));
    }
    std::fflush(stdout);
}

TrialResult confirmInChild(const Options &o, const QString &format, int rate)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList arguments{"--only",         QString::number(rate),
                          "--formats",      format,
                          "--pixel",        o.pixel,
                          "--confirm",      QString::number(o.confirmSeconds),
                          "--memory-limit", QString::number(o.memoryLimitMiB),
                          "--noise",        QString::number(o.noise),
                          "--exposure",     QString::number(o.exposureUs)};
    if (o.noSave)
        arguments << "--no-save";
    if (o.flatField)
        arguments << "--flatfield";
    if (o.keepCameraPixels)
        arguments << "--keep-camera-pixels";
    child.start(QCoreApplication::applicationFilePath(), arguments);
    child.waitForFinished(-1);
    TrialResult r;
    for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
        if (line.startsWith("RESULT ")) {
            const QList<QByteArray> f = line.split(' ');
            r.ok = f.value(1) == "1";
            r.peakKiB = f.value(2).toLongLong();
        } else if (!line.isEmpty()) {
            std::printf("%s\n", line.constData());
        }
    }
    std::fflush(stdout);
    return r;
}

// One overload trial in this process: the window grabs from a camera for
// o.overloadSeconds, then Stop is clicked and the window closed as an
// operator would. Written files are removed as they are reported. Prints
// one OVERLOAD line of key=value fields.
int runOverloadChild(const Options &o)
{
    const int width = o.overloadChild.value(0).toInt();
    const QString pixel = o.overloadChild.value(1);
    const int rate = o.overloadChild.value(2).toInt();
    const QString format = o.overloadChild.value(3);
    QTemporaryDir scratch(QDir::current().filePath(QStringLiteral("overload-XXXXXX")));
    QDir::setCurrent(scratch.path());
    // As deep a ring as the GenICam backend gives: the buffers that fit in
    // 128 MiB, at most 32.
    const qint64 frameBytes = qint64(width) * kLines * (pixel == QLatin1String("RGB8") ? 3 : 1);
    const int buffers = int(std::clamp<qint64>((qint64(128) << 20) / frameBytes, 2, 32));
    const QString ini = QStringLiteral("[BENCH]\ntransport = USB3\nwidth = %1\nlines_per_frame = %2\n"
                                       "pixel_format = %3\nline_rate = %4\nmax_line_rate = %4\n"
                                       "exposure_time = %5\nnoise = %6\nbuffer_count = %7\n")
                            .arg(width)
                            .arg(kLines)
                            .arg(pixel)
                            .arg(rate)
                            .arg(o.exposureUs)
                            .arg(o.noise)
                            .arg(buffers);
    std::string error;
    if (!mvsim::configure(ini.toStdString(), &error)) {
        std::fprintf(stderr, "camera configuration refused: %s\n", error.c_str());
        return 1;
    }
    AppSettings::setValue(AppSettings::kStitchDirection, 0);
    AppSettings::setValue(AppSettings::kMaxStitchCount, kBatch);
    AppSettings::setValue(AppSettings::kSaveStitchImage, true);
    AppSettings::setValue(AppSettings::kPartialStitch, true);
    AppSettings::setValue(AppSettings::kFormat, format);
    AppSettings::setValue(AppSettings::kSaveDir, scratch.filePath(QStringLiteral("out")));
    qputenv("CORVISTA_MEMORY_BUDGET_MIB", QByteArray::number(o.budgetMiB));
    SavePriority priority;
    priority.cpu = o.saveCpu == QLatin1String("idle") ? SaveCpuPriority::Idle : SaveCpuPriority::Nicer;
    priority.niceness = o.saveCpu == QLatin1String("nice19") ? 19 : 5;
    priority.io = o.saveIo == QLatin1String("idle") ? SaveIoPriority::Idle
        : o.saveIo == QLatin1String("be7")          ? SaveIoPriority::BestEffortLowest
                                                    : SaveIoPriority::Unchanged;
    setSavePriority(priority);

    auto w = std::make_unique<MainWindow>();
    w->show();
    // Frames of each closed batch, by batch number, to count the lines of
    // the files as they are reported.
    QHash<int, int> batchFrames;
    int openFrames = 0;
    int seenBatches = 0;
    const auto noteClosedBatches = [&](bool frameJoined) {
        if (w->session().batchCount() != seenBatches) {
            // At most one batch closes per frame or hole.
            batchFrames.insert(w->session().batchCount(), openFrames + (frameJoined ? 1 : 0));
            seenBatches = w->session().batchCount();
        }
        openFrames = w->session().openBatch().size();
    };
    QObject::connect(w->m_workThread, &WorkThread::changeDetected, w.get(), [&] { noteClosedBatches(true); });
    QObject::connect(w->m_workThread, &WorkThread::sequenceBroken, w.get(),
                     [&] { noteClosedBatches(false); });
    std::atomic<qint64> writtenFrames{0};
    std::atomic<qint64> writtenFiles{0};
    FileRemover remover;
    const QRegularExpression batchPart(QStringLiteral("_Batch(\\d+)_"));
    QObject::connect(w->session().worker(), &StitchWorker::finished, w.get(), [&](const QStringList &files) {
        for (const QString &file : files)
            writtenFrames += batchFrames.value(batchPart.match(file).captured(1).toInt());
        writtenFiles += files.size();
        remover.remove(files);
    });
    QObject::connect(w->session().worker(), &StitchWorker::failed, w.get(),
                     [](const QString &e) { std::fprintf(stderr, "save failed: %s\n", qPrintable(e)); });
    trigger(*w, "actionCameraSearch");
    trigger(*w, "actionCameraOpen");

    std::atomic<bool> sampling{true};
    std::atomic<qint64> peakRssKiB{0};
    const qint64 startKiB = statusKiB("VmRSS:");
    std::thread sampler([&] {
        while (sampling.load()) {
            peakRssKiB.store(std::max(peakRssKiB.load(), statusKiB("VmRSS:")));
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    StallProbe stalls(w.get());
    trigger(*w, "actionCameraStart");
    if (!w->m_isGrabbing) {
        std::fprintf(stderr, "camera did not start\n");
        sampling.store(false);
        sampler.join();
        return 1;
    }
    QElapsedTimer clock;
    clock.start();
    spin(o.overloadSeconds * 1000);
    const double seconds = clock.nsecsElapsed() / 1e9;
    const qint64 writtenInRun = writtenFrames.load();
    const qint64 filesInRun = writtenFiles.load();
    qint64 received = 0, lost = 0;
    cameraCounters(w->m_handle, received, lost);
    const qint64 dropped = w->session().budget().dropped();

    QElapsedTimer stopping;
    stopping.start();
    trigger(*w, "actionCameraStart"); // the checked Start button, clicked again, stops
    const double stopMs = w->m_workThread->isRunning() ? -1 : stopping.nsecsElapsed() / 1e6;
    stalls.stop();
    const double stallMs = stalls.longestMs();
    // Let the handed-off batches finish, as closing the window would.
    while (w->session().pendingSaves() > 0)
        spin(20);
    qint64 kept = 0, full = 0;
    for (int frames : qAsConst(batchFrames)) {
        kept += frames;
        full += frames == kBatch ? 1 : 0;
    }
    QElapsedTimer closing;
    closing.start();
    w->close();
    const double closeMs = closing.nsecsElapsed() / 1e6;
    w.reset();
    sampling.store(false);
    sampler.join();

    std::printf("OVERLOAD format=%s width=%d pixel=%s rate=%d seconds=%.1f delivered=%.0f written=%.0f "
                "received=%lld lost=%lld dropped=%lld files=%lld frames_per_file=%.2f full=%.1f "
                "files_in_run=%lld peak_minus_start_mib=%lld budget_mib=%d stall_ms=%.1f stop_ms=%.1f "
                "close_ms=%.1f\n",
                qPrintable(format), width, qPrintable(pixel), rate, seconds,
                received * double(kLines) / seconds, writtenInRun * double(kLines) / seconds, received, lost,
                dropped, qint64(batchFrames.size()),
                batchFrames.isEmpty() ? 0.0 : double(kept) / batchFrames.size(),
                batchFrames.isEmpty() ? 0.0 : 100.0 * full / batchFrames.size(), filesInRun,
                (peakRssKiB.load() - startKiB) / 1024, o.budgetMiB, stallMs, stopMs, closeMs);
    std::fflush(stdout);
    QDir::setCurrent(QDir::tempPath());
    return 0;
}

QHash<QString, QString> overloadFields(const QByteArray &line)
{
    QHash<QString, QString> fields;
    for (const QByteArray &part : line.split(' ')) {
        const int eq = part.indexOf('=');
        if (eq > 0)
            fields.insert(QString::fromLatin1(part.left(eq)), QString::fromLatin1(part.mid(eq + 1)));
    }
    return fields;
}

QHash<QString, QString> runOverloadTrial(const Options &o, int width, const QString &pixel, int rate,
                                         const QString &format, int seconds)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {"--overload-child", QString::number(width), pixel, QString::number(rate), format,
                 "--overload-seconds", QString::number(seconds), "--budget", QString::number(o.budgetMiB),
                 "--noise", QString::number(o.noise), "--exposure", QString::number(o.exposureUs),
                 "--save-cpu", o.saveCpu, "--save-io", o.saveIo});
    child.waitForFinished(-1);
    for (const QByteArray &line : child.readAllStandardOutput().split('\n'))
        if (line.startsWith("OVERLOAD "))
            return overloadFields(line);
    return {};
}

void printOverloadRow(const QString &label, const QHash<QString, QString> &f, double sustainedWritten)
{
    if (f.isEmpty()) {
        std::printf("  %-26s  (trial failed)\n", qPrintable(label));
        return;
    }
    const double written = f.value("written").toDouble();
    const double sent = f.value("received").toDouble() + f.value("lost").toDouble();
    std::printf(
        "  %-26s delivered %6.0f written %6.0f lines/s (%5.1f %% of sustained %6.0f)  lost at camera %5s"
        " (%4.1f %%)  dropped %5s  files %4s, %5s frames/file, %5s %% full  peak-start %5s MiB"
        " (budget %s)  longest stall %6s ms  stop %5s ms  close %5s ms\n",
        qPrintable(label), f.value("delivered").toDouble(), written,
        sustainedWritten > 0 ? 100.0 * written / sustainedWritten : 0.0, sustainedWritten,
        qPrintable(f.value("lost")), sent > 0 ? 100.0 * f.value("lost").toDouble() / sent : 0.0,
        qPrintable(f.value("dropped")), qPrintable(f.value("files")), qPrintable(f.value("frames_per_file")),
        qPrintable(f.value("full")), qPrintable(f.value("peak_minus_start_mib")),
        qPrintable(f.value("budget_mib")), qPrintable(f.value("stall_ms")), qPrintable(f.value("stop_ms")),
        qPrintable(f.value("close_ms")));
    std::fflush(stdout);
}

// For each format: a trial at its sustained rate (what the machine writes
// without overload, in this run), then at 1.5x and 3x that rate; then the
// 8192-px RGB8 camera at 30000 lines/s.
void runOverload(const Options &o)
{
    std::printf(
        "Overload (budget %d MiB, %d s each, %dx%d Mono8 noise %d, batches of %d, Left, saving threads"
        " cpu %s io %s):\n",
        o.budgetMiB, o.overloadSeconds, kWidth, kLines, o.noise, kBatch, qPrintable(o.saveCpu),
        qPrintable(o.saveIo));
    for (const QString &format : o.formats) {
        const int sustained = o.sustainedByFormat.value(format.toUpper(), o.sustained);
        if (sustained <= 0) {
            std::printf("  %s: no sustained rate given\n", qPrintable(format));
            continue;
        }
        const QHash<QString, QString> base
            = runOverloadTrial(o, kWidth, QStringLiteral("Mono8"), sustained, format, o.overloadSeconds);
        const double sustainedWritten = base.value("written").toDouble();
        printOverloadRow(QStringLiteral("%1 %2 (sustained)").arg(format).arg(sustained), base,
                         sustainedWritten);
        for (const double factor : {1.5, 3.0}) {
            const int rate = int(sustained * factor);
            printOverloadRow(
                QStringLiteral("%1 %2 (%3x)").arg(format).arg(rate).arg(factor),
                runOverloadTrial(o, kWidth, QStringLiteral("Mono8"), rate, format, o.overloadSeconds),
                sustainedWritten);
        }
    }
    if (o.rgbTrial) {
        const QString format = o.formats.value(0, QStringLiteral("JPG"));
        printOverloadRow(QStringLiteral("%1 8192 RGB8 30000").arg(format),
                         runOverloadTrial(o, 8192, QStringLiteral("RGB8"), 30000, format, o.overloadSeconds),
                         0);
    }
}

Options parseOptions(const QStringList &args)
{
    Options o;
    for (int i = 1; i < args.size(); ++i) {
        const QString a = args[i];
        const QString next = i + 1 < args.size() ? args[i + 1] : QString();
        if (a == "--trial")
            o.trialSeconds = next.toInt(), ++i;
        else if (a == "--confirm")
            o.confirmSeconds = next.toInt(), ++i;
        else if (a == "--formats")
            o.formats = next.split(','), ++i;
        else if (a == "--pixel")
            o.pixel = next, ++i;
        else if (a == "--low")
            o.low = next.toInt(), ++i;
        else if (a == "--high")
            o.high = next.toInt(), ++i;
        else if (a == "--steps")
            o.steps = next.toInt(), ++i;
        else if (a == "--memory-limit")
            o.memoryLimitMiB = next.toInt(), ++i;
        else if (a == "--file-costs")
            o.fileCostsOnly = true;
        else if (a == "--steps-only")
            o.stepsOnly = true;
        else if (a == "--no-save")
            o.noSave = true;
        else if (a == "--no-steps")
            o.noSteps = true;
        else if (a == "--only")
            o.only = next.toInt(), ++i;
        else if (a == "--noise")
            o.noise = next.toInt(), ++i;
        else if (a == "--exposure")
            o.exposureUs = next.toDouble(), ++i;
        else if (a == "--overload")
            o.overload = true;
        else if (a == "--sustained")
            o.sustained = next.toInt(), ++i;
        else if (a == "--overload-seconds")
            o.overloadSeconds = next.toInt(), ++i;
        else if (a == "--budget")
            o.budgetMiB = next.toInt(), ++i;
        else if (a == "--flatfield")
            o.flatField = true;
        else if (a == "--keep-camera-pixels")
            o.keepCameraPixels = true;
        else if (a == "--no-tools")
            o.setupTools = false;
        else if (a == "--live")
            o.liveView = true;
        else if (a == "--tile-latency")
            o.tileLatency = true;
        else if (a == "--overload-child" && i + 4 < args.size())
            o.overloadChild = args.mid(i + 1, 4), i += 4;
        else if (a == "--sustained-by-format") {
            // JPG:48500,TIFF:20000,BMP:36500
            for (const QString &pair : next.split(',')) {
                const QStringList kv = pair.split(':');
                if (kv.size() == 2)
                    o.sustainedByFormat.insert(kv[0].toUpper(), kv[1].toInt());
            }
            ++i;
        } else if (a == "--no-rgb-trial")
            o.rgbTrial = false;
        else if (a == "--save-cpu")
            o.saveCpu = next, ++i;
        else if (a == "--save-io")
            o.saveIo = next, ++i;
    }
    return o;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("CORVISTA_CAMERAS", "simulator");
    QApplication app(argc, argv);
    const Options o = parseOptions(app.arguments());

    if (!o.overloadChild.isEmpty())
        return runOverloadChild(o);
    if (o.tileLatency) {
        printTileLatency(o);
        return 0;
    }
    if (o.fileCostsOnly) {
        printFileCosts(o);
        return 0;
    }
    if (o.overload) {
        if (o.sustained <= 0 && o.sustainedByFormat.isEmpty()) {
            std::fprintf(stderr, "--overload needs --sustained RATE (from a run without --overload)\n");
            return 2;
        }
        runOverload(o);
        return 0;
    }
    if (o.only > 0) {
        const QString format = o.formats.value(0);
        const TrialResult r = runTrial(o, format, o.only, o.confirmSeconds);
        printTrial(format, o.only, o.confirmSeconds, r);
        std::printf("RESULT %d %lld\n", r.ok ? 1 : 0, r.peakKiB);
        return r.ok ? 0 : 1;
    }
    if (!o.noSteps) {
        printStepCosts(o);
        printFileCosts(o);
    }
    if (o.stepsOnly)
        return 0;

    struct Row {
        QString format;
        int rate;
        TrialResult confirm;
    };
    std::vector<Row> rows;
    for (const QString &format : o.formats) {
        std::printf("%s: bisection with %d s trials\n", qPrintable(format), o.trialSeconds);
        // Coarse bisection on a geometric scale between low and high.
        int good = 0;
        int lo = o.low;
        int hi = o.high;
        for (int step = 0; step < o.steps; ++step) {
            const int rate = step == 0 ? std::min(30000, hi) : (lo + hi) / 2 / 500 * 500;
            const TrialResult r = runTrial(o, format, rate, o.trialSeconds);
            printTrial(format, rate, o.trialSeconds, r);
            if (r.ok) {
                good = rate;
                lo = rate;
            } else {
                hi = rate;
            }
            if (hi - lo <= 1000)
                break;
        }
        if (good == 0)
            good = o.low;
        // Confirm for the long run in a fresh process, so that its peak memory
        // is not the heap left behind by a failed trial; step down by a tenth
        // until the rate holds.
        TrialResult confirm;
        for (int tries = 0; tries < 3; ++tries) {
            confirm = confirmInChild(o, format, good);
            if (confirm.ok)
                break;
            good = good * 9 / 10 / 500 * 500;
        }
        rows.push_back({format, confirm.ok ? good : 0, confirm});
    }
    std::printf("\nSustained line rate (%s, %dx%d frames, batches of %d, Left, saving on):\n",
                qPrintable(o.pixel), kWidth, kLines, kBatch);
    std::printf("  format  lines/s  (confirmed %d s)  peak memory\n", o.confirmSeconds);
    for (const Row &row : rows)
        std::printf("  %-6s  %7d  %s  %lld MiB\n", qPrintable(row.format), row.rate,
                    row.rate ? "yes              " : "no rate held     ", row.confirm.peakKiB / 1024);
    return 0;
}

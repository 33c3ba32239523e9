// Stitches a batch of 30 frames of 1000 x 4096 (direction Left: one segment
// of 30000 x 4096) into each output format, and joins the same frames with
// `vips arrayjoin` at matched encoder settings. Prints, per format, the
// median wall time of both, their ratio and the peak resident memory of each.
// The frames are RGB, plain 8-bit gray (gray files), or 16-bit gray of a
// 12-bit sensor (16-bit PNG and TIFF; BMP and JPEG of the top 8 bits, which
// vips is given ready shifted, as it has no such step of its own).
//
//   bench_stitch [--runs N] [--formats JPG,PNG,TIFF,BMP] [--pixels rgb|gray|gray16]
//                                    the comparison (default 3 runs, every
//                                    format, RGB; PNG at level 8 takes minutes)
//   bench_stitch --ours FORMAT DIR [PIXELS]
//                                    one timed save in this process (used by
//                                    the comparison, one child per run)
//   bench_stitch --draw              canvas drawing only: scanline copies
//                                    against a painter in Source mode
//   bench_stitch --wide FORMAT gray|mono|rgb DIR
//                                    a 16384-pixel camera's batch: 32 frames
//                                    of 1024 x 16384 (turned for Left), one
//                                    32768 x 16384 segment; prints the time
//                                    and the peak memory with and without
//                                    the frames
#include "composer.h"
#include "framekind.h"
#include "stitchworker.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kFrames = 30;
constexpr int kFrameWidth = 1000;
constexpr int kFrameHeight = 4096;

constexpr int kDeepBits = 12;

// A line-scan-like picture: smooth shading, a repeating texture and sensor
// noise, so that every encoder has realistic work to do. pixels: "rgb",
// "gray" (the red channel's content) or "gray16" (the same at 12 bits, with
// the noise of the 4 bits more a 12-bit sensor resolves).
QImage benchFrame(int index, const QString &pixels = QStringLiteral("rgb"))
{
    const bool deep = pixels == QLatin1String("gray16");
    QImage frame(kFrameWidth, kFrameHeight,
                 deep                                  ? QImage::Format_Grayscale16
                     : pixels == QLatin1String("gray") ? QImage::Format_Grayscale8
                                                       : QImage::Format_RGB888);
    quint32 noise = 2463534242u + quint32(index) * 7919u;
    for (int y = 0; y < kFrameHeight; ++y) {
        uchar *row = frame.scanLine(y);
        for (int x = 0; x < kFrameWidth; ++x) {
            noise ^= noise << 13;
            noise ^= noise >> 17;
            noise ^= noise << 5;
            const int shade = (x + index * kFrameWidth) / 160 + y / 24;
            const int texture = ((x / 7) ^ (y / 5)) & 15;
            const int grain = int(noise & 7);
            if (deep) {
                reinterpret_cast<quint16 *>(row)[x]
                    = quint16((60 + shade % 120 + texture) * 16 + (noise & 127));
            } else if (frame.format() == QImage::Format_Grayscale8) {
                row[x] = uchar(60 + shade % 120 + texture + grain);
            } else {
                row[3 * x] = uchar(60 + shade % 120 + texture + grain);
                row[3 * x + 1] = uchar(50 + (shade * 3) % 110 + texture + grain);
                row[3 * x + 2] = uchar(40 + (shade * 5) % 100 + grain);
            }
        }
    }
    return deep ? withSignificantBits(frame, kDeepBits) : frame;
}

// The top 8 of a 16-bit frame's significant bits, as BMP and JPEG keep them.
QImage topBits(const QImage &frame)
{
    QImage top(frame.size(), QImage::Format_Grayscale8);
    for (int y = 0; y < frame.height(); ++y) {
        const quint16 *from = reinterpret_cast<const quint16 *>(frame.constScanLine(y));
        for (int x = 0; x < frame.width(); ++x)
            top.scanLine(y)[x] = uchar(from[x] >> (kDeepBits - 8));
    }
    return top;
}

long peakResidentKb()
{
    FILE *status = std::fopen("/proc/self/status", "r");
    if (!status)
        return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, status)) {
        if (std::strncmp(line, "VmHWM:", 6) == 0)
            kb = std::strtol(line + 6, nullptr, 10);
    }
    std::fclose(status);
    return kb;
}

// Saves batch once through the stitch worker, as one file: the file's path
// and the time taken, or an empty path (said on stderr) when it failed.
struct TimedSave {
    QString file;
    qint64 ms = 0;
};
TimedSave saveOnce(const QList<QImage> &batch, const QString &format, const QString &folder)
{
    StitchWorker worker;
    QStringList files;
    QString error;
    QObject::connect(&worker, &StitchWorker::finished, [&](const QStringList &saved) { files = saved; });
    QObject::connect(&worker, &StitchWorker::failed, [&](const QString &text) { error = text; });
    QElapsedTimer timer;
    timer.start();
    worker.saveStitchImages(batch, 0, folder, QString(), QString(), 0, format, 95, 8);
    TimedSave save;
    save.ms = timer.elapsed();
    if (!error.isEmpty() || files.size() != 1)
        std::fprintf(stderr, "save failed: %s\n", qPrintable(error));
    else
        save.file = files.first();
    return save;
}

// Child mode: builds the batch (not timed), stitches and writes it once.
int runOurs(const QString &format, const QString &folder, const QString &pixels)
{
    QList<QImage> batch;
    for (int i = 0; i < kFrames; ++i)
        batch << benchFrame(i, pixels);
    const long batchPeakKb = peakResidentKb();

    const TimedSave save = saveOnce(batch, format, folder);
    if (save.file.isEmpty())
        return 1;
    const qint64 ms = save.ms;
    std::printf("%lld %ld %ld %lld\n", static_cast<long long>(ms), peakResidentKb(), batchPeakKb,
                static_cast<long long>(QFileInfo(save.file).size()));
    return 0;
}

// Wide mode: the largest segment a save ever writes.
// kind: "gray" (8-bit files), "mono" (a Mono8 camera's gray frames, saved as
// 24-bit RGB) or "rgb".
int runWide(const QString &format, const QString &kind, const QString &folder)
{
    const bool gray = kind != QLatin1String("rgb");
    constexpr int kWideFrames = 32, kWideWidth = 1024, kWideHeight = 16384;
    QList<QImage> batch;
    for (int i = 0; i < kWideFrames; ++i) {
        QImage frame(kWideWidth, kWideHeight, gray ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
        quint32 noise = 2463534242u + quint32(i) * 7919u;
        for (int y = 0; y < kWideHeight; ++y) {
            uchar *row = frame.scanLine(y);
            for (int x = 0; x < frame.bytesPerLine(); ++x) {
                noise ^= noise << 13;
                noise ^= noise >> 17;
                noise ^= noise << 5;
                row[x] = uchar(((x + y) >> 3) + (noise & 7));
            }
        }
        batch << (kind == QLatin1String("mono") ? markedAsRgb(frame) : frame);
    }
    const long batchPeakKb = peakResidentKb();
    const TimedSave save = saveOnce(batch, format, folder);
    if (save.file.isEmpty())
        return 1;
    const qint64 ms = save.ms;
    const long peakKb = peakResidentKb();
    std::printf("%s %s 32768 x 16384 segment: %lld ms, peak %.0f MiB, frames alone %.0f MiB, "
                "the save added %.0f MiB\n",
                qPrintable(format), qPrintable(kind), static_cast<long long>(ms), peakKb / 1024.0,
                batchPeakKb / 1024.0, (peakKb - batchPeakKb) / 1024.0);
    QFile::remove(save.file);
    return 0;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Drawing the batch onto one canvas, without encoding: the scanline copy the
// composer uses against a painter in Source mode, for colour and gray.
int runDrawing(int runs)
{
    for (QImage::Format format : {QImage::Format_RGB888, QImage::Format_Grayscale8}) {
        QList<QImage> batch;
        for (int i = 0; i < kFrames; ++i)
            batch << benchFrame(i).convertToFormat(format);
        std::vector<double> copied, painted;
        for (int run = 0; run < runs; ++run) {
            QImage canvas = createCanvas(kFrames * kFrameWidth, kFrameHeight, format);
            QElapsedTimer timer;
            timer.start();
            int offset = 0;
            for (const QImage &frame : batch)
                offset = drawFrame(canvas, frame, offset, true);
            copied.push_back(double(timer.nsecsElapsed()) / 1e6);

            timer.restart();
            {
                QPainter painter(&canvas);
                painter.setCompositionMode(QPainter::CompositionMode_Source);
                offset = 0;
                for (const QImage &frame : batch) {
                    painter.drawImage(offset, 0, frame);
                    offset += frame.width();
                }
            }
            painted.push_back(double(timer.nsecsElapsed()) / 1e6);
        }
        std::printf("drawing the batch onto a filled %s canvas, median of %d runs: "
                    "scanline copy %.0f ms, QPainter Source %.0f ms\n",
                    format == QImage::Format_RGB888 ? "RGB888" : "Grayscale8", runs, median(copied),
                    median(painted));
    }
    return 0;
}

struct ChildResult {
    bool ok = false;
    double wallMs = 0;
    long maxRssKb = 0;
    std::string output;
};

// Runs a program to its end and measures its wall time and peak memory.
ChildResult runChild(const std::vector<std::string> &args)
{
    ChildResult result;
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return result;
    QElapsedTimer timer;
    timer.start();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        std::vector<char *> argv;
        for (const std::string &arg : args)
            argv.push_back(const_cast<char *>(arg.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    char buffer[512];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0)
        result.output.append(buffer, size_t(n));
    close(pipeFds[0]);
    int status = 0;
    struct rusage usage;
    std::memset(&usage, 0, sizeof usage);
    if (wait4(pid, &status, 0, &usage) != pid)
        return result;
    result.wallMs = double(timer.nsecsElapsed()) / 1e6;
    result.maxRssKb = usage.ru_maxrss;
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return result;
}

void removeFiles(const QString &folder)
{
    QDir dir(folder);
    for (const QString &name : dir.entryList(QDir::Files))
        dir.remove(name);
}

struct FormatCase {
    const char *name;       // our format name
    const char *vipsTarget; // vips output file with its save options
    const char *vipsLabel;
};

int runComparison(int runs, const QStringList &formats, const QString &pixels)
{
    QTemporaryDir work;
    if (!work.isValid())
        return 1;
    const QString framesDir = work.filePath(QStringLiteral("frames"));
    const QString oursDir = work.filePath(QStringLiteral("ours"));
    const QString vipsDir = work.filePath(QStringLiteral("vips"));
    QDir().mkpath(framesDir);
    QDir().mkpath(oursDir);
    QDir().mkpath(vipsDir);

    // vips reads its native .v files (uncompressed, memory-mapped), so its
    // timing holds no decoding. 16-bit frames go to BMP and JPEG as their
    // top bits, which vips gets as frames of their own.
    const bool deep = pixels == QLatin1String("gray16");
    std::string frameList, narrowList;
    for (int i = 0; i < kFrames * (deep ? 2 : 1); ++i) {
        const QString png
            = QDir(framesDir).filePath(QStringLiteral("f%1.png").arg(i, 2, 10, QLatin1Char('0')));
        const QString v = QDir(framesDir).filePath(QStringLiteral("f%1.v").arg(i, 2, 10, QLatin1Char('0')));
        const QImage frame = benchFrame(i % kFrames, pixels);
        if (!(i < kFrames ? frame : topBits(frame)).save(png, "PNG", 100))
            return 1;
        if (!runChild({"vips", "copy", png.toStdString(), v.toStdString()}).ok) {
            std::fprintf(stderr, "vips is missing or cannot convert the frames\n");
            return 1;
        }
        QFile::remove(png);
        std::string &list = i < kFrames ? frameList : narrowList;
        list += (list.empty() ? "" : " ") + v.toStdString();
    }
    if (!deep)
        narrowList = frameList;

    const std::vector<FormatCase> cases = {
        {"JPG", "out.jpg[Q=95,subsample-mode=on]", "jpegsave Q 95, 4:2:0"},
        {"PNG", "out.png[compression=8,filter=all]", "pngsave compression 8, all filters"},
        {"TIFF", "out.tif[compression=none]", "tiffsave uncompressed"},
        // vips has no BMP writer of its own and its ImageMagick saver refuses
        // pictures this wide, so BMP is compared with vips's raw .v format.
        {"BMP", "out.v", "vips .v raw (no BMP writer)"},
    };

    const std::string self = QCoreApplication::applicationFilePath().toStdString();
    const int pixelBytes = deep ? 2 : pixels == QLatin1String("gray") ? 1 : 3;
    std::printf("batch: %d %s frames of %d x %d, direction Left, one %d x %d segment; "
                "median of %d runs\n",
                kFrames, qPrintable(pixels), kFrameWidth, kFrameHeight, kFrames * kFrameWidth, kFrameHeight,
                runs);
    std::printf("batch %.0f MiB\n", double(kFrames) * kFrameWidth * kFrameHeight * pixelBytes / 1048576.0);
    std::printf("%-5s %10s %12s %12s %10s %8s %12s  %s\n", "fmt", "ours ms", "ours peak MiB", "batch MiB",
                "vips ms", "ratio", "vips peak MiB", "vips settings");
    for (const FormatCase &format : cases) {
        if (!formats.contains(QLatin1String(format.name)))
            continue;
        std::vector<double> ours, vips;
        long oursPeak = 0, oursBatch = 0, vipsPeak = 0;
        long long oursBytes = 0, vipsBytes = 0;
        bool vipsOk = true;
        for (int run = 0; run < runs; ++run) {
            const ChildResult child
                = runChild({self, "--ours", format.name, oursDir.toStdString(), pixels.toStdString()});
            removeFiles(oursDir);
            long long ms = 0, fileBytes = 0;
            long peak = 0, batchPeak = 0;
            if (!child.ok
                || std::sscanf(child.output.c_str(), "%lld %ld %ld %lld", &ms, &peak, &batchPeak, &fileBytes)
                    != 4) {
                std::fprintf(stderr, "our %s save failed\n", format.name);
                return 1;
            }
            ours.push_back(double(ms));
            oursBytes = fileBytes;
            oursPeak = std::max(oursPeak, peak);
            oursBatch = std::max(oursBatch, batchPeak);

            const std::string target
                = QDir(vipsDir).filePath(QString::fromLatin1(format.vipsTarget)).toStdString();
            const bool narrow = format.name == std::string("JPG") || format.name == std::string("BMP");
            const ChildResult joined = runChild({"vips", "arrayjoin", narrow ? narrowList : frameList, target,
                                                 "--across", std::to_string(kFrames)});
            const QString written
                = QDir(vipsDir).filePath(QString::fromLatin1(format.vipsTarget).section('[', 0, 0));
            vipsBytes = QFileInfo(written).size();
            removeFiles(vipsDir);
            if (!joined.ok) {
                vipsOk = false;
                continue;
            }
            vips.push_back(joined.wallMs);
            vipsPeak = std::max(vipsPeak, joined.maxRssKb);
            std::printf("  %s run %d: ours %lld ms, vips %.0f ms\n", format.name, run + 1, ms, joined.wallMs);
            std::fflush(stdout);
        }
        const double oursMs = median(ours);
        if (vipsOk && !vips.empty()) {
            const double vipsMs = median(vips);
            std::printf("%-5s %10.0f %12.0f %12.0f %10.0f %8.2f %12.0f  %s\n", format.name, oursMs,
                        oursPeak / 1024.0, oursBatch / 1024.0, vipsMs, oursMs / vipsMs, vipsPeak / 1024.0,
                        format.vipsLabel);
            std::printf("      file sizes: ours %.1f MiB, vips %.1f MiB (ours %+.1f %%)\n",
                        oursBytes / 1048576.0, vipsBytes / 1048576.0,
                        vipsBytes > 0 ? 100.0 * (oursBytes - vipsBytes) / vipsBytes : 0.0);
        } else {
            std::printf("%-5s %10.0f %12.0f %12.0f %10s %8s %12s  %s: vips could not write it\n", format.name,
                        oursMs, oursPeak / 1024.0, oursBatch / 1024.0, "-", "-", "-", format.vipsLabel);
        }
        std::fflush(stdout);
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if ((args.size() == 4 || args.size() == 5) && args.at(1) == QLatin1String("--ours"))
        return runOurs(args.at(2), args.at(3), args.value(4, QStringLiteral("rgb")));
    if (args.size() == 5 && args.at(1) == QLatin1String("--wide"))
        return runWide(args.at(2), args.at(3), args.at(4));
    if (args.size() >= 2 && args.at(1) == QLatin1String("--draw"))
        return runDrawing(5);
    int runs = 3;
    QStringList formats = {"JPG", "PNG", "TIFF", "BMP"};
    QString pixels = QStringLiteral("rgb");
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args.at(i) == QLatin1String("--runs"))
            runs = std::max(1, args.at(i + 1).toInt());
        else if (args.at(i) == QLatin1String("--formats"))
            formats = args.at(i + 1).toUpper().split(QLatin1Char(','));
        else if (args.at(i) == QLatin1String("--pixels"))
            pixels = args.at(i + 1).toLower();
    }
    return runComparison(runs, formats, pixels);
}

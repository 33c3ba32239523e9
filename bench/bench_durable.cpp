// What writing a picture whole-or-absent costs against a plain write: the
// same encoded bytes go once through QFile (write, close: no sync, the name
// is there from the first byte) and once through DurableFile (partial file,
// checked writes, fsync, close, link into place, folder sync). Prints, per
// file size, the median wall time of each and the difference.
//
//   bench_durable [--runs N] [--dir FOLDER] [--sizes MiB,MiB,...]
//       defaults: 7 runs, a temporary folder under the working directory
//       (keep it on the disk the pictures go to: tmpfs syncs for free),
//       sizes 1,12,64 (a JPEG segment, a 4096-line BMP batch, a TIFF batch)
#include "durablefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Writes in 1 MiB pieces, as an encoder streaming lines would.
template<typename Device>
bool writeAll(Device &device, const QByteArray &bytes)
{
    constexpr int kPiece = 1 << 20;
    for (int at = 0; at < bytes.size(); at += kPiece) {
        const int length = std::min(kPiece, bytes.size() - at);
        if (device.write(bytes.constData() + at, length) != length)
            return false;
    }
    return true;
}

double plainWrite(const QString &path, const QByteArray &bytes)
{
    QElapsedTimer timer;
    timer.start();
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !writeAll(file, bytes))
        return -1;
    file.close();
    return timer.nsecsElapsed() / 1e6;
}

double durableWrite(const QString &path, const QByteArray &bytes)
{
    QElapsedTimer timer;
    timer.start();
    DurableFile file(path);
    if (!file.open() || !writeAll(file, bytes) || !file.commit())
        return -1;
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int runs = 7;
    QString folder;
    QList<int> sizes{1, 12, 64};
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args.at(i) == QLatin1String("--runs"))
            runs = std::max(1, args.at(i + 1).toInt());
        else if (args.at(i) == QLatin1String("--dir"))
            folder = args.at(i + 1);
        else if (args.at(i) == QLatin1String("--sizes")) {
            sizes.clear();
            for (const QString &size : args.at(i + 1).split(QLatin1Char(',')))
                sizes << std::max(1, size.toInt());
        }
    }
    QTemporaryDir scratch(
        QDir(folder.isEmpty() ? QDir::currentPath() : folder).filePath("bench_durable-XXXXXX"));
    if (!scratch.isValid()) {
        std::fprintf(stderr, "bench_durable: cannot make a folder to write in\n");
        return 1;
    }

    std::printf("%8s %14s %16s %12s   (median of %d runs, %s)\n", "MiB", "plain ms", "durable ms", "extra ms",
                runs, qPrintable(scratch.path()));
    for (const int mib : sizes) {
        QByteArray bytes(mib << 20, Qt::Uninitialized);
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = char((i * 131) ^ (i >> 9));
        std::vector<double> plain;
        std::vector<double> durable;
        for (int run = 0; run < runs; ++run) {
            // Alternate, so neither side always meets a cache the other warmed.
            plain.push_back(plainWrite(scratch.filePath(QStringLiteral("plain%1.bin").arg(run)), bytes));
            durable.push_back(
                durableWrite(scratch.filePath(QStringLiteral("durable%1.bin").arg(run)), bytes));
            if (plain.back() < 0 || durable.back() < 0) {
                std::fprintf(stderr, "bench_durable: a write failed\n");
                return 1;
            }
        }
        const double p = median(plain);
        const double d = median(durable);
        std::printf("%8d %14.1f %16.1f %12.1f\n", mib, p, d, d - p);
    }
    return 0;
}

// What the PNG encoder's choice of deflate level costs and saves, against
// zlib at the level the user set, on the rows a Mono8 line-scan camera's
// picture gives (gray widened to 24-bit RGB, filtered as libpng filters):
// five kinds of content, from grain to a clean sensor on a textured scene.
// For each zlib level 1 to 9 prints zlib's size and speed, libdeflate's at
// the level it stands in for, and at the level cheapestLevelNear() picks on
// the content, each size relative to zlib's.
//
//   bench_pnglevels [--rows N]    rows of 30720 pixels a content (default 256)
#include "deflatepiece.h"
#include "pngfilter.h"

#include <QElapsedTimer>
#include <QRandomGenerator>

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int kWidth = 30720;
constexpr std::size_t kPiece = std::size_t(1) << 20;

struct Content {
    const char *name;
    int kind;
};

const Content kContents[] = {
    {"gradient, uniform noise +-12 (bench_pipeline's camera)", 0},
    {"gradient, Gaussian noise sigma 1", 1},
    {"gradient, Gaussian noise sigma 2", 2},
    {"texture, Gaussian noise sigma 2", 3},
    {"texture, Gaussian noise sigma 4", 4},
};

double gaussian(QRandomGenerator &random)
{
    const double u = (random.generate() + 1.0) / 4294967297.0;
    const double v = (random.generate() + 1.0) / 4294967297.0;
    return std::sqrt(-2 * std::log(u)) * std::cos(6.283185307179586 * v);
}

// The filtered rows of one content, as the PNG encoder hands them to deflate.
std::vector<uchar> filteredRows(int kind, int rows)
{
    QRandomGenerator random(quint32(11 + kind));
    const std::size_t rowBytes = std::size_t(kWidth) * 3;
    std::vector<uchar> raw(rowBytes * std::size_t(rows));
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            double v = ((x + y) >> 1) & 255;
            if (kind == 0)
                v += int(random.bounded(25)) - 12;
            else if (kind <= 2)
                v += kind * gaussian(random);
            else
                v = 128 + 50 * std::sin(x * 0.05) * std::cos(y * 0.031) + 30 * std::sin((x + 2 * y) * 0.013)
                    + (kind == 3 ? 20 * std::sin(x * 0.4 + y * 0.2) + 2 * gaussian(random)
                                 : 4 * gaussian(random));
            std::memset(&raw[std::size_t(y) * rowBytes + std::size_t(x) * 3],
                        std::clamp(int(std::lround(v)), 0, 255), 3);
        }
    }
    std::vector<uchar> filtered((rowBytes + 1) * std::size_t(rows));
    const std::vector<uchar> zeros(rowBytes, 0);
    for (int y = 0; y < rows; ++y) {
        filterPngRow(&raw[std::size_t(y) * rowBytes],
                     y == 0 ? zeros.data() : &raw[std::size_t(y - 1) * rowBytes], rowBytes, 3,
                     &filtered[std::size_t(y) * (rowBytes + 1)]);
    }
    return filtered;
}

struct Result {
    std::size_t bytes = 0;
    double mbPerSecond = 0;
};

Result zlibAt(const std::vector<uchar> &data, int level)
{
    uLongf size = compressBound(uLong(data.size()));
    std::vector<uchar> out(size);
    QElapsedTimer timer;
    timer.start();
    compress2(out.data(), &size, data.data(), uLong(data.size()), level);
    return {std::size_t(size), data.size() / (timer.nsecsElapsed() / 1e3)};
}

// In 1-MiB pieces, as the encoder deflates.
Result libdeflateAt(const std::vector<uchar> &data, int level)
{
    libdeflate_compressor *compressor = libdeflate_alloc_compressor(level);
    std::vector<uchar> out(libdeflate_deflate_compress_bound(compressor, kPiece));
    Result result;
    QElapsedTimer timer;
    timer.start();
    for (std::size_t at = 0; at < data.size(); at += kPiece) {
        result.bytes += libdeflate_deflate_compress(
            compressor, data.data() + at, std::min(kPiece, data.size() - at), out.data(), out.size());
    }
    result.mbPerSecond = data.size() / (timer.nsecsElapsed() / 1e3);
    libdeflate_free_compressor(compressor);
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    int rows = 256;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--rows") == 0)
            rows = std::max(4, std::atoi(argv[++i]));
    }
    std::printf("%d rows of %d pixels, gray widened to RGB; MB/s on one core; sizes against zlib's\n", rows,
                kWidth);
    for (const Content &content : kContents) {
        const std::vector<uchar> data = filteredRows(content.kind, rows);
        std::printf("\n%s: %.1f MB filtered\n", content.name, data.size() / 1e6);
        std::printf("  zlib   ratio   MB/s | libdeflate  size    MB/s | chosen  size    MB/s\n");
        for (int level = 1; level <= 9; ++level) {
            const Result zlib = zlibAt(data, level);
            const int standIn = libdeflateLevelFor(level);
            const Result ours = libdeflateAt(data, standIn);
            const std::size_t middle = (data.size() - std::min(kPiece, data.size())) / 2;
            const int chosen
                = cheapestLevelNear(data.data() + middle, std::min(kPiece, data.size()), standIn);
            const Result picked = libdeflateAt(data, chosen);
            const auto relative = [&](std::size_t bytes) { return 100.0 * (double(bytes) / zlib.bytes - 1); };
            std::printf("  %4d  %.4f %6.1f | %10d %+5.1f%% %6.1f | %6d %+5.1f%% %6.1f\n", level,
                        double(zlib.bytes) / data.size(), zlib.mbPerSecond, standIn, relative(ours.bytes),
                        ours.mbPerSecond, chosen, relative(picked.bytes), picked.mbPerSecond);
        }
    }
    return 0;
}

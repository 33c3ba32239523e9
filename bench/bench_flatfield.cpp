// Flat-field correction of one 4096-pixel frame of 512 lines, as the grab
// thread runs it for every frame, against a memcpy of the same bytes (what a
// frame costs the grab thread anyway). Prints the median of 101 runs in
// microseconds per frame and the ratio to memcpy, for Mono8, Mono16 and RGB8.
#include "flatfield.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int width = 4096, lines = 512, runs = 101;

template<typename Work>
double medianMicroseconds(Work work)
{
    work(); // warm caches and pages
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const std::chrono::duration<double, std::micro> elapsed = std::chrono::steady_clock::now() - start;
        times.push_back(elapsed.count());
    }
    std::nth_element(times.begin(), times.begin() + runs / 2, times.end());
    return times[runs / 2];
}

// A reference as a lens with 40 % fall-off and a column pattern leave it.
FlatFieldReference reference(MvGvspPixelType type)
{
    FlatFieldReference made;
    made.pixelType = type;
    made.layout = flatFieldLayoutOf(type, width);
    made.enabled = true;
    const double scale = double(1 << (made.layout.bits - 8));
    for (int i = 0; i < made.layout.samples(); ++i) {
        const double u = (2.0 * (i / made.layout.channels) + 1.0) / width - 1.0;
        made.dark.push_back(float((4 + i % 7) * scale));
        made.white.push_back(float(made.dark.back() + 220 * scale * (1 - 0.4 * u * u)));
    }
    return made;
}

} // namespace

int main()
{
    std::printf("frame %d px x %d lines, median of %d runs\n", width, lines, runs);
    std::printf("%-8s %10s %12s %12s %8s\n", "format", "MB", "memcpy us", "FFC us", "ratio");
    for (MvGvspPixelType type : {PixelType_Gvsp_Mono8, PixelType_Gvsp_Mono16, PixelType_Gvsp_RGB8_Packed}) {
        const FlatFieldCorrection correction = flatFieldCorrection(reference(type));
        const qsizetype lineBytes = correction.layout.lineBytes();
        const std::size_t bytes = std::size_t(lineBytes) * lines;
        std::vector<unsigned char> raw(bytes), out(bytes);
        for (std::size_t i = 0; i < bytes; ++i)
            raw[i] = static_cast<unsigned char>(i * 131 + i / 4096);
        const double copy = medianMicroseconds([&] { std::memcpy(out.data(), raw.data(), bytes); });
        const double corrected = medianMicroseconds(
            [&] { correctFlatFieldLines(correction, raw.data(), out.data(), lines, lineBytes); });
        std::printf("%-8s %10.1f %12.1f %12.1f %8.2f\n",
                    type == PixelType_Gvsp_Mono8        ? "Mono8"
                        : type == PixelType_Gvsp_Mono16 ? "Mono16"
                                                        : "RGB8",
                    bytes / 1e6, copy, corrected, corrected / copy);
    }
    return 0;
}

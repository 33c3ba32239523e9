// Pixel conversion of one 4096 x 1024 frame to packed RGB8, as the grab thread
// runs it for every frame, against a plain memcpy of the same output size.
// Prints the median of 20 runs in MB/s of output and the ratio to memcpy.
#include "MvCameraControl.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr unsigned int width = 4096, height = 1024, runs = 20;

double medianOf(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return (values[values.size() / 2] + values[(values.size() - 1) / 2]) / 2;
}

template<typename Work>
double medianMegabytesPerSecond(std::size_t outputBytes, Work work)
{
    work(); // warm caches and pages
    std::vector<double> rates;
    for (unsigned int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
        rates.push_back(double(outputBytes) / 1e6 / seconds.count());
    }
    return medianOf(rates);
}

} // namespace

int main()
{
    const std::size_t pixels = std::size_t(width) * height;
    // Large enough for the widest source format (RGB8, three bytes a pixel).
    std::vector<unsigned char> source(pixels * 3);
    for (std::size_t i = 0; i < source.size(); ++i)
        source[i] = static_cast<unsigned char>(i * 131 + i / width);
    std::vector<unsigned char> target(pixels * 3);
    std::vector<unsigned char> copySource(pixels * 3, 7);

    const double memcpyRate = medianMegabytesPerSecond(
        target.size(), [&] { std::memcpy(target.data(), copySource.data(), target.size()); });
    std::printf("frame %ux%u, output %.1f MB, median of %u runs\n", width, height, target.size() / 1e6, runs);
    std::printf("%-22s %10.0f MB/s\n", "memcpy", memcpyRate);

    struct Case {
        const char *name;
        MvGvspPixelType type;
    };
    for (const Case &c :
         {Case{"Mono8 -> RGB8", PixelType_Gvsp_Mono8}, Case{"Mono10 -> RGB8", PixelType_Gvsp_Mono10},
          Case{"Mono16 -> RGB8", PixelType_Gvsp_Mono16}, Case{"Mono10p -> RGB8", PixelType_Gvsp_Mono10p},
          Case{"Mono12p -> RGB8", PixelType_Gvsp_Mono12p},
          Case{"Mono12Packed -> RGB8", PixelType_Gvsp_Mono12_Packed},
          Case{"BayerRG8 -> RGB8", PixelType_Gvsp_BayerRG8},
          Case{"BayerGR8 -> RGB8", PixelType_Gvsp_BayerGR8},
          Case{"BayerBG8 -> RGB8", PixelType_Gvsp_BayerBG8}, Case{"RGB8 -> RGB8", PixelType_Gvsp_RGB8_Packed},
          Case{"BGR8 -> RGB8", PixelType_Gvsp_BGR8_Packed},
          Case{"YUV422_8 -> RGB8", PixelType_Gvsp_YUV422_8}}) {
        int status = MV_OK;
        const double rate = medianMegabytesPerSecond(target.size(), [&] {
            MV_CC_PIXEL_CONVERT_PARAM param;
            std::memset(&param, 0, sizeof param);
            param.nWidth = width;
            param.nHeight = height;
            param.enSrcPixelType = c.type;
            param.pSrcData = source.data();
            param.nSrcDataLen = unsigned(source.size());
            param.enDstPixelType = PixelType_Gvsp_RGB8_Packed;
            param.pDstBuffer = target.data();
            param.nDstBufferSize = unsigned(target.size());
            status |= MV_CC_ConvertPixelType(nullptr, &param);
        });
        if (status != MV_OK) {
            std::printf("%-22s failed with status 0x%08x\n", c.name, unsigned(status));
            return 1;
        }
        std::printf("%-22s %10.0f MB/s  %5.2f x memcpy  %6.2f ms per frame\n", c.name, rate,
                    rate / memcpyRate, double(target.size()) / 1e3 / rate);
    }
    return 0;
}

// How late a simulated camera hands over encoder-triggered frames: the time
// from a frame's last line passing under the camera (its device timestamp) to
// the host holding it, for frames of a running belt and for the frames that
// waited through a stop of the belt. Prints medians and maxima in microseconds.
#include "MvCameraControl.h"
#include "mvsim.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

double medianOf(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return (values[values.size() / 2] + values[(values.size() - 1) / 2]) / 2;
}

} // namespace

int main()
{
    setenv("CORVISTA_CAMERAS", "simulator", 1);
    // 100-line frames at 4000 lines/s: 40 a second, and a frame across each
    // 0.2 s stop.
    std::string error;
    if (!mvsim::configure(
            "[BENCH]\nwidth = 1024\nlines_per_frame = 100\nline_rate = 4000\nbuffer_count = 64\n"
            "conveyor = 4000 for 0.33, stop for 0.2\n",
            &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    MV_CC_DEVICE_INFO_LIST list{};
    void *handle = nullptr;
    if (MV_CC_EnumDevices(MV_GIGE_DEVICE | MV_USB_DEVICE, &list) != MV_OK || list.nDeviceNum == 0
        || MV_CC_CreateHandle(&handle, list.pDeviceInfo[0]) != MV_OK)
        return 1;
    const auto opened = std::chrono::steady_clock::now();
    if (MV_CC_OpenDevice(handle, MV_ACCESS_Exclusive, 0) != MV_OK
        || MV_CC_SetEnumValueByString(handle, "TriggerSelector", "LineStart") != MV_OK
        || MV_CC_SetEnumValueByString(handle, "TriggerMode", "On") != MV_OK
        || MV_CC_StartGrabbing(handle) != MV_OK)
        return 1;

    std::vector<unsigned char> buffer(1024 * 100);
    std::vector<double> running, afterStop;
    double previousUs = 0;
    for (int i = 0; i < 120; ++i) {
        MV_FRAME_OUT_INFO_EX info{};
        if (MV_CC_GetOneFrameTimeout(handle, buffer.data(), unsigned(buffer.size()), &info, 1000) != MV_OK)
            return 1;
        const double hostUs
            = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - opened).count();
        const double deviceUs = double((uint64_t(info.nDevTimeStampHigh) << 32) | info.nDevTimeStampLow);
        // A running belt makes a frame every 25 ms; a longer interval means a stop.
        (deviceUs - previousUs > 100000 ? afterStop : running).push_back(hostUs - deviceUs);
        previousUs = deviceUs;
    }
    MV_CC_StopGrabbing(handle);
    MV_CC_CloseDevice(handle);
    MV_CC_DestroyHandle(handle);

    std::printf("frames of 100 lines at 4000 lines/s, belt stopping for 0.2 s every 0.53 s\n");
    std::printf("%-28s %6zu frames  median %8.0f us  max %8.0f us\n", "belt running", running.size(),
                medianOf(running), *std::max_element(running.begin(), running.end()));
    std::printf("%-28s %6zu frames  median %8.0f us  max %8.0f us\n", "first frame after a stop",
                afterStop.size(), medianOf(afterStop), *std::max_element(afterStop.begin(), afterStop.end()));
    return 0;
}

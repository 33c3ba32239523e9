// One simulated line-scan camera.
#ifndef MVCC_SIMDEVICE_H
#define MVCC_SIMDEVICE_H

#include "backend.h"
#include "simconfig.h"
#include "simconveyor.h"
#include "simsensor.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

namespace mvcc {

// What outlives one open of a simulated camera: whether it has vanished.
struct SimCameraState {
    std::atomic<bool> gone{false};
    std::atomic<int64_t> vanishLimit{-1}; // frames after open; < 0 never
    std::atomic<int> target{-1};          // level of the even target in view; < 0 the scene
};

class SimDevice final : public CameraDevice
{
public:
    SimDevice(const SimCameraConfig &config, std::shared_ptr<SimCameraState> state);

    int open(unsigned int accessMode) override;
    void close() override;
    int startGrabbing() override;
    int stopGrabbing() override;
    int getFrame(unsigned char *buffer, unsigned int size, MV_FRAME_OUT_INFO_EX &info,
                 unsigned int timeoutMs) override;
    int getInt(const std::string &name, MVCC_INTVALUE_EX &value) override;
    int setInt(const std::string &name, int64_t value) override;
    int getFloat(const std::string &name, MVCC_FLOATVALUE &value) override;
    int setFloat(const std::string &name, float value) override;
    int getEnum(const std::string &name, MVCC_ENUMVALUE &value) override;
    int setEnum(const std::string &name, unsigned int value) override;
    int getEnumEntries(const std::string &name, std::string &current,
                       std::vector<std::string> &entries) override;
    int setEnumByName(const std::string &name, const std::string &entry) override;
    int getBool(const std::string &name, bool &value) override;
    int setBool(const std::string &name, bool value) override;
    int optimalPacketSize() override;
    int statistics(StreamStatistics &stats) override;

private:
    using Clock = std::chrono::steady_clock;
    struct QueuedFrame {
        uint64_t number;    // frames read out since open before this one
        uint64_t firstLine; // absolute line number of its first line
        unsigned int lines;
        uint64_t timestampUs; // device clock when its last line was read out
    };

    int featureCheckLocked(const std::string &name, char type) const;
    double resultingLineRateLocked() const;
    double slotsAt(Clock::time_point when) const;
    Clock::time_point timeOfSlot(double slot) const;
    void advanceLocked(Clock::time_point now);
    void changePacingLocked();
    uint64_t linesBefore(uint64_t frame) const;
    unsigned int linesOf(uint64_t frame) const;
    uint64_t completionSlot(uint64_t frame) const;
    uint64_t framesCompletedBy(double slots) const;
    void deliverLocked(const QueuedFrame &frame, unsigned char *buffer, MV_FRAME_OUT_INFO_EX &info);
    QueuedFrame queuedFrame(uint64_t frame, uint64_t timestampUs) const;
    bool paced() const { return encoderPaced_ || pace_ > 0; }
    bool starved() const { return frameTriggered_ && config_.objectLines == 0; }
    double secondsSinceOpen(Clock::time_point when) const;
    void beginSegmentLocked(Clock::time_point now);
    void triggerChangedLocked();
    unsigned int *triggerValueLocked(const std::string &name);

    const SimCameraConfig config_;
    const unsigned int sceneOffset_;
    const SimSensor sensor_;
    const unsigned int framesPerObject_;
    const std::shared_ptr<SimCameraState> state_;

    std::mutex mutex_;                   // protects every member below
    std::condition_variable frameReady_; // a frame completed, or grabbing stopped
    bool open_ = false;
    bool grabbing_ = false;

    float exposureTime_ = 0;
    float gain_ = 0;
    int64_t lineRate_ = 0;
    bool lineRateEnable_ = false;
    unsigned int pixelFormat_ = 0;
    unsigned int exposureMode_ = 0;
    unsigned int exposureAuto_ = 0;
    int64_t packetSize_ = 1500;
    // Trigger features, per selector: index 0 LineStart, 1 FrameStart.
    unsigned int triggerSelector_ = 0;
    unsigned int triggerMode_[2] = {0, 0};
    unsigned int triggerSource_[2] = {0, 0};
    unsigned int triggerActivation_[2] = {0, 0};
    const Conveyor conveyor_;

    Clock::time_point openTime_;
    uint64_t nextLine_ = 0;        // line number the next stream starts with
    uint64_t streamFirstLine_ = 0; // line number of the current stream's first line
    uint64_t frameNumberBase_ = 0; // frames of earlier streams since open
    uint64_t produced_ = 0;        // frames of this stream read out (queued or dropped)
    std::deque<QueuedFrame> queue_;
    Clock::time_point anchorTime_;
    double anchorSlot_ = 0;        // line slots (lines and gap lines) elapsed at anchorTime_
    double pace_ = 0;              // line slots per second; 0 = a frame whenever asked
    bool encoderPaced_ = false;    // lines come from the conveyor's encoder, not the clock
    double anchorPosition_ = 0;    // encoder lines the belt had travelled at anchorTime_
    bool frameTriggered_ = false;  // frames of the stream start at objects
    unsigned int objectLines_ = 0; // of the stream's frame layout; 0 = continuous
    StreamStatistics stats_;
    uint64_t deliveredSinceOpen_ = 0;
};

} // namespace mvcc

#endif // MVCC_SIMDEVICE_H

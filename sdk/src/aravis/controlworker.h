// One thread that runs control jobs in order, with a bounded queue.
#ifndef MVCC_CONTROLWORKER_H
#define MVCC_CONTROLWORKER_H

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace mvcc {

// One thread that runs jobs in order. At most `bound` jobs wait; more are
// refused and counted. The thread outlives the worker until its queue is
// done, so a job stuck on a camera never holds up whoever drops the worker.
class ControlWorker
{
public:
    struct Completion;

    explicit ControlWorker(std::size_t bound);
    ~ControlWorker();
    ControlWorker(const ControlWorker &) = delete;
    ControlWorker &operator=(const ControlWorker &) = delete;

    // Queues job; null when the queue is full.
    std::shared_ptr<Completion> post(std::function<void()> job);
    // Whether the job behind completion has run, waiting at most `limit`.
    static bool waitFor(const std::shared_ptr<Completion> &completion, std::chrono::milliseconds limit);
    uint64_t refused() const;

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

} // namespace mvcc

#endif // MVCC_CONTROLWORKER_H

#include "controlworker.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace mvcc {

struct ControlWorker::Completion {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
};

struct ControlWorker::Shared {
    std::mutex mutex; // protects everything below
    std::condition_variable wake;
    std::deque<std::pair<std::function<void()>, std::shared_ptr<Completion>>> jobs;
    std::size_t bound = 0;
    uint64_t refused = 0;
    bool closing = false;
};

ControlWorker::ControlWorker(std::size_t bound) : shared_(std::make_shared<Shared>())
{
    shared_->bound = bound;
    std::thread([shared = shared_] {
        for (;;) {
            std::pair<std::function<void()>, std::shared_ptr<Completion>> job;
            {
                std::unique_lock<std::mutex> lock(shared->mutex);
                shared->wake.wait(lock, [&] { return shared->closing || !shared->jobs.empty(); });
                if (shared->jobs.empty())
                    return;
                job = std::move(shared->jobs.front());
                shared->jobs.pop_front();
            }
            job.first();
            std::lock_guard<std::mutex> lock(job.second->mutex);
            job.second->done = true;
            job.second->finished.notify_all();
        }
    }).detach();
}

/* Lets the thread finish the queued jobs and end; returns at once. */
ControlWorker::~ControlWorker()
{
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->closing = true;
    shared_->wake.notify_all();
}

std::shared_ptr<ControlWorker::Completion> ControlWorker::post(std::function<void()> job)
{
    auto completion = std::make_shared<Completion>();
    std::lock_guard<std::mutex> lock(shared_->mutex);
    if (shared_->jobs.size() >= shared_->bound) {
        ++shared_->refused;
        return nullptr;
    }
    shared_->jobs.emplace_back(std::move(job), completion);
    shared_->wake.notify_all();
    return completion;
}

bool ControlWorker::waitFor(const std::shared_ptr<Completion> &completion, std::chrono::milliseconds limit)
{
    if (!completion)
        return false;
    std::unique_lock<std::mutex> lock(completion->mutex);
    return completion->finished.wait_for(lock, limit, [&] { return completion->done; });
}

uint64_t ControlWorker::refused() const
{
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->refused;
}

} // namespace mvcc

#include "savepool.h"

#include "savethread.h"

#include <system_error>
#include <thread>

struct SavePool::Save {
    Job job;
    std::thread thread;
    std::vector<std::pair<int, int>> reports; // progress not yet delivered
    SaveOutcome outcome;
    bool done = false;
};

/*
 * An empty pool running one save at a time. onProgress and onOutcome are
 * called on the owner's thread only, from post(), deliverReady() and
 * waitForAll().
 */
SavePool::SavePool(Progress onProgress, Outcome onOutcome)
    : m_onProgress(std::move(onProgress)), m_onOutcome(std::move(onOutcome))
{ }

/*
 * Waits for every save and delivers what is left; the sinks must still be
 * valid, or the owner calls waitForAll() first.
 */
SavePool::~SavePool()
{
    waitForAll();
}

/*
 * How many saves may run at once, at least 1. A lower value takes effect as
 * the saves beyond it end.
 */
void SavePool::setConcurrency(int saves)
{
    m_concurrency = std::max(1, saves);
}

/*
 * Called from helper threads each time a save reports or ends; it must only
 * arrange for deliverReady() to run on the owner's thread. Set it before the
 * first post().
 */
void SavePool::setWake(std::function<void()> wake)
{
    m_wake = std::move(wake);
}

/*
 * Starts job, whose outcome and progress are delivered after those of every
 * save posted before it. With concurrency 1 the job runs here and is
 * delivered before post() returns; otherwise on a helper thread, once the
 * pool holds fewer than concurrency() saves (until then post() delivers and
 * waits). A helper thread that cannot be started leaves the job to this
 * thread. job must not throw; should it, the save fails.
 */
void SavePool::post(Job job)
{
    if (m_concurrency <= 1) {
        waitForAll();
        auto save = std::make_unique<Save>();
        save->job = std::move(job);
        runOnHelper(save.get());
        m_saves.push_back(std::move(save));
        deliverReady();
        return;
    }

    bool waited = false;
    for (;;) {
        deliverReady();
        std::unique_lock<std::mutex> lock(m_mutex);
        if (int(m_saves.size()) < m_concurrency)
            break;
        if (!waited) {
            ++m_timesFull;
            waited = true;
        }
        Save *front = m_saves.front().get();
        m_changed.wait(lock, [front] { return front->done || !front->reports.empty(); });
    }

    auto save = std::make_unique<Save>();
    save->job = std::move(job);
    Save *started = save.get();
    m_saves.push_back(std::move(save));
    try {
        started->thread = std::thread([this, started] {
            yieldToAcquisition();
            runOnHelper(started);
        });
    } catch (const std::system_error &) {
        runOnHelper(started);
    }
}

/*
 * Runs a save's job, keeping its reports and outcome for the owner's thread.
 * The job, and with it the frames it holds, goes as soon as it ends.
 */
void SavePool::runOnHelper(Save *save)
{
    const Progress report = [this, save](int current, int total) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            save->reports.emplace_back(current, total);
        }
        m_changed.notify_all();
        if (m_wake)
            m_wake();
    };
    SaveOutcome outcome;
    try {
        outcome = save->job(report);
    } catch (...) {
        outcome = SaveOutcome::failure(QStringLiteral("Unknown error when stitching."));
    }
    save->job = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        save->outcome = std::move(outcome);
        save->done = true;
    }
    m_changed.notify_all();
    if (m_wake)
        m_wake();
}

/*
 * Delivers the oldest save's progress so far and, once it has ended, its
 * outcome. Returns true when a save was delivered whole, so the next may
 * follow.
 */
bool SavePool::deliverFront()
{
    std::vector<std::pair<int, int>> reports;
    std::unique_ptr<Save> ended;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_saves.empty())
            return false;
        Save *front = m_saves.front().get();
        reports.swap(front->reports);
        if (front->done) {
            ended = std::move(m_saves.front());
            m_saves.pop_front();
        }
    }
    // The sinks emit signals and may call back into the pool: nothing of
    // the queue is touched after them.
    for (const auto &report : reports)
        m_onProgress(report.first, report.second);
    if (!ended)
        return false;
    if (ended->thread.joinable())
        ended->thread.join();
    m_onOutcome(ended->outcome);
    return true;
}

/*
 * Delivers, in posting order, everything that is ready. Owner's thread.
 */
void SavePool::deliverReady()
{
    while (deliverFront()) { }
}

/*
 * Returns once every save posted so far has been delivered. Owner's thread.
 */
void SavePool::waitForAll()
{
    for (;;) {
        deliverReady();
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_saves.empty())
            return;
        Save *front = m_saves.front().get();
        m_changed.wait(lock, [front] { return front->done || !front->reports.empty(); });
    }
}

/*
 * Saves running or waiting to be delivered. Owner's thread.
 */
int SavePool::held() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_saves.size());
}

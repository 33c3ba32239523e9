#ifndef SAVEPOOL_H
#define SAVEPOOL_H

#include <QString>
#include <QStringList>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

// How one save ended: the files written, or the reason it failed.
struct SaveOutcome {
    bool ok = false;
    QStringList files;
    QString error;

    static SaveOutcome written(const QStringList &files) { return {true, files, QString()}; }
    static SaveOutcome failure(const QString &error) { return {false, QStringList(), error}; }
};

/*
 * Runs saves side by side on helper threads, at most concurrency() at once,
 * and hands their progress and outcomes back in the order the saves were
 * posted: every progress report of a save, then its outcome, before anything
 * of the next one. A slow save holds back the reports of the faster ones
 * posted after it, never the work itself.
 *
 * The pool holds at most concurrency() saves (running, or done and waiting
 * for an earlier one): post() blocks the poster until one of them has been
 * delivered, so it never refuses a save; timesFull() counts those waits.
 * With concurrency 1 post() runs the save on the calling thread and delivers
 * it before it returns.
 *
 * The owner's thread posts, delivers and destroys. Helper threads call the
 * wake function whenever something can be delivered; the owner answers by
 * calling deliverReady() on its own thread (a queued call).
 */
class SavePool
{
public:
    using Progress = std::function<void(int current, int total)>;
    using Job = std::function<SaveOutcome(const Progress &progress)>;
    using Outcome = std::function<void(const SaveOutcome &outcome)>;

    SavePool(Progress onProgress, Outcome onOutcome);
    ~SavePool();

    SavePool(const SavePool &) = delete;
    SavePool &operator=(const SavePool &) = delete;

    void setConcurrency(int saves);
    int concurrency() const { return m_concurrency; }
    void setWake(std::function<void()> wake);

    void post(Job job);
    void deliverReady();
    void waitForAll();

    int held() const;
    qint64 timesFull() const { return m_timesFull; }

private:
    struct Save;
    void runOnHelper(Save *save);
    bool deliverFront();

    Progress m_onProgress;
    Outcome m_onOutcome;
    std::function<void()> m_wake;
    int m_concurrency = 1;
    qint64 m_timesFull = 0;

    mutable std::mutex m_mutex;                // protects every Save's reports, outcome and done flag
    std::condition_variable m_changed;         // a helper reported or finished
    std::deque<std::unique_ptr<Save>> m_saves; // posting order; only the owner's thread adds or removes
};

#endif // SAVEPOOL_H

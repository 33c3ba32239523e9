#include "framepool.h"

#include <climits>
#include <new>
#include <sys/mman.h>

namespace {

// Below this QImage's own allocation is as cheap: the heap keeps such
// blocks for reuse anyway.
constexpr std::size_t kSmallestPooled = 1024 * 1024;
// Enough for a few frames of a 16384-px RGB camera, or many smaller ones.
constexpr qint64 kSharedIdleLimit = 64 * 1024 * 1024;

int bytesPerLineFor(int width, int depth)
{
    return int((qint64(width) * depth + 31) / 32 * 4);
}

void unmap(void *data, std::size_t size)
{
    if (data)
        munmap(data, size);
}

} // namespace

// What an image built on pooled memory hands back when its last copy goes.
struct FramePool::Lease {
    FramePool *pool;
    Block block;
};

/* A pool that keeps at most idleLimit bytes unused. */
FramePool::FramePool(qint64 idleLimit) : m_idleLimit(std::max<qint64>(0, idleLimit)) { }

/*
 * Returns the idle memory to the system. Images still out must not outlive
 * the pool; the shared pool lives as long as the process.
 */
FramePool::~FramePool()
{
    for (const Block &block : m_idle)
        unmap(block.data, block.size);
}

FramePool &FramePool::shared()
{
    // Never destroyed: frames may still be let go of during exit.
    static FramePool *pool = new FramePool(kSharedIdleLimit);
    return *pool;
}

/*
 * A width x height image of format whose pixels come from the pool when it
 * is large enough to be worth it. The pixels are not cleared. A null image
 * when the memory cannot be had. Any thread.
 */
QImage FramePool::image(int width, int height, QImage::Format format)
{
    if (width <= 0 || height <= 0 || format == QImage::Format_Invalid)
        return QImage();
    const int depth = QImage::toPixelFormat(format).bitsPerPixel();
    const qint64 bytesPerLine = bytesPerLineFor(width, depth);
    const qint64 size = bytesPerLine * height;
    if (size < qint64(kSmallestPooled) || size > INT_MAX)
        return QImage(width, height, format);

    Lease *lease = new (std::nothrow) Lease{this, take(std::size_t(size))};
    if (!lease)
        return QImage();
    if (!lease->block.data) {
        delete lease;
        return QImage();
    }
    QImage image(static_cast<uchar *>(lease->block.data), width, height, int(bytesPerLine), format,
                 &FramePool::giveBack, lease);
    if (image.isNull())
        giveBack(lease);
    return image;
}

qint64 FramePool::idleBytes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_idleBytes;
}

qint64 FramePool::reused() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_reused;
}

void FramePool::giveBack(void *opaque)
{
    Lease *lease = static_cast<Lease *>(opaque);
    lease->pool->keep(lease->block);
    delete lease;
}

/*
 * An idle block of exactly size bytes, or a fresh mapping; data null on
 * failure. The grab thread takes blocks here while saving threads, which run
 * at the lowest priority, give theirs back: should one of them hold the lock
 * and be preempted, waiting for it could hold the grab thread up for as long
 * as the scheduler keeps that thread off the cores, so a busy pool is passed
 * by and the block mapped afresh.
 */
FramePool::Block FramePool::take(std::size_t size)
{
    {
        std::unique_lock<std::mutex> lock(m_mutex, std::try_to_lock);
        if (lock.owns_lock()) {
            for (auto it = m_idle.begin(); it != m_idle.end(); ++it) {
                if (it->size == size) {
                    const Block block = *it;
                    m_idle.erase(it);
                    m_idleBytes -= qint64(size);
                    ++m_reused;
                    return block;
                }
            }
        }
    }
    void *data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return data == MAP_FAILED ? Block() : Block{data, size};
}

/*
 * Keeps block for the next image of its size. When that would pass the
 * limit, the oldest idle blocks (most likely of a size no longer grabbed)
 * go back to the system first, and a block larger than the limit goes back
 * itself, as does one given back while another thread uses the pool.
 */
void FramePool::keep(Block block)
{
    std::vector<Block> surplus;
    {
        // Not kept when the pool is busy, for the reason take() gives: the
        // grab thread lets go of frames too.
        std::unique_lock<std::mutex> lock(m_mutex, std::try_to_lock);
        if (!lock.owns_lock() || qint64(block.size) > m_idleLimit) {
            surplus.push_back(block);
        } else {
            while (m_idleBytes + qint64(block.size) > m_idleLimit && !m_idle.empty()) {
                surplus.push_back(m_idle.front());
                m_idleBytes -= qint64(m_idle.front().size);
                m_idle.erase(m_idle.begin());
            }
            m_idle.push_back(block);
            m_idleBytes += qint64(block.size);
        }
    }
    // Unmapped outside the lock: it takes as long as the mapping is large.
    for (const Block &b : surplus)
        unmap(b.data, b.size);
}

#ifndef FRAMEPOOL_H
#define FRAMEPOOL_H

#include <QImage>
#include <QtGlobal>

#include <cstddef>
#include <mutex>
#include <vector>

/*
 * Pixel memory for frame images, kept for the next frame of the same size
 * once an image lets go of it. A frame of a few megabytes is mapped fresh
 * from the system each time otherwise, and touching its pages costs the
 * grab thread thousands of page faults per frame (a quarter of its time at
 * USB3 line rates); the live view's RGB copy of every frame lives only until
 * it is painted, so its memory comes back within frames. At most idleLimit
 * bytes are kept unused; beyond that memory goes straight back to the
 * system, so the pool never hides more than that from the frame budget.
 * Small images are left to QImage. Thread-safe: images are made on the grab
 * thread and released wherever their last copy goes.
 */
class FramePool
{
public:
    explicit FramePool(qint64 idleLimit);
    ~FramePool();

    FramePool(const FramePool &) = delete;
    FramePool &operator=(const FramePool &) = delete;

    // The pool the grab thread's images come from.
    static FramePool &shared();

    QImage image(int width, int height, QImage::Format format);

    qint64 idleBytes() const;
    qint64 reused() const;

private:
    struct Block {
        void *data = nullptr;
        std::size_t size = 0;
    };
    struct Lease;
    static void giveBack(void *lease);
    Block take(std::size_t size);
    void keep(Block block);

    const qint64 m_idleLimit;
    mutable std::mutex m_mutex;
    std::vector<Block> m_idle;
    qint64 m_idleBytes = 0;
    qint64 m_reused = 0;
};

#endif // FRAMEPOOL_H

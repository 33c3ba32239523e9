#include "descriptordevice.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Large enough that an encoder writing a line at a time costs few system
// calls, small beside a stitched canvas.
constexpr std::size_t kBufferBytes = 1 << 20;

// Written bytes are handed to the disk in runs of this size while the file
// is still being encoded, so that the final sync waits for the last run only
// instead of the whole file.
constexpr qint64 kWritebackBytes = qint64(8) << 20;

} // namespace

/*
 * The bytes a device holds in its write buffer at most. Pure.
 */
qsizetype descriptorBufferBytes()
{
    return qsizetype(kBufferBytes);
}

/*
 * The system's text for errno value error, e.g. "No space left on device".
 * Any thread.
 */
QString systemErrorText(int error)
{
    return qt_error_string(error);
}

/*
 * A closed device; openDescriptor() gives it a file.
 */
DescriptorDevice::DescriptorDevice(QObject *parent) : QIODevice(parent) { }

/*
 * Closes the descriptor without syncing; bytes still buffered are dropped.
 */
DescriptorDevice::~DescriptorDevice()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

/*
 * Takes ownership of fd, open for writing, and opens the device write-only at
 * position 0. Returns false when the device is already open or fd is
 * negative. The thread that writes owns the device.
 */
bool DescriptorDevice::openDescriptor(int fd)
{
    if (isOpen() || fd < 0)
        return false;
    m_fd = fd;
    m_error = 0;
    m_buffer.clear();
    m_bufferStart = 0;
    m_end = 0;
    m_writebackFrom = 0;
    return QIODevice::open(WriteOnly | Unbuffered);
}

/*
 * Keeps the first error: the encoder may go on writing after a failure, and
 * the reason the user needs is the one that cut the file.
 */
bool DescriptorDevice::recordError(int error)
{
    if (m_error == 0) {
        m_error = error;
        setErrorString(systemErrorText(error));
    }
    return false;
}

/*
 * Writes size bytes at offset, resuming after short writes, as a full disk
 * or a file-size limit answer with a short count before they fail outright.
 */
bool DescriptorDevice::writeAt(const char *data, qint64 size, qint64 offset)
{
    while (size > 0) {
        ssize_t written = ::pwrite(m_fd, data, std::size_t(size), off_t(offset));
        if (written < 0 && errno == ESPIPE)
            written = ::write(m_fd, data, std::size_t(size));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return recordError(errno);
        }
        if (written == 0)
            return recordError(EIO);
        data += written;
        size -= written;
        offset += written;
        startWriteback(offset);
    }
    return true;
}

/*
 * Starts writing to the disk what lies before end once a run of
 * kWritebackBytes has gathered since the last start; it neither waits nor
 * reports: a failure of that write shows in the final sync.
 */
void DescriptorDevice::startWriteback(qint64 end)
{
    if (end < m_writebackFrom + kWritebackBytes)
        return;
    ::sync_file_range(m_fd, off64_t(m_writebackFrom), off64_t(end - m_writebackFrom), SYNC_FILE_RANGE_WRITE);
    m_writebackFrom = end;
}

bool DescriptorDevice::flushBuffer()
{
    if (m_buffer.empty())
        return m_error == 0;
    const bool ok = writeAt(m_buffer.data(), qint64(m_buffer.size()), m_bufferStart);
    m_bufferStart += qint64(m_buffer.size());
    m_buffer.clear();
    return ok;
}

/*
 * Buffers size bytes for the current position. Seeking elsewhere (TIFF goes
 * back to its header) flushes first. Returns size, or -1 once any write has
 * failed.
 */
qint64 DescriptorDevice::writeData(const char *data, qint64 size)
{
    if (m_fd < 0 || m_error != 0)
        return -1;
    const qint64 offset = pos();
    if (!m_buffer.empty() && offset != m_bufferStart + qint64(m_buffer.size()) && !flushBuffer())
        return -1;
    if (m_buffer.empty())
        m_bufferStart = offset;
    if (qint64(m_buffer.size()) + size > qint64(kBufferBytes)) {
        if (!flushBuffer())
            return -1;
        m_bufferStart = offset;
        if (size >= qint64(kBufferBytes)) {
            if (!writeAt(data, size, offset))
                return -1;
            m_bufferStart = offset + size;
            m_end = std::max(m_end, offset + size);
            return size;
        }
    }
    if (m_buffer.capacity() == 0)
        m_buffer.reserve(kBufferBytes);
    m_buffer.insert(m_buffer.end(), data, data + size);
    m_end = std::max(m_end, offset + size);
    return size;
}

qint64 DescriptorDevice::readData(char *, qint64)
{
    return -1;
}

/*
 * The length the file has once everything written so far reaches it.
 */
qint64 DescriptorDevice::size() const
{
    return m_end;
}

/*
 * Writes what is buffered, syncs the file to the disk when sync is true and
 * closes it, checking each step. Returns true when all bytes ever written
 * are in the file; otherwise false with systemError() and errorString()
 * telling the first failure. The device is closed either way.
 */
bool DescriptorDevice::finish(bool sync)
{
    if (m_fd < 0)
        return recordError(EBADF);
    flushBuffer();
    if (m_error == 0 && sync && ::fsync(m_fd) != 0)
        recordError(errno);
    // Linux releases the descriptor even when close() fails, so it is not
    // retried; its error (a delayed write on a network file system) counts.
    if (::close(m_fd) != 0 && errno != EINTR)
        recordError(errno);
    m_fd = -1;
    QIODevice::close();
    return m_error == 0;
}

/*
 * Closes without writing what is buffered; for giving up on a file.
 */
void DescriptorDevice::close()
{
    m_buffer.clear();
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    QIODevice::close();
}

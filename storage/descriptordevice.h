#ifndef DESCRIPTORDEVICE_H
#define DESCRIPTORDEVICE_H

#include <QIODevice>

#include <vector>

/*
 * A write-only device over a POSIX file descriptor that keeps the system's
 * reason for the first failed write. Encoders that ignore a failed write (or
 * a failed final flush) cannot hide it: once a write has failed every later
 * write fails too, and finish() reports the first error.
 */
class DescriptorDevice : public QIODevice
{
    Q_OBJECT

public:
    explicit DescriptorDevice(QObject *parent = nullptr);
    ~DescriptorDevice() override;

    bool openDescriptor(int fd);
    bool finish(bool sync);
    void close() override;

    int systemError() const { return m_error; }
    bool isSequential() const override { return false; }
    qint64 size() const override;

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;
    bool recordError(int error);

private:
    bool flushBuffer();
    bool writeAt(const char *data, qint64 size, qint64 offset);
    void startWriteback(qint64 end);

    int m_fd = -1;
    int m_error = 0;
    std::vector<char> m_buffer;
    qint64 m_bufferStart = 0;
    qint64 m_end = 0;
    qint64 m_writebackFrom = 0; // the disk has been asked for everything before this
};

QString systemErrorText(int error);
qsizetype descriptorBufferBytes();

#endif // DESCRIPTORDEVICE_H

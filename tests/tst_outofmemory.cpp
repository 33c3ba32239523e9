// Memory that runs out on the frame path is a dropped frame or a failed batch
// with its message, never a crash. Each case runs in a child process whose
// address space is capped just above what it already uses.
#include <QtTest>

#include "frameturn.h"
#include "stitchworker.h"

#include <QFile>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace {

qint64 addressSpaceBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmSize:"))
            return line.mid(7).trimmed().split(' ').first().toLongLong() * 1024;
    return -1;
}

// Runs body in a child with the address space capped at what it uses now
// plus headroom; returns what the child wrote to its pipe, or "crashed".
QByteArray runCapped(qint64 headroom, const std::function<QByteArray()> &body)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return "no pipe";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        const rlimit cap{rlim_t(addressSpaceBytes() + headroom), RLIM_INFINITY};
        ::setrlimit(RLIMIT_AS, &cap);
        const QByteArray answer = body();
        const ssize_t written = ::write(fds[1], answer.constData(), size_t(answer.size()));
        ::_exit(written == answer.size() ? 0 : 1);
    }
    ::close(fds[1]);
    QByteArray answer;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0)
        answer.append(buffer, int(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "crashed";
    return answer;
}

} // namespace

class TestOutOfMemory : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
#if defined(__SANITIZE_ADDRESS__)
        // AddressSanitizer's allocator aborts instead of failing an allocation.
        QSKIP("the address-space cap needs the plain allocator");
#endif
    }

    void turningAFrameWithoutMemoryGivesNoFrame_data()
    {
        QTest::addColumn<int>("direction");
        QTest::newRow("Left") << 0;
        QTest::newRow("Right") << 1;
        QTest::newRow("Top") << 3;
    }
    void turningAFrameWithoutMemoryGivesNoFrame()
    {
        QFETCH(int, direction);
        // 96 MiB: more than any chunk the heap may hold free already.
        QImage frame(8192, 4096, QImage::Format_RGB888);
        frame.fill(Qt::gray);
        QCOMPARE(
            runCapped(4 * 1024 * 1024,
                      [&] { return turnFrameForDirection(frame, direction).isNull() ? "null" : "turned"; }),
            QByteArray("null"));
        // With memory, the same turn works.
        QVERIFY(!turnFrameForDirection(frame, direction).isNull());
    }

    void batchWithoutMemoryForItsStripsFailsWithItsNumber_data()
    {
        QTest::addColumn<int>("batch");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("text");
        // PPM has no streamed encoder: its save composes the whole 90 MiB
        // canvas, which does not fit.
        QTest::newRow("numbered batch") << 7 << "PPM"
                                        << "Not enough memory to stitch batch 7";
        QTest::newRow("Save Image") << 0 << "PPM"
                                    << "Not enough memory to stitch the image";
        // BMP streams its rows in strips of about 8 MiB and fits.
        QTest::newRow("streamed, no canvas") << 7 << "BMP"
                                             << "saved";
    }
    void batchWithoutMemoryForItsStripsFailsWithItsNumber()
    {
        QFETCH(int, batch);
        QFETCH(QString, format);
        QFETCH(QString, text);
        QTemporaryDir out;
        // Thirty small frames joined make a picture of 90 MiB.
        QList<QImage> frames;
        for (int i = 0; i < 30; ++i) {
            QImage frame(1024, 1024, QImage::Format_RGB888);
            frame.fill(Qt::darkGray);
            frames.append(frame);
        }
        StitchWorker worker;
        const QByteArray answer = runCapped(16 * 1024 * 1024, [&] {
            QByteArray result = "no result";
            QObject::connect(&worker, &StitchWorker::failed, [&](const QString &e) { result = e.toUtf8(); });
            QObject::connect(&worker, &StitchWorker::finished,
                             [&](const QStringList &) { result = "saved"; });
            worker.saveStitchImages(frames, 0, out.path(), "M", "S", batch, format, 95, 8);
            return result;
        });
        QCOMPARE(QString::fromUtf8(answer), text);
        QCOMPARE(QDir(out.path()).entryList(QDir::Files | QDir::Hidden).size(), text == "saved" ? 1 : 0);
    }
};

QTEST_MAIN(TestOutOfMemory)
#include "tst_outofmemory.moc"

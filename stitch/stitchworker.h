#ifndef STITCHWORKER_H
#define STITCHWORKER_H

#include <QImage>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

#include "batchsavejob.h"

class SavePool;
struct SaveOutcome;

/*
 * Stitches batches in its own thread. Work arrives only as queued calls of its
 * slots; every call ends with exactly one finished() or one failed(), in the
 * order of the calls. With more than one concurrent save the saves run on
 * helper threads while this thread takes the next call; their signals still
 * come from this thread, in order (SavePool).
 */
class StitchWorker : public QObject
{
    Q_OBJECT

public:
    using FrameFileReader = std::function<QImage(const QString &path)>;

    explicit StitchWorker(QObject *parent = nullptr);
    ~StitchWorker() override;

    // Replaces how saveStitch() reads a frame file (both when surveying and
    // when drawing); an empty reader restores the default.
    void setFrameFileReader(FrameFileReader reader);

    // How many saves may run at once; 1 (the default) saves within the call.
    void setConcurrentSaves(int saves);
    int concurrentSaves() const;
    // Returns once every save posted so far has reported. Worker's thread.
    void waitForSaves();

    // Whether saveStitch() keeps 16-bit gray frame files 16-bit. Any thread.
    void setKeepCameraPixels(bool keep);
    bool keepCameraPixels() const;

    int maxDimension;

signals:
    void progress(int current, int total);
    void finished(QStringList savedFiles);
    void failed(QString error);

public slots:
    // rotateClockwise turns nothing: for saveStitch() any value but 0 lays the
    // files out in reverse within each segment; for saveStitchImages() it is
    // the stitch direction (0 Left, 1 Right, 2 Bottom, 3 Top).
    void saveStitch(QStringList imagePaths, int rotateClockwise, QString saveDirPath, QString cameraModelName,
                    QString cameraSerialNumber, QString format, int jpgQuality, int pngQuality);
    void saveStitchImages(QList<QImage> images, int rotateClockwise, QString saveDirPath,
                          QString cameraModelName, QString cameraSerialNumber, int batchIndex, QString format,
                          int jpgQuality, int pngQuality);
    void saveGrabbedImages(BatchSaveJob job);

private:
    void postSave(std::function<SaveOutcome(const std::function<void(int, int)> &)> save,
                  const QString &outOfMemoryText);

    FrameFileReader m_readFrameFile;
    std::atomic<bool> m_keepCameraPixels{false};
    std::unique_ptr<SavePool> m_saves;
};

QImage readFrameFile(const QString &path);
int defaultConcurrentSaves();

#endif // STITCHWORKER_H

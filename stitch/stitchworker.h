#ifndef STITCHWORKER_H
#define STITCHWORKER_H

#include <QImage>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

/*
 * Stitches batches in its own thread. Work arrives only as queued calls of its
 * slots; every call ends with exactly one finished() or one failed().
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

    int maxDimension;

signals:
    void progress(int current, int total);
    void finished(QStringList savedFiles);
    void failed(QString error);

public slots:
    void saveStitch(QStringList imagePaths, int rotateClockwise, QString saveDirPath, QString cameraModelName,
                    QString cameraSerialNumber, QString format, int jpgQuality, int pngQuality);
    void saveStitchImages(QList<QImage> images, int rotateClockwise, QString saveDirPath,
                          QString cameraModelName, QString cameraSerialNumber, int batchIndex, QString format,
                          int jpgQuality, int pngQuality);
    void saveGrabbedImages(QList<QImage> images, int turnAngle, int rotateClockwise, QString saveDirPath,
                           QString cameraModelName, QString cameraSerialNumber, int batchIndex,
                           QString format, int jpgQuality, int pngQuality);

private:
    FrameFileReader m_readFrameFile;
};

QImage readFrameFile(const QString &path);

#endif // STITCHWORKER_H

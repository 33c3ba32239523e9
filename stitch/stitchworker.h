#ifndef STITCHWORKER_H
#define STITCHWORKER_H

#include <QImage>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

/*
 * Stitches batches in its own thread. Work arrives only as queued calls of its
 * slots; every call ends with exactly one finished() or one failed().
 */
class StitchWorker : public QObject
{
    Q_OBJECT

public:
    explicit StitchWorker(QObject *parent = nullptr);
    ~StitchWorker() override;

    int maxDimension;

signals:
    void progress(int current, int total);
    void finished(QStringList savedFiles);
    void failed(QString error);

public slots:
    void saveStitch(QStringList imagePaths, int rotateClockwise, QString saveDirPath,
                    QString cameraModelName, QString cameraSerialNumber, QString format,
                    int jpgQuality, int pngQuality);
    void saveStitchImages(QList<QImage> images, int rotateClockwise, QString saveDirPath,
                          QString cameraModelName, QString cameraSerialNumber, int batchIndex,
                          QString format, int jpgQuality, int pngQuality);
};

#endif // STITCHWORKER_H

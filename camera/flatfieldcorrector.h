#ifndef FLATFIELDCORRECTOR_H
#define FLATFIELDCORRECTOR_H

#include <QImage>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

#include "flatfield.h"
#include "frameimage.h"

/*
 * The flat-field calibration of the open camera and its hand-over to the grab
 * thread. The GUI thread owns the references (captures them, loads and saves
 * the camera's file, switches the correction on and off); the grab thread
 * feeds a running capture and applies the published correction to every
 * frame. They share only two atomically swapped pointers: the capture in
 * progress and the correction in force, so neither ever waits for the other.
 */
class FlatFieldCorrector : public QObject
{
    Q_OBJECT

public:
    enum Kind { Dark, White };

    explicit FlatFieldCorrector(QObject *parent = nullptr);
    ~FlatFieldCorrector() override;

    // GUI thread.
    QString openCamera(void *handle, const QString &model, const QString &serial, const QString &folder);
    void closeCamera();
    bool cameraKnown() const { return !m_filePath.isEmpty(); }
    QString filePath() const { return m_filePath; }
    bool startCapture(Kind kind, int lines);
    bool capturing() const;
    void setEnabled(bool on);
    void setTarget(double target);
    void reset();
    const FlatFieldReference &reference() const { return m_reference; }
    int deadColumnCount() const { return int(m_deadColumns.size()); }
    bool correctionOn() const { return m_published != nullptr; }

    // Grab thread. The frame the views and stitching get: raw itself, or its
    // corrected copy in scratch. Feeds a capture of a raw-frame format.
    unsigned char *correctRawFrame(unsigned char *raw, const MV_FRAME_OUT_INFO_EX &info, ByteBuffer &scratch);
    // Grab thread. Corrects, in place, the RGB image the library made of a
    // frame of a format corrected after conversion; feeds such a capture.
    void correctConvertedImage(QImage &image, const MV_FRAME_OUT_INFO_EX &info);
    // Any thread: whether the latest frame came out corrected.
    bool lastFrameCorrected() const { return m_lastFrameCorrected.load(); }

signals:
    // A capture ended and its reference is in place (GUI thread).
    void captureFinished(int kind);
    // References, switch or target changed (GUI thread).
    void referenceChanged();
    // Something the operator should read in the status bar.
    void report(const QString &text);

private:
    struct Capture {
        Kind kind = Dark;
        int lines = 0;
        std::unique_ptr<FlatFieldAverager> averager; // made by the grab thread from the first frame
        quint32 pixelType = 0;
    };

    void feedCapture(const unsigned char *firstLine, int lines, qsizetype stride, quint32 pixelType,
                     const FlatFieldLayout &layout);
    void finishCapture(const std::shared_ptr<Capture> &capture);
    void publish();
    bool save();

    // GUI thread only.
    FlatFieldReference m_reference;
    std::vector<int> m_deadColumns;
    QString m_filePath;
    quint32 m_cameraPixelType = 0;
    int m_cameraWidth = 0;
    const Capture *m_pendingCapture = nullptr; // the capture this thread waits for
    // The capture being filled by the grab thread; null when none. Swapped atomically.
    std::shared_ptr<Capture> m_capture;
    // The correction the grab thread applies; null when off. Swapped atomically.
    std::shared_ptr<const FlatFieldCorrection> m_published;
    std::atomic<bool> m_lastFrameCorrected{false};
};

// The status line's mark while frames are corrected.
QString flatFieldStatusSuffix(bool corrected);
// The status bar text naming the dead columns of a correction; empty when there are none.
QString deadColumnsText(const std::vector<int> &columns);

#endif // FLATFIELDCORRECTOR_H

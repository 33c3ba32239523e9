#include "flatfieldcorrector.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstring>

#include "durablefile.h"

/* No camera, no reference, no capture. GUI thread. */
FlatFieldCorrector::FlatFieldCorrector(QObject *parent) : QObject(parent) { }

FlatFieldCorrector::~FlatFieldCorrector() = default;

/*
 * Takes up the camera on handle (open): its references are the file named
 * after model and serial in folder. A file that cannot be read, is damaged,
 * or was taken with another width or pixel format than the camera's now is
 * ignored and never applied. Returns what the operator should be told (also
 * sent by report()); empty when there was no file. GUI thread.
 */
QString FlatFieldCorrector::openCamera(void *handle, const QString &model, const QString &serial,
                                       const QString &folder)
{
    closeCamera();
    m_filePath = QDir(folder).filePath(flatFieldFileName(model, serial));
    MVCC_INTVALUE_EX width;
    std::memset(&width, 0, sizeof width);
    MVCC_ENUMVALUE format;
    std::memset(&format, 0, sizeof format);
    MV_CC_GetIntValueEx(handle, "Width", &width);
    MV_CC_GetEnumValue(handle, "PixelFormat", &format);
    m_cameraWidth = int(width.nCurValue);
    m_cameraPixelType = format.nCurValue;

    QFile file(m_filePath);
    if (!file.exists())
        return QString();
    const QString name = QFileInfo(m_filePath).fileName();
    QString problem;
    FlatFieldReference loaded;
    if (!file.open(QIODevice::ReadOnly))
        problem = file.errorString();
    else if (readFlatFieldFile(file.readAll(), &loaded, &problem))
        problem = flatFieldMismatch(loaded, m_cameraPixelType, m_cameraWidth);
    QString text;
    if (!problem.isEmpty()) {
        text = QStringLiteral("Flat-field reference %1 ignored: %2").arg(name, problem);
    } else {
        m_reference = std::move(loaded);
        publish();
        text = QStringLiteral("Flat-field reference %1 loaded%2")
                   .arg(name, m_reference.enabled ? QStringLiteral(", FFC on") : QString());
        if (!m_deadColumns.empty())
            text += QStringLiteral("; ") + deadColumnsText(m_deadColumns);
    }
    emit report(text);
    emit referenceChanged();
    return text;
}

/* Forgets the camera: no capture, no correction. GUI thread. */
void FlatFieldCorrector::closeCamera()
{
    std::atomic_store(&m_capture, std::shared_ptr<Capture>());
    m_pendingCapture = nullptr;
    m_reference = FlatFieldReference();
    m_filePath.clear();
    m_cameraWidth = 0;
    m_cameraPixelType = 0;
    publish();
}

/*
 * Averages the next `lines` lines (at least 64) of the running camera into
 * its dark or white reference; a capture already running is given up. When
 * it ends the reference replaces the old one, is saved and captureFinished()
 * is sent. False without an open camera. GUI thread.
 */
bool FlatFieldCorrector::startCapture(Kind kind, int lines)
{
    if (!cameraKnown())
        return false;
    auto capture = std::make_shared<Capture>();
    capture->kind = kind;
    capture->lines = std::max(lines, 64);
    std::atomic_store(&m_capture, capture);
    m_pendingCapture = capture.get();
    return true;
}

/* Whether a capture has not ended yet. GUI thread. */
bool FlatFieldCorrector::capturing() const
{
    return m_pendingCapture != nullptr;
}

/* Switches the correction on (needs a white reference) or off, and stores the choice. GUI thread. */
void FlatFieldCorrector::setEnabled(bool on)
{
    if (on == m_reference.enabled || (on && !m_reference.hasWhite()))
        return;
    m_reference.enabled = on;
    publish();
    save();
    emit referenceChanged();
}

/* The level white comes out at; 0 for the white reference's mean. GUI thread. */
void FlatFieldCorrector::setTarget(double target)
{
    if (target == m_reference.target)
        return;
    m_reference.target = target;
    publish();
    save();
    emit referenceChanged();
}

/* Drops both references and the camera's file; the correction goes off. GUI thread. */
void FlatFieldCorrector::reset()
{
    std::atomic_store(&m_capture, std::shared_ptr<Capture>());
    m_pendingCapture = nullptr;
    m_reference = FlatFieldReference();
    publish();
    if (!m_filePath.isEmpty() && QFile::exists(m_filePath) && !QFile::remove(m_filePath))
        emit report(QStringLiteral("Flat-field reference %1 could not be removed").arg(m_filePath));
    emit referenceChanged();
}

/*
 * Feeds `lines` lines of layout (stride bytes apart) to the capture in
 * progress. The first frame fixes what is averaged; a frame of another kind
 * starts it again. Once complete, the capture is taken back from the shared
 * slot and handed to the GUI thread; a capture replaced meanwhile is dropped.
 * Grab thread.
 */
void FlatFieldCorrector::feedCapture(const unsigned char *firstLine, int lines, qsizetype stride,
                                     quint32 pixelType, const FlatFieldLayout &layout)
{
    std::shared_ptr<Capture> capture = std::atomic_load(&m_capture);
    if (!capture)
        return;
    if (!capture->averager || capture->pixelType != pixelType || capture->averager->layout() != layout) {
        capture->averager = std::make_unique<FlatFieldAverager>(layout, capture->lines);
        capture->pixelType = pixelType;
    }
    capture->averager->add(firstLine, lines, stride);
    if (!capture->averager->complete())
        return;
    std::shared_ptr<Capture> expected = capture;
    if (std::atomic_compare_exchange_strong(&m_capture, &expected, std::shared_ptr<Capture>()))
        QMetaObject::invokeMethod(
            this, [this, capture] { finishCapture(capture); }, Qt::QueuedConnection);
}

/* Puts a finished capture in place, saves and announces it. GUI thread. */
void FlatFieldCorrector::finishCapture(const std::shared_ptr<Capture> &capture)
{
    // A capture given up (reset, closed camera, a newer one) after it was
    // complete may still arrive here.
    if (capture.get() != m_pendingCapture)
        return;
    m_pendingCapture = nullptr;
    const FlatFieldLayout layout = capture->averager->layout();
    if (m_reference.pixelType != capture->pixelType || m_reference.layout != layout) {
        // References of another format or width than this one are of no use with it.
        const double target = m_reference.target;
        m_reference = FlatFieldReference();
        m_reference.target = target;
        m_reference.pixelType = capture->pixelType;
        m_reference.layout = layout;
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (capture->kind == Dark) {
        m_reference.dark = capture->averager->mean();
        m_reference.darkCaptured = now;
    } else {
        m_reference.white = capture->averager->mean();
        m_reference.whiteCaptured = now;
    }
    publish();
    if (m_reference.hasWhite() && !m_deadColumns.empty())
        emit report(deadColumnsText(m_deadColumns));
    save();
    emit captureFinished(capture->kind);
    emit referenceChanged();
}

/* Hands the grab thread the correction the references call for now, or none. GUI thread. */
void FlatFieldCorrector::publish()
{
    std::shared_ptr<const FlatFieldCorrection> correction;
    if (m_reference.hasWhite()) {
        auto made = std::make_shared<FlatFieldCorrection>(flatFieldCorrection(m_reference));
        m_deadColumns = made->deadColumns;
        if (m_reference.enabled)
            correction = std::move(made);
    } else {
        m_deadColumns.clear();
    }
    std::atomic_store(&m_published, correction);
}

/* Writes the references whole or not at all; a failure is reported. GUI thread. */
bool FlatFieldCorrector::save()
{
    if (m_filePath.isEmpty())
        return false;
    DurableFile file(m_filePath);
    const QByteArray bytes = flatFieldFileBytes(m_reference);
    if (file.open() && file.write(bytes) == bytes.size() && file.commitReplacing())
        return true;
    emit report(QStringLiteral("Flat-field reference not saved: %1").arg(file.errorString()));
    return false;
}

/*
 * For frames corrected in their raw form: feeds a capture, then, with the
 * correction on and made for this format and width, writes the corrected
 * frame into scratch and returns it; otherwise returns raw. Grab thread.
 */
unsigned char *FlatFieldCorrector::correctRawFrame(unsigned char *raw, const MV_FRAME_OUT_INFO_EX &info,
                                                   ByteBuffer &scratch)
{
    if (flatFieldStageOf(info.enPixelType) != FlatFieldStage::RawFrame) {
        if (flatFieldStageOf(info.enPixelType) == FlatFieldStage::None)
            m_lastFrameCorrected.store(false);
        return raw;
    }
    const FlatFieldLayout layout = flatFieldLayoutOf(info.enPixelType, int(info.nWidth));
    const int lines = int(info.nHeight);
    const quint64 bytes = quint64(layout.lineBytes()) * quint64(lines);
    bool corrected = false;
    if (raw && layout.isValid() && bytes <= info.nFrameLen) {
        feedCapture(raw, lines, layout.lineBytes(), info.enPixelType, layout);
        const std::shared_ptr<const FlatFieldCorrection> correction = std::atomic_load(&m_published);
        if (correction && correction->pixelType == info.enPixelType && correction->layout == layout
            && scratch.reserve(bytes)) {
            correctFlatFieldLines(*correction, raw, scratch.data(), lines, layout.lineBytes());
            corrected = true;
        }
    }
    m_lastFrameCorrected.store(corrected);
    return corrected ? scratch.data() : raw;
}

/*
 * For frames corrected after the library made RGB of them (Bayer and the
 * other converted formats): feeds a capture with the image, then corrects it
 * in place when the correction is on and made for this format and width.
 * Other frames are left alone. Grab thread.
 */
void FlatFieldCorrector::correctConvertedImage(QImage &image, const MV_FRAME_OUT_INFO_EX &info)
{
    if (flatFieldStageOf(info.enPixelType) != FlatFieldStage::ConvertedImage)
        return;
    const FlatFieldLayout layout = flatFieldLayoutOf(info.enPixelType, image.width());
    bool corrected = false;
    if (image.format() == QImage::Format_RGB888 && layout.isValid()) {
        feedCapture(image.constBits(), image.height(), image.bytesPerLine(), info.enPixelType, layout);
        const std::shared_ptr<const FlatFieldCorrection> correction = std::atomic_load(&m_published);
        if (correction && correction->pixelType == info.enPixelType && correction->layout == layout) {
            unsigned char *bits = image.bits();
            correctFlatFieldLines(*correction, bits, bits, image.height(), image.bytesPerLine());
            corrected = true;
        }
    }
    m_lastFrameCorrected.store(corrected);
}

/* Any thread. */
QString flatFieldStatusSuffix(bool corrected)
{
    return corrected ? QStringLiteral(" | FFC on") : QString();
}

/* Names at most the first eight columns. Any thread. */
QString deadColumnsText(const std::vector<int> &columns)
{
    if (columns.empty())
        return QString();
    QStringList names;
    for (std::size_t i = 0; i < columns.size() && i < 8; ++i)
        names << QString::number(columns[i]);
    if (columns.size() > 8)
        names << QStringLiteral("...");
    return QStringLiteral("Flat field: %1 dead pixel column%2: %3 (left uncorrected)")
        .arg(columns.size())
        .arg(columns.size() == 1 ? QString() : QStringLiteral("s"), names.join(QStringLiteral(", ")));
}

// The camera library driving a real GigE Vision peer: Aravis's fake camera on
// loopback, reached through the GenICam backend.
#include <QtTest>

#include <QProcess>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "MvCameraControl.h"
#include "tst_genicam_fakecamera.h"

using namespace genicamtest;

namespace {

// The fake camera's picture: 512 x 512 lines, a diagonal ramp whose values
// depend only on x + y.
constexpr unsigned int fakeWidth = 512;
constexpr unsigned int fakeHeight = 512;

// Pixel format values of the camera's PixelFormat enumeration.
constexpr unsigned int mono16 = 0x01100007u;
constexpr unsigned int bayerGR8 = 0x01080008u;

// The fake camera's TriggerMode entry "On": frames only come on a trigger.
constexpr unsigned int triggerOn = 1;

const char *const helperOption = "--open-in-this-process";

QString statusText(int status)
{
    return QStringLiteral("0x%1").arg(uint(status), 8, 16, QLatin1Char('0'));
}

// Run as a second process: opens the camera with the serial given and prints
// the status of the open, so that a test sees what another program gets.
int openInThisProcess(const char *serial)
{
    MV_CC_DEVICE_INFO record;
    if (!findCamera(QString::fromLatin1(serial), record, 10000)) {
        std::printf("not-found\n");
        return 1;
    }
    void *handle = nullptr;
    if (MV_CC_CreateHandle(&handle, &record) != MV_OK) {
        std::printf("no-handle\n");
        return 1;
    }
    const int status = MV_CC_OpenDevice(handle, MV_ACCESS_Exclusive, 0);
    std::printf("%s\n", qPrintable(statusText(status)));
    MV_CC_DestroyHandle(handle);
    return 0;
}

// Whether every pixel continues the diagonal ramp: a line is the line above
// moved left by one pixel. Proves that lines were copied whole and in order.
bool isDiagonalRamp(const std::vector<unsigned char> &frame, unsigned int width, unsigned int height)
{
    for (unsigned int y = 0; y + 1 < height; ++y)
        for (unsigned int x = 0; x + 1 < width; ++x)
            if (frame[y * width + x + 1] != frame[(y + 1) * width + x])
                return false;
    return true;
}

bool followsInStream(unsigned int previous, unsigned int next)
{
    // GigE Vision block ids have 16 bits and skip 0 when they wrap.
    return next == previous + 1 || (previous == 65535 && next == 1);
}

} // namespace

class GenicamCameraTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void searchListsTheFakeCameraAsGigEOnLoopback();
    void searchForUsbOnlyLeavesTheGigECameraOut();
    void secondHandleInThisProcessIsRefused();
    void anotherProcessIsRefusedWhileWeHoldTheCamera();
    void optimalPacketSizeIsNegotiatedAndWrittenToTheCamera();
    void framesArriveWithTheirSizeFormatAndTimestamps();
    void fetchWithoutFramesEndsWithNoDataAfterItsTimeout();
    void frameAlreadyReceivedIsFetchedWithAZeroTimeout();
    void stopWakesAWaitingFetchPromptly();
    void frameTooLargeForTheBufferIsOfferedAgain();
    void exposureAndGainReachTheCameraThroughOlderNames_data();
    void exposureAndGainReachTheCameraThroughOlderNames();
    void valuesOutsideTheNodeRangeAreRefused_data();
    void valuesOutsideTheNodeRangeAreRefused();
    void integerAndFloatNodesReadAsEitherType();
    void missingFeaturesAreNotFound_data();
    void missingFeaturesAreNotFound();
    void featuresOfAnotherTypeAreRefused_data();
    void featuresOfAnotherTypeAreRefused();
    void readOnlyFeaturesRefuseWrites();
    void standardEnumerationEntriesUseTheLibrarysNumbers();
    void pixelFormatsDecideBetweenFramesAndNotSupported_data();
    void pixelFormatsDecideBetweenFramesAndNotSupported();
    void streamCountersReportReceivedFrames();
    void searchWhileGrabbingLeavesTheStreamRunning();
    void framesDamagedInTransportAreSkippedAndCountedAsLost();
    void killedCameraEndsGrabbingAsGoneAndCloseReleasesIt();

private:
    void openCamera();
    int grabOne(std::vector<unsigned char> &frame, MV_FRAME_OUT_INFO_EX &info, unsigned int timeoutMs = 3000);

    FakeCamera m_camera;
    QString m_serial;
    MV_CC_DEVICE_INFO m_record;
    void *m_handle = nullptr;
};

void GenicamCameraTest::initTestCase()
{
    m_serial = uniqueSerial();
    const QString reason = unavailableReason(m_serial);
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    QString why;
    QVERIFY2(m_camera.start(m_serial, why), qPrintable(why));
}

void GenicamCameraTest::init()
{
    if (!m_camera.isRunning()) {
        QString why;
        QVERIFY2(m_camera.start(m_serial, why), qPrintable(why));
    }
    QVERIFY(findCamera(m_serial, m_record));
}

void GenicamCameraTest::cleanup()
{
    if (m_handle) {
        MV_CC_StopGrabbing(m_handle);
        // The fake camera keeps its registers across connections: undo what
        // a test changed so that the next one starts from the same camera.
        MV_CC_SetEnumValue(m_handle, "TriggerMode", 0);
        MV_CC_SetEnumValue(m_handle, "PixelFormat", PixelType_Gvsp_Mono8);
        MV_CC_CloseDevice(m_handle);
        MV_CC_DestroyHandle(m_handle);
        m_handle = nullptr;
    }
}

void GenicamCameraTest::cleanupTestCase()
{
    m_camera.stop();
}

void GenicamCameraTest::openCamera()
{
    QCOMPARE(MV_CC_CreateHandle(&m_handle, &m_record), int(MV_OK));
    QCOMPARE(MV_CC_OpenDevice(m_handle, MV_ACCESS_Exclusive, 0), int(MV_OK));
}

int GenicamCameraTest::grabOne(std::vector<unsigned char> &frame, MV_FRAME_OUT_INFO_EX &info,
                               unsigned int timeoutMs)
{
    std::memset(&info, 0, sizeof info);
    return MV_CC_GetOneFrameTimeout(m_handle, frame.data(), static_cast<unsigned int>(frame.size()), &info,
                                    timeoutMs);
}

void GenicamCameraTest::searchListsTheFakeCameraAsGigEOnLoopback()
{
    QCOMPARE(m_record.nTLayerType, uint(MV_GIGE_DEVICE));
    const MV_GIGE_DEVICE_INFO &gige = m_record.SpecialInfo.stGigEInfo;
    QCOMPARE(gige.nCurrentIp, loopbackAddress);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(gige.chManufacturerName)), QByteArray("Aravis"));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(gige.chModelName)), QByteArray("Fake"));
    QCOMPARE(QString::fromLatin1(reinterpret_cast<const char *>(gige.chSerialNumber)), m_serial);
    QCOMPARE(gige.chSerialNumber[sizeof gige.chSerialNumber - 1], '\0');
}

void GenicamCameraTest::searchForUsbOnlyLeavesTheGigECameraOut()
{
    for (const MV_CC_DEVICE_INFO &record : search(MV_USB_DEVICE)) {
        QCOMPARE(record.nTLayerType, uint(MV_USB_DEVICE));
        QVERIFY(serialOf(record) != m_serial);
    }
}

void GenicamCameraTest::secondHandleInThisProcessIsRefused()
{
    openCamera();
    void *second = nullptr;
    QCOMPARE(MV_CC_CreateHandle(&second, &m_record), int(MV_OK));
    QCOMPARE(MV_CC_OpenDevice(second, MV_ACCESS_Exclusive, 0), int(MV_E_ACCESS));
    QCOMPARE(MV_CC_DestroyHandle(second), int(MV_OK));
}

void GenicamCameraTest::anotherProcessIsRefusedWhileWeHoldTheCamera()
{
    const auto openFromAnotherProcess = [this]() {
        QProcess helper;
        helper.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(helperOption), m_serial});
        if (!helper.waitForFinished(60000))
            helper.kill();
        return QString::fromLatin1(helper.readAllStandardOutput()).trimmed();
    };
    openCamera();
    QCOMPARE(openFromAnotherProcess(), statusText(MV_E_ACCESS));

    QCOMPARE(MV_CC_CloseDevice(m_handle), int(MV_OK));
    QCOMPARE(openFromAnotherProcess(), statusText(MV_OK));
}

void GenicamCameraTest::optimalPacketSizeIsNegotiatedAndWrittenToTheCamera()
{
    openCamera();
    const int packetSize = MV_CC_GetOptimalPacketSize(m_handle);
    QVERIFY2(packetSize > 0, qPrintable(statusText(packetSize)));
    MVCC_INTVALUE_EX range;
    std::memset(&range, 0, sizeof range);
    QCOMPARE(MV_CC_GetIntValueEx(m_handle, "GevSCPSPacketSize", &range), int(MV_OK));
    QVERIFY(packetSize >= range.nMin && packetSize <= range.nMax);

    QCOMPARE(MV_CC_SetIntValueEx(m_handle, "GevSCPSPacketSize", packetSize), int(MV_OK));
    MVCC_INTVALUE_EX value;
    std::memset(&value, 0, sizeof value);
    QCOMPARE(MV_CC_GetIntValueEx(m_handle, "GevSCPSPacketSize", &value), int(MV_OK));
    QCOMPARE(value.nCurValue, int64_t(packetSize));

    // The smallest size the node allows differs from the negotiated one, so
    // reading it back shows that the write reached the camera.
    QVERIFY(range.nMin != packetSize);
    QCOMPARE(MV_CC_SetIntValueEx(m_handle, "GevSCPSPacketSize", range.nMin), int(MV_OK));
    QCOMPARE(MV_CC_GetIntValueEx(m_handle, "GevSCPSPacketSize", &value), int(MV_OK));
    QCOMPARE(value.nCurValue, range.nMin);
    // The fake camera keeps its registers across connections, and cannot
    // stream at the smallest size.
    QCOMPARE(MV_CC_SetIntValueEx(m_handle, "GevSCPSPacketSize", packetSize), int(MV_OK));
}

void GenicamCameraTest::framesArriveWithTheirSizeFormatAndTimestamps()
{
    openCamera();
    MVCC_INTVALUE_EX payload;
    std::memset(&payload, 0, sizeof payload);
    QCOMPARE(MV_CC_GetIntValueEx(m_handle, "PayloadSize", &payload), int(MV_OK));
    QCOMPARE(payload.nCurValue, int64_t(fakeWidth * fakeHeight));
    QCOMPARE(MV_CC_StartGrabbing(m_handle), int(MV_OK));

    std::vector<unsigned char> previous;
    MV_FRAME_OUT_INFO_EX previousInfo;
    std::memset(&previousInfo, 0, sizeof previousInfo);
    for (int i = 0; i < 3; ++i) {
        std::vector<unsigned char> frame(std::size_t(payload.nCurValue) + 100, 0xA5);
        MV_FRAME_OUT_INFO_EX info;
        QCOMPARE(grabOne(frame, info), int(MV_OK));
        QCOMPARE(info.nWidth, fakeWidth);
        QCOMPARE(info.nHeight, fakeHeight);
        QCOMPARE(info.enPixelType, PixelType_Gvsp_Mono8);
        QCOMPARE(info.nFrameLen, fakeWidth * fakeHeight);
        QVERIFY(isDiagonalRamp(frame, fakeWidth, fakeHeight));
        // Nothing is written past the frame.
        QCOMPARE(frame[fakeWidth * fakeHeight], static_cast<unsigned char>(0xA5));
        QVERIFY(info.nHostTimeStamp > 0);
        if (i > 0) {
            QVERIFY(followsInStream(previousInfo.nFrameNum, info.nFrameNum));
            const uint64_t before
                = (uint64_t(previousInfo.nDevTimeStampHigh) << 32) | previousInfo.nDevTimeStampLow;
            const uint64_t now = (uint64_t(info.nDevTimeStampHigh) << 32) | info.nDevTimeStampLow;
            QVERIFY(now > before);
            QVERIFY(frame != previous);
        }
        previous = frame;
        previousInfo = info;
    }
    QCOMPARE(MV_CC_StopGrabbing(m_handle), int(MV_OK));
}

void GenicamCameraTest::fetchWithoutFramesEndsWithNoDataAfterItsTimeout()
{
    openCamera();
    QCOMPARE(MV_CC_SetEnumValue(m_handle, "TriggerMode", triggerOn), int(MV_OK));
    QCOMPARE(MV_CC_StartGrabbing(m_handle), int(MV_OK));
    std::vector<unsigned char> frame(fakeWidth * fakeHeight);
    MV_FRAME_OUT_INFO_EX info;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(grabOne(frame, info, 300), int(MV_E_NODATA));
    QVERIFY(clock.elapsed() >= 290);
}

void GenicamCameraTest::frameAlreadyReceivedIsFetchedWithAZeroTimeout()
{
    openCamera();
    QCOMPARE(MV_CC_StartGrabbing(m_handle), int(MV_OK));
    std::vector<unsigned char> frame(fakeWidth * fakeHeight);
    MV_FRAME_OUT_INFO_EX info;
    QCOMPARE(grabOne(frame, info), int(MV_OK));
    // The camera sends 25 frames a second: several are waiting by now.
    QThread::msleep(300);
    QCOMPARE(statusText(grabOne(frame, info, 0)), statusText(MV_OK));
    QCOMPARE(statusText(grabOne(frame, info, 0)), statusText(MV_OK));
    QVERIFY(isDiagonalRamp(frame, fakeWidth, fakeHeight));
}

void GenicamCameraTest::stopWakesAWaitingFetchPromptly()
{
    openCamera();
    QCOMPARE(MV_CC_SetEnumValue(m_handle, "TriggerMode", triggerOn), int(MV_OK));
    QCOMPARE(MV_CC_StartGrabbing(m_handle), int(MV_OK));
    std::atomic<int> status{-1};
    std::atomic<qint64> waited{0};
    std::thread fetcher([&]() {
        std::vector<unsigned char> frame(fakeWidth * fakeHeight);
        MV_FRAME_OUT_INFO_EX info;
        QElapsedTimer clock;
        clock.start();
        status = grabOne(frame, info, 20000);
        waited = clock.elapsed();
    });
    QThread::msleep(300);
    QCOMPARE(MV_CC_StopGrabbing(m_handle), int(MV_OK));
    fetcher.join();
    QCOMPARE(status.load(), int(MV_E_NODATA));
    // Woken by the stop, not by its own 20 s timeout.
    QVERIFY2(waited.load() < 10000, qPrintable(QString::number(waited.load())));
}

void GenicamCameraTest::frameTooLargeForTheBufferIsOfferedAgain()
{
    openCamera();
    QCOMPARE(MV_CC_StartGrabbing(m_handle), int(MV_OK));
    std::vector<unsigned char> frame(fakeWidth * fakeHeight);
    MV_FRAME_OUT_INFO_EX first, second;
    QCOMPARE(grabOne(frame, first), int(MV_OK));

    std::vector<unsigned char> small(1000, 0x5A);
    MV_FRAME_OUT_INFO_EX refused;
    QCOMPARE(grabOne(small, refused), int(MV_E_BUFOVER));
    QVERIFY(std::all_of(small.begin(), small.end(), [](unsigned char byte) { return byte == 0x5A; }));

    QCOMPARE(grabOne(frame, second), int(MV_OK));
    QVERIFY2(followsInStream(first.nFrameNum, second.nFrameNum),
             qPrintable(QStringLiteral("%1 then %2").arg(first.nFrameNum).arg(second.nFrameNum)));
}

void GenicamCameraTest::exposureAndGainReachTheCameraThroughOlderNames_data()
{
    QTest::addColumn<QByteArray>("feature");
    QTest::addColumn<float>("written");
    QTest::addColumn<float>("readBack");
    QTest::addColumn<float>("min");
    QTest::addColumn<float>("max");
    // The fake camera has ExposureTimeAbs (a float) and GainRaw (an integer).
    QTest::newRow("exposure as ExposureTimeAbs")
        << QByteArray("ExposureTime") << 5000.0f << 5000.0f << 10.0f << 1e7f;
    QTest::newRow("gain as integer GainRaw") << QByteArray("Gain") << 3.6f << 4.0f << 0.0f << 10.0f;
    QTest::newRow("gain at its maximum") << QByteArray("Gain") << 10.0f << 10.0f << 0.0f << 10.0f;
}

void GenicamCameraTest::exposureAndGainReachTheCameraThroughOlderNames()
{
    QFETCH(QByteArray, feature);
    QFETCH(float, written);
    openCamera();
    QCOMPARE(MV_CC_SetFloatValue(m_handle, feature.constData(), written), int(MV_OK));
    MVCC_FLOATVALUE value;
    std::memset(&value, 0, sizeof value);
    QCOMPARE(MV_CC_GetFloatValue(m_handle, feature.constData(), &value), int(MV_OK));
    QTEST(value.fCurValue, "readBack");
    QTEST(value.fMin, "min");
    QTEST(value.fMax, "max");
}

void GenicamCameraTest::valuesOutsideTheNodeRangeAreRefused_data()
{
    QTest::addColumn<QByteArray>("feature");
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("asFloat");
    QTest::newRow("exposure below minimum") << QByteArray("ExposureTime") << 5.0 << true;
    QTest::newRow("gain above maximum") << QByteArray("Gain") << 11.0 << true;
    QTest::newRow("gain not a number") << QByteArray("Gain") << double(NAN) << true;
    QTest::newRow("exposure not a number") << QByteArray("ExposureTime") << double(NAN) << true;
    QTest::newRow("integer gain below minimum") << QByteArray("Gain") << -1.0 << false;
    QTest::newRow("integer exposure above maximum") << QByteArray("ExposureTime") << 2e7 << false;
}

void GenicamCameraTest::valuesOutsideTheNodeRangeAreRefused()
{
    QFETCH(QByteArray, feature);
    QFETCH(double, value);
    QFETCH(bool, asFloat);
    openCamera();
    MVCC_FLOATVALUE before;
    QCOMPARE(MV_CC_GetFloatValue(m_handle, feature.constData(), &before), int(MV_OK));
    const int status = asFloat ? MV_CC_SetFloatValue(m_handle, feature.constData(), float(value))
                               : MV_CC_SetIntValueEx(m_handle, feature.constData(), int64_t(value));
    QCOMPARE(status, int(MV_E_RANGE));
    MVCC_FLOATVALUE after;
    QCOMPARE(MV_CC_GetFloatValue(m_handle, feature.constData(), &after), int(MV_OK));
    QCOMPARE(after.fCurValue, before.fCurValue);
}

void GenicamCameraTest::integerAndFloatNodesReadAsEitherType()
{
    openCamera();
    QCOMPARE(MV_CC_SetIntValueEx(m_handle, "ExposureTime", 1234), int(MV_OK));
    MVCC_INTVALUE_EX exposure;
    std::memset(&exposure, 0, sizeof exposure);
    QCOMPARE(MV_CC_GetIntValueEx(m_handle, "ExposureTime", &exposure), int(MV_OK));
    QCOMPARE(exposure.nCurValue, int64_t(1234));
    QCOMPARE(exposure.nMin, int64_t(10));
    QCOMPARE(exposure.nMax, int64_t(10000000));

    MVCC_FLOATVALUE width;
    std::memset(&width, 0, sizeof width);
    QCOMPARE(MV_CC_GetFloatValue(m_handle, "Width", &width), int(MV_OK));
    QCOMPARE(width.fCurValue, float(fakeWidth));
}

void GenicamCameraTest::missingFeaturesAreNotFound_data()
{
    QTest::addColumn<QByteArray>("feature");
    QTest::addColumn<char>("type");
    QTest::newRow("line rate") << QByteArray("AcquisitionLineRate") << 'i';
    QTest::newRow("resulting line rate") << QByteArray("ResultingLineRate") << 'i';
    QTest::newRow("line rate enable") << QByteArray("AcquisitionLineRateEnable") << 'b';
    QTest::newRow("exposure mode") << QByteArray("ExposureMode") << 'e';
    QTest::newRow("unknown name") << QByteArray("NoSuchFeature") << 'f';
}

void GenicamCameraTest::missingFeaturesAreNotFound()
{
    QFETCH(QByteArray, feature);
    QFETCH(char, type);
    openCamera();
    const char *name = feature.constData();
    MVCC_INTVALUE_EX intValue;
    MVCC_FLOATVALUE floatValue;
    bool boolValue = false;
    int readStatus = 0, writeStatus = 0;
    switch (type) {
    case 'i':
        readStatus = MV_CC_GetIntValueEx(m_handle, name, &intValue);
        writeStatus = MV_CC_SetIntValueEx(m_handle, name, 1000);
        break;
    case 'b':
        readStatus = MV_CC_GetBoolValue(m_handle, name, &boolValue);
        writeStatus = MV_CC_SetBoolValue(m_handle, name, true);
        break;
    case 'e': {
        MVCC_ENUMVALUE enumValue;
        readStatus = MV_CC_GetEnumValue(m_handle, name, &enumValue);
        writeStatus = MV_CC_SetEnumValue(m_handle, name, 0);
        break;
    }
    default:
        readStatus = MV_CC_GetFloatValue(m_handle, name, &floatValue);
        writeStatus = MV_CC_SetFloatValue(m_handle, name, 1.0f);
    }
    QCOMPARE(statusText(readStatus), statusText(MV_E_NOTFOUND));
    QCOMPARE(statusText(writeStatus), statusText(MV_E_NOTFOUND));
}

void GenicamCameraTest::featuresOfAnotherTypeAreRefused_data()
{
    QTest::addColumn<QByteArray>("feature");
    QTest::addColumn<char>("readAs");
    QTest::newRow("integer read as boolean") << QByteArray("Width") << 'b';
    QTest::newRow("enumeration read as integer") << QByteArray("PixelFormat") << 'i';
    QTest::newRow("boolean read as float") << QByteArray("TestBoolean") << 'f';
    QTest::newRow("float read as enumeration") << QByteArray("ExposureTime") << 'e';
}

void GenicamCameraTest::featuresOfAnotherTypeAreRefused()
{
    QFETCH(QByteArray, feature);
    QFETCH(char, readAs);
    openCamera();
    const char *name = feature.constData();
    int status = 0;
    if (readAs == 'b') {
        bool value = false;
        status = MV_CC_GetBoolValue(m_handle, name, &value);
    } else if (readAs == 'i') {
        MVCC_INTVALUE_EX value;
        status = MV_CC_GetIntValueEx(m_handle, name, &value);
    } else if (readAs == 'f') {
        MVCC_FLOATVALUE value;
        status = MV_CC_GetFloatValue(m_handle, name, &value);
    } else {
        MVCC_ENUMVALUE value;
        status = MV_CC_GetEnumValue(m_handle, name, &value);
    }
    QCOMPARE(statusText(status), statusText(MV_E_TYPE));
}

void GenicamCameraTest::readOnlyFeaturesRefuseWrites()
{
    openCamera();
    QCOMPARE(statusText(MV_CC_SetIntValueEx(m_handle, "PayloadSize", 1024)), statusText(MV_E_ACCESS_RW));
    MVCC_INTVALUE_EX payload;
    QCOMPARE(MV_CC_GetIntValueEx(m_handle, "PayloadSize", &payload), int(MV_OK));
    QCOMPARE(payload.nCurValue, int64_t(fakeWidth * fakeHeight));
}

void GenicamCameraTest::standardEnumerationEntriesUseTheLibrarysNumbers()
{
    // The fake camera numbers GainAuto Off = 1, Continuous = 2, Once = 3; the
    // library's numbers are Off = 0, Once = 1, Continuous = 2.
    openCamera();
    MVCC_ENUMVALUE value;
    QCOMPARE(MV_CC_SetEnumValue(m_handle, "GainAuto", 0), int(MV_OK));
    QCOMPARE(MV_CC_GetEnumValue(m_handle, "GainAuto", &value), int(MV_OK));
    QCOMPARE(value.nCurValue, 0u);
    QCOMPARE(value.nSupportedNum, 3u);
    QList<unsigned int> supported;
    for (unsigned int i = 0; i < value.nSupportedNum; ++i)
        supported << value.nSupportValue[i];
    std::sort(supported.begin(), supported.end());
    QCOMPARE(supported, (QList<unsigned int>{0, 1, 2}));

    QCOMPARE(MV_CC_SetEnumValue(m_handle, "GainAuto", 1), int(MV_OK));
    QCOMPARE(MV_CC_GetEnumValue(m_handle, "GainAuto", &value), int(MV_OK));
    QCOMPARE(value.nCurValue, 1u);
    QCOMPARE(statusText(MV_CC_SetEnumValue(m_handle, "GainAuto", 3)), statusText(MV_E_RANGE));
}

void GenicamCameraTest::pixelFormatsDecideBetweenFramesAndNotSupported_data()
{
    QTest::addColumn<uint>("format");
    QTest::addColumn<int>("status");
    QTest::addColumn<uint>("bytesPerPixel");
    QTest::newRow("Mono8") << uint(PixelType_Gvsp_Mono8) << int(MV_OK) << 1u;
    QTest::newRow("RGB8") << uint(PixelType_Gvsp_RGB8_Packed) << int(MV_OK) << 3u;
    QTest::newRow("BayerRG8") << uint(PixelType_Gvsp_BayerRG8) << int(MV_OK) << 1u;
    QTest::newRow("Mono16 cannot be converted") << mono16 << int(MV_E_SUPPORT) << 0u;
    QTest::newRow("BayerGR8 cannot be converted") << bayerGR8 << int(MV_E_SUPPORT) << 0u;
}

void GenicamCameraTest::pixelFormatsDecideBetweenFramesAndNotSupported()
{
    QFETCH(uint, format);
    QFETCH(int, status);
    QFETCH(uint, bytesPerPixel);
    openCamera();
    QCOMPARE(MV_CC_SetEnumValue(m_handle, "PixelFormat", format), int(MV_OK));
    QCOMPARE(MV_CC_StartGrabbing(m_handle), int(MV_OK));
    std::vector<unsigned char> frame(fakeWidth * fakeHeight * 3, 0x77);
    MV_FRAME_OUT_INFO_EX info;
    QCOMPARE(statusText(grabOne(frame, info)), statusText(status));
    if (status == int(MV_OK)) {
        QCOMPARE(uint(info.enPixelType), format);
        QCOMPARE(info.nFrameLen, fakeWidth * fakeHeight * bytesPerPixel);
    } else {
        QVERIFY(std::all_of(frame.begin(), frame.end(), [](unsigned char byte) { return byte == 0x77; }));
        // Such frames are refused one by one; the stream goes on.
        QCOMPARE(statusText(grabOne(frame, info)), statusText(status));
    }
}

void GenicamCameraTest::streamCountersReportReceivedFrames()
{
    openCamera();
    QCOMPARE(MV_CC_StartGrabbing(m_handle), int(MV_OK));
    std::vector<unsigned char> frame(fakeWidth * fakeHeight);
    MV_FRAME_OUT_INFO_EX info;
    for (int i = 0; i < 5; ++i)
        QCOMPARE(grabOne(frame, info), int(MV_OK));
    MV_NETTRANS_INFO counters;
    std::memset(&counters, 0, sizeof counters);
    QCOMPARE(MV_GIGE_GetNetTransInfo(m_handle, &counters), int(MV_OK));
    QVERIFY2(counters.nNetRecvFrameCount >= 5, qPrintable(QString::number(counters.nNetRecvFrameCount)));
    QCOMPARE(counters.nThrowFrameCount, 0);
    QVERIFY(counters.nReceiveDataSize >= int64_t(5) * fakeWidth * fakeHeight);

    // A new run counts from zero again.
    QCOMPARE(MV_CC_StopGrabbing(m_handle), int(MV_OK));
    QCOMPARE(MV_CC_StartGrabbing(m_handle), int(MV_OK));
    QCOMPARE(grabOne(frame, info), int(MV_OK));
    QCOMPARE(MV_GIGE_GetNetTransInfo(m_handle, &counters), int(MV_OK));
    QVERIFY2(counters.nNetRecvFrameCount >= 1 && counters.nNetRecvFrameCount < 5,
             qPrintable(QString::number(counters.nNetRecvFrameCount)));
}

void GenicamCameraTest::searchWhileGrabbingLeavesTheStreamRunning()
{
    openCamera();
    QCOMPARE(MV_CC_StartGrabbing(m_handle), int(MV_OK));
    std::vector<unsigned char> frame(fakeWidth * fakeHeight);
    MV_FRAME_OUT_INFO_EX before, after;
    QCOMPARE(grabOne(frame, before), int(MV_OK));
    MV_CC_DEVICE_INFO record;
    QVERIFY(findCamera(m_serial, record));
    QCOMPARE(grabOne(frame, after), int(MV_OK));
    QVERIFY(isDiagonalRamp(frame, fakeWidth, fakeHeight));
    MV_NETTRANS_INFO counters;
    std::memset(&counters, 0, sizeof counters);
    QCOMPARE(MV_GIGE_GetNetTransInfo(m_handle, &counters), int(MV_OK));
    QCOMPARE(counters.nThrowFrameCount, 0);
}

void GenicamCameraTest::framesDamagedInTransportAreSkippedAndCountedAsLost()
{
    // Dropping 5 packets in 1000 damages about 60 % of the ~190-packet
    // frames; ten good frames in a row without a damaged one are
    // practically impossible.
    m_camera.stop();
    FakeCamera lossy;
    QString why;
    QVERIFY2(lossy.start(m_serial, why, 5), qPrintable(why));
    QVERIFY(findCamera(m_serial, m_record));
    openCamera();
    QCOMPARE(MV_CC_StartGrabbing(m_handle), int(MV_OK));
    std::vector<unsigned char> frame(fakeWidth * fakeHeight);
    MV_FRAME_OUT_INFO_EX info;
    for (int i = 0; i < 10; ++i) {
        QCOMPARE(statusText(grabOne(frame, info, 5000)), statusText(MV_OK));
        QCOMPARE(info.nHeight, fakeHeight);
        QVERIFY(isDiagonalRamp(frame, fakeWidth, fakeHeight));
    }
    MV_NETTRANS_INFO counters;
    std::memset(&counters, 0, sizeof counters);
    QCOMPARE(MV_GIGE_GetNetTransInfo(m_handle, &counters), int(MV_OK));
    QVERIFY2(counters.nThrowFrameCount > 0, qPrintable(QString::number(counters.nThrowFrameCount)));
    QVERIFY(counters.nNetRecvFrameCount >= 10);
    cleanup();
    lossy.stop();
}

void GenicamCameraTest::killedCameraEndsGrabbingAsGoneAndCloseReleasesIt()
{
    openCamera();
    QCOMPARE(MV_CC_StartGrabbing(m_handle), int(MV_OK));
    std::vector<unsigned char> frame(fakeWidth * fakeHeight);
    MV_FRAME_OUT_INFO_EX info;
    QCOMPARE(grabOne(frame, info), int(MV_OK));

    m_camera.kill();
    // Aravis gives up on the camera once its heartbeat has gone unanswered
    // for a few seconds; until then fetches simply find no frame.
    int status = MV_OK;
    QElapsedTimer clock;
    clock.start();
    while (status != int(MV_E_NODEVICE) && clock.elapsed() < 30000) {
        status = grabOne(frame, info, 1000);
        QVERIFY2(status == int(MV_E_NODATA) || status == int(MV_E_NODEVICE) || status == int(MV_OK),
                 qPrintable(statusText(status)));
    }
    QCOMPARE(statusText(status), statusText(MV_E_NODEVICE));
    QCOMPARE(statusText(grabOne(frame, info, 10)), statusText(MV_E_NODEVICE));

    QCOMPARE(MV_CC_CloseDevice(m_handle), int(MV_OK));
    QCOMPARE(MV_CC_DestroyHandle(m_handle), int(MV_OK));
    m_handle = nullptr;

    // Everything was released: the camera, back again, opens as new.
    QString why;
    QVERIFY2(m_camera.start(m_serial, why), qPrintable(why));
    QVERIFY(findCamera(m_serial, m_record));
    openCamera();
    QCOMPARE(MV_CC_StartGrabbing(m_handle), int(MV_OK));
    QCOMPARE(grabOne(frame, info), int(MV_OK));
}

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], helperOption) == 0)
        return openInThisProcess(argv[2]);
    QCoreApplication app(argc, argv);
    GenicamCameraTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_genicam_camera.moc"

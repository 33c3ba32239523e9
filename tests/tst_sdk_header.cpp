// The camera library's header compiles as C and describes the same records
// to C and C++ callers.
#include "MvCameraControl.h"

#include <QtTest>

#include <cstddef>

extern "C" std::size_t mvcc_c_layout(unsigned int index);
extern "C" int mvcc_c_calls_with_null_handle(void);

class SdkHeaderTest : public QObject
{
    Q_OBJECT

private slots:
    void recordsHaveTheSameLayoutInCAndCpp_data()
    {
        QTest::addColumn<unsigned int>("index");
        QTest::addColumn<std::size_t>("cppValue");
        unsigned int i = 0;
        QTest::newRow("frame record") << i++ << sizeof(MV_FRAME_OUT_INFO_EX);
        QTest::newRow("frame length") << i++ << offsetof(MV_FRAME_OUT_INFO_EX, nFrameLen);
        QTest::newRow("host timestamp") << i++ << offsetof(MV_FRAME_OUT_INFO_EX, nHostTimeStamp);
        QTest::newRow("device record") << i++ << sizeof(MV_CC_DEVICE_INFO);
        QTest::newRow("transport part") << i++ << offsetof(MV_CC_DEVICE_INFO, SpecialInfo);
        QTest::newRow("GigE part") << i++ << sizeof(MV_GIGE_DEVICE_INFO);
        QTest::newRow("USB3 part") << i++ << sizeof(MV_USB3_DEVICE_INFO);
        QTest::newRow("device list") << i++ << sizeof(MV_CC_DEVICE_INFO_LIST);
        QTest::newRow("conversion") << i++ << sizeof(MV_CC_PIXEL_CONVERT_PARAM);
        QTest::newRow("conversion buffer size") << i++ << offsetof(MV_CC_PIXEL_CONVERT_PARAM, nDstBufferSize);
        QTest::newRow("integer value") << i++ << sizeof(MVCC_INTVALUE_EX);
        QTest::newRow("float value") << i++ << sizeof(MVCC_FLOATVALUE);
        QTest::newRow("enum value") << i++ << sizeof(MVCC_ENUMVALUE);
        QTest::newRow("net statistics") << i++ << sizeof(MV_NETTRANS_INFO);
        QTest::newRow("USB statistics") << i++ << sizeof(MV_MATCH_INFO_USB_DETECT);
        QTest::newRow("match info") << i++ << sizeof(MV_ALL_MATCH_INFO);
        QTest::newRow("save request") << i++ << sizeof(MV_SAVE_IMG_TO_FILE_PARAM);
        QTest::newRow("save path") << i++ << offsetof(MV_SAVE_IMG_TO_FILE_PARAM, pImagePath);
        QTest::newRow("save method") << i++ << offsetof(MV_SAVE_IMG_TO_FILE_PARAM, iMethodValue);
        QTest::newRow("bool") << i++ << sizeof(bool);
    }

    void recordsHaveTheSameLayoutInCAndCpp()
    {
        QFETCH(unsigned int, index);
        QFETCH(std::size_t, cppValue);
        QCOMPARE(mvcc_c_layout(index), cppValue);
    }

    void recordSizesAreTheOnesCallersRelyOn()
    {
        QCOMPARE(sizeof(MV_FRAME_OUT_INFO_EX), std::size_t(256));
        QCOMPARE(sizeof(MV_MATCH_INFO_USB_DETECT), std::size_t(24));
        QCOMPARE(sizeof(MV_SAVE_IMG_TO_FILE_PARAM::pImagePath), std::size_t(256));
        QCOMPARE(sizeof(MV_CC_DEVICE_INFO_LIST), sizeof(void *) * 257);
    }

    void cCallersReachTheLibrary() { QCOMPARE(mvcc_c_calls_with_null_handle(), 4); }
};

QTEST_GUILESS_MAIN(SdkHeaderTest)
#include "tst_sdk_header.moc"

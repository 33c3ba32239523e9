// The camera library's header describes the same records to C and C++ callers.
#include "MvCameraControl.h"

#include <QtTest>

extern "C" std::size_t mvcc_c_layout(unsigned int index);
extern "C" int mvcc_c_open_null_handle(void);

class SdkHeaderTest : public QObject
{
    Q_OBJECT

private slots:
    void recordsHaveTheSameLayoutInCAndCpp()
    {
        const std::size_t cpp[] = {sizeof(MV_FRAME_OUT_INFO_EX),
                                   offsetof(MV_FRAME_OUT_INFO_EX, nHostTimeStamp),
                                   sizeof(MV_CC_DEVICE_INFO),
                                   sizeof(MV_CC_PIXEL_CONVERT_PARAM),
                                   sizeof(MV_NETTRANS_INFO),
                                   sizeof(MV_MATCH_INFO_USB_DETECT),
                                   offsetof(MV_SAVE_IMG_TO_FILE_PARAM, iMethodValue)};
        for (unsigned int i = 0; i < sizeof cpp / sizeof cpp[0]; ++i)
            QVERIFY2(mvcc_c_layout(i) == cpp[i], qPrintable(QString("record %1").arg(i)));
        QCOMPARE(mvcc_c_layout(sizeof cpp / sizeof cpp[0]), std::size_t(0)); // both lists end together
    }

    void cCallersReachTheLibrary() { QCOMPARE(mvcc_c_open_null_handle(), int(MV_E_HANDLE)); }
};

QTEST_GUILESS_MAIN(SdkHeaderTest)
#include "tst_sdk_header.moc"

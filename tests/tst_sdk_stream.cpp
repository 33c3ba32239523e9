// Simulated line-scan frames: object mode, line stamps, frames lost when the host stalls.
#include "simcamera.h"

namespace {

// Whether every line of a frame carries the next line number; advances next.
bool linesFollowOn(const std::vector<unsigned char> &frame, const MV_FRAME_OUT_INFO_EX &info,
                   unsigned int bpp, uint32_t &next)
{
    for (unsigned int row = 0; row < info.nHeight; ++row, ++next)
        if (mvsim::lineStamp(frame.data() + std::size_t(row) * info.nWidth * bpp, bpp) != next)
            return false;
    return true;
}

} // namespace

class SdkStreamTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        qputenv("CORVISTA_CAMERAS", "simulator");
        mvsim::reset();
    }

    void objectModeEndsEachObjectWithAnIncompleteFrame_data()
    {
        QTest::addColumn<int>("objectLines");
        QTest::addColumn<QList<int>>("heights");
        QTest::newRow("remainder of 8 lines") << 40 << QList<int>{16, 16, 8, 16, 16, 8};
        QTest::newRow("object shorter than a frame") << 5 << QList<int>{5, 5, 5};
        QTest::newRow("object of whole frames") << 32 << QList<int>{16, 16, 16, 16};
    }

    void objectModeEndsEachObjectWithAnIncompleteFrame()
    {
        QFETCH(int, objectLines);
        QFETCH(QList<int>, heights);
        INSTALL_CAMERAS(
            "[OBJ]\nwidth = 64\nlines_per_frame = 16\nline_rate = 0\ngap_lines = 24\nobject_lines = "
            + std::to_string(objectLines));
        CameraHandle camera("OBJ");
        QVERIFY(camera.start());
        std::vector<unsigned char> frame;
        MV_FRAME_OUT_INFO_EX info;
        uint32_t nextLine = 0;
        for (int expected : heights) {
            QCOMPARE(camera.fetch(frame, info), MV_OK);
            QCOMPARE(int(info.nHeight), expected);
            QCOMPARE(info.nFrameLen, 64u * unsigned(expected));
            QVERIFY(linesFollowOn(frame, info, 1, nextLine));
        }
    }

    void framesTheHostDoesNotFetchInTimeAreDroppedAndCounted_data()
    {
        QTest::addColumn<QString>("transport");
        QTest::newRow("GigE") << "GigE";
        QTest::newRow("USB3") << "USB3";
    }

    void framesTheHostDoesNotFetchInTimeAreDroppedAndCounted()
    {
        QFETCH(QString, transport);
        // 100 frames per second, room for 4 on the camera.
        INSTALL_CAMERAS(
            "[L]\nwidth = 16\nlines_per_frame = 100\nline_rate = 10000\nbuffer_count = 4\ntransport = "
            + transport.toStdString());
        CameraHandle camera("L");
        QVERIFY(camera.start());
        QTest::qSleep(300);
        std::vector<unsigned char> frame;
        MV_FRAME_OUT_INFO_EX info;
        uint32_t next = 0;
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(camera.fetch(frame, info), MV_OK);
            QCOMPARE(info.nFrameNum, unsigned(i));
            QVERIFY(linesFollowOn(frame, info, 1, next));
        }
        QCOMPARE(camera.fetch(frame, info), MV_OK);
        const unsigned int skipped = info.nFrameNum - 4;
        QVERIFY2(skipped >= 10, qPrintable(QString::number(skipped)));
        QCOMPARE(mvsim::lineStamp(frame.data(), 1), info.nFrameNum * 100);
        unsigned int lost = 0, received = 0;
        if (transport == "GigE") {
            MV_NETTRANS_INFO net{};
            QCOMPARE(MV_GIGE_GetNetTransInfo(camera.handle, &net), MV_OK);
            lost = unsigned(net.nThrowFrameCount);
            received = net.nNetRecvFrameCount;
        } else {
            MV_MATCH_INFO_USB_DETECT usb{};
            MV_ALL_MATCH_INFO match{MV_MATCH_TYPE_USB_DETECT, &usb, sizeof usb};
            QCOMPARE(MV_CC_GetAllMatchInfo(camera.handle, &match), MV_OK);
            lost = usb.nErrorFrameCount;
            received = usb.nReceivedFrameCount;
        }
        QCOMPARE(received, 5u);
        QVERIFY2(lost >= skipped, qPrintable(QString("%1 < %2").arg(lost).arg(skipped)));
    }
};

QTEST_GUILESS_MAIN(SdkStreamTest)
#include "tst_sdk_stream.moc"

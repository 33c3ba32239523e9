// The camera library's edges: sizes that wrap, image types outside the
// enumeration, and an open racing the destruction of its handle.
#include "simcamera.h"

#include <QTemporaryDir>

#include <atomic>
#include <thread>

class SdkEdgesTest : public QObject
{
    Q_OBJECT

private slots:
    void conversionOfAFrameWhoseSizeWraps64BitsIsAParameterError_data()
    {
        QTest::addColumn<unsigned int>("type");
        QTest::addColumn<unsigned int>("width");
        QTest::addColumn<unsigned int>("height");
        // 2147587272 x 2863173372 x 3 bytes is 11936 modulo 2^64.
        QTest::newRow("RGB8 wrapping to 11936 bytes")
            << unsigned(PixelType_Gvsp_RGB8_Packed) << 2147587272u << 2863173372u;
        QTest::newRow("Mono16 beyond 4 GiB") << unsigned(PixelType_Gvsp_Mono16) << 0x10000u << 0x10000u;
        QTest::newRow("Mono10p largest frame")
            << unsigned(PixelType_Gvsp_Mono10p) << 0xFFFFFFFFu << 0xFFFFFFFFu;
    }

    void conversionOfAFrameWhoseSizeWraps64BitsIsAParameterError()
    {
        QFETCH(unsigned int, type);
        QFETCH(unsigned int, width);
        QFETCH(unsigned int, height);
        std::vector<unsigned char> src(12000, 1), dst(12000, 0xEE);
        MV_CC_PIXEL_CONVERT_PARAM param{
            width,      height, type,        src.data(), 0xFFFFFFFFu, PixelType_Gvsp_RGB8_Packed,
            dst.data(), 0,      0xFFFFFFFFu, {}};
        QCOMPARE(MV_CC_ConvertPixelType(nullptr, &param), status(MV_E_PARAMETER));
        QCOMPARE(param.nDstLen, 0u);
        QCOMPARE(std::count(dst.begin(), dst.end(), 0xEE), std::ptrdiff_t(dst.size()));
    }

    void savingRefusesWhatNoImageCanHoldAndWritesNothing_data()
    {
        QTest::addColumn<unsigned int>("type");
        QTest::addColumn<unsigned int>("width");
        QTest::addColumn<unsigned int>("imageType");
        QTest::addColumn<int>("expected");
        // 3 x 800000000 bytes a line do not fit in an int.
        QTest::newRow("RGB8 line of 800000000 pixels") << unsigned(PixelType_Gvsp_RGB8_Packed) << 800000000u
                                                       << unsigned(MV_Image_Png) << status(MV_E_PARAMETER);
        QTest::newRow("Bayer line of 800000000 pixels") << unsigned(PixelType_Gvsp_BayerGR8) << 800000000u
                                                        << unsigned(MV_Image_Png) << status(MV_E_PARAMETER);
        QTest::newRow("image type 99")
            << unsigned(PixelType_Gvsp_Mono8) << 16u << 99u << status(MV_E_PARAMETER);
        QTest::newRow("image type 0x80000000")
            << unsigned(PixelType_Gvsp_Mono8) << 16u << 0x80000000u << status(MV_E_PARAMETER);
        QTest::newRow("image type undefined") << unsigned(PixelType_Gvsp_Mono8) << 16u
                                              << unsigned(MV_Image_Undefined) << status(MV_E_PARAMETER);
    }

    void savingRefusesWhatNoImageCanHoldAndWritesNothing()
    {
        QFETCH(unsigned int, type);
        QFETCH(unsigned int, width);
        QFETCH(unsigned int, imageType);
        QTemporaryDir dir;
        // The data claims the whole frame; the library must refuse before reading it.
        std::vector<unsigned char> data(64, 100);
        MV_SAVE_IMG_TO_FILE_PARAM param{};
        param.enPixelType = type;
        param.pData = data.data();
        param.nWidth = width;
        param.nHeight = 1;
        param.nDataLen = 0xFFFFFFFFu;
        param.nQuality = 90;
        // Stored as the raw 32 bits a caller of the C interface may pass.
        std::memcpy(&param.enImageType, &imageType, sizeof imageType);
        std::strncpy(param.pImagePath, QFile::encodeName(dir.filePath("out.png")).constData(),
                     sizeof param.pImagePath - 1);
        QTEST(MV_CC_SaveImageToFile(nullptr, &param), "expected");
        QCOMPARE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    }

    void openRacingDestroyNeverLeavesTheCameraClaimed()
    {
        INSTALL_CAMERAS("[RACE]\nwidth = 16\nlines_per_frame = 4\n");
        const std::vector<MV_CC_DEVICE_INFO> cameras = enumerateCameras();
        QCOMPARE(cameras.size(), std::size_t(1));
        const MV_CC_DEVICE_INFO record = cameras.front();
        // Each round opens and destroys one handle from two threads at the
        // same moment; whichever wins, a fresh handle must open afterwards.
        constexpr int rounds = 1000;
        int opensThatWon = 0;
        for (int round = 0; round < rounds; ++round) {
            void *handle = nullptr;
            QCOMPARE(MV_CC_CreateHandle(&handle, &record), MV_OK);
            std::atomic<int> ready{0};
            int openStatus = 0, destroyStatus = 0;
            // Both threads spin until both run, then call at the same moment.
            const auto together = [&ready] {
                ++ready;
                while (ready < 2) { }
            };
            std::thread opener([&] {
                together();
                openStatus = MV_CC_OpenDevice(handle, MV_ACCESS_Exclusive, 0);
            });
            std::thread destroyer([&] {
                together();
                destroyStatus = MV_CC_DestroyHandle(handle);
            });
            opener.join();
            destroyer.join();
            QCOMPARE(destroyStatus, MV_OK);
            QVERIFY2(openStatus == MV_OK || openStatus == status(MV_E_HANDLE),
                     qPrintable(QString::number(unsigned(openStatus), 16)));
            opensThatWon += openStatus == MV_OK;

            void *fresh = nullptr;
            QCOMPARE(MV_CC_CreateHandle(&fresh, &record), MV_OK);
            const int reopen = MV_CC_OpenDevice(fresh, MV_ACCESS_Exclusive, 0);
            MV_CC_DestroyHandle(fresh);
            if (reopen != MV_OK)
                QFAIL(qPrintable(QString("round %1: camera left claimed, open gave 0x%2")
                                     .arg(round)
                                     .arg(unsigned(reopen), 0, 16)));
        }
        qInfo("opens that ran before the destroy: %d of %d", opensThatWon, rounds);
    }
};

QTEST_GUILESS_MAIN(SdkEdgesTest)
#include "tst_sdk_edges.moc"

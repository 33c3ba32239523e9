// Triggered acquisition in the camera library: enumerations by entry name, the
// conveyor's speed profile, lines clocked by its encoder and frames started by
// its light barrier.
#include "simconveyor.h"
#include "simcamera.h"

#include <cmath>

namespace {

// Selects the line (LineStart) or frame (FrameStart) trigger and sets its mode.
int setTrigger(void *handle, const char *selector, const char *mode)
{
    const int selected = MV_CC_SetEnumValueByString(handle, "TriggerSelector", selector);
    return selected != MV_OK ? selected : MV_CC_SetEnumValueByString(handle, "TriggerMode", mode);
}

QStringList entriesOf(const MVCC_ENUMENTRY_LIST &list)
{
    QStringList names;
    for (unsigned int i = 0; i < list.nSupportedNum; ++i)
        names << QString::fromLatin1(list.chSymbolic[i]);
    return names;
}

// Fetches frames until `count` came or one fetch times out; checks that every
// line follows the one before.
QList<MV_FRAME_OUT_INFO_EX> fetchFollowingOn(CameraHandle &camera, int count, uint32_t &nextLine,
                                             unsigned int timeoutMs = 2000)
{
    QList<MV_FRAME_OUT_INFO_EX> frames;
    std::vector<unsigned char> frame;
    MV_FRAME_OUT_INFO_EX info;
    while (frames.size() < count && camera.fetch(frame, info, timeoutMs) == MV_OK) {
        for (unsigned int row = 0; row < info.nHeight; ++row, ++nextLine)
            if (mvsim::lineStamp(frame.data() + std::size_t(row) * info.nWidth, 1) != nextLine)
                return {};
        frames << info;
    }
    return frames;
}

double secondsOf(const MV_FRAME_OUT_INFO_EX &info)
{
    return double((uint64_t(info.nDevTimeStampHigh) << 32) | info.nDevTimeStampLow) / 1e6;
}

} // namespace

class SdkTriggerTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        qputenv("CORVISTA_CAMERAS", "simulator");
        mvsim::reset();
    }

    void conveyorFollowsItsProfile_data()
    {
        QTest::addColumn<double>("t");
        QTest::addColumn<double>("speed");
        QTest::addColumn<double>("position");
        // 1000 lines/s for 1 s, down to 0 in 0.5 s, 1 s standing, up again in 0.5 s; 3 s a cycle.
        QTest::newRow("steady") << 0.5 << 1000.0 << 500.0;
        QTest::newRow("slowing down") << 1.25 << 500.0 << 1000.0 + 187.5;
        QTest::newRow("standing") << 2.0 << 0.0 << 1250.0;
        QTest::newRow("starting again") << 2.75 << 500.0 << 1250.0 + 62.5;
        QTest::newRow("next cycle") << 3.5 << 1000.0 << 1500.0 + 500.0;
    }

    void conveyorFollowsItsProfile()
    {
        QFETCH(double, t);
        QFETCH(double, speed);
        QFETCH(double, position);
        std::vector<mvcc::ConveyorStep> steps;
        std::string error;
        QVERIFY(mvcc::parseConveyorProfile("1000 for 1, ramp to 0 in 0.5, stop for 1, ramp to 1000 in 0.5",
                                           steps, error));
        const mvcc::Conveyor belt(steps);
        QCOMPARE(belt.speedAt(t), speed);
        QVERIFY(std::abs(belt.positionAt(t) - position) < 1e-6);
        // Reaching a position is the inverse, except that a standing belt
        // reached its position when it stopped.
        const double reached = belt.timeOfPosition(position);
        QVERIFY2(std::abs(reached - (speed > 0 ? t : 1.5)) < 1e-6, qPrintable(QString::number(reached)));
    }

    void conveyorProfilesThatCannotRunAreRefused_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::newRow("no time") << "1000 for 0";
        QTest::newRow("unknown step") << "1000 during 1";
        QTest::newRow("negative rate") << "-5 for 1";
        QTest::newRow("ramp without target") << "ramp in 1";
    }

    void conveyorProfilesThatCannotRunAreRefused()
    {
        QFETCH(QString, profile);
        std::vector<mvcc::ConveyorStep> steps;
        std::string error;
        QVERIFY(!mvcc::parseConveyorProfile(profile.toStdString(), steps, error));
        QVERIFY(!error.empty());
        QVERIFY(!mvsim::configure("[C]\nconveyor = " + profile.toStdString()));
    }

    void standingBeltIsNeverReached()
    {
        std::vector<mvcc::ConveyorStep> steps;
        std::string error;
        QVERIFY(mvcc::parseConveyorProfile("stop for 1", steps, error));
        QVERIFY(std::isinf(mvcc::Conveyor(steps).timeOfPosition(1)));
    }

    void enumerationsAreListedAndSetByName()
    {
        INSTALL_CAMERAS("[T]\nwidth = 16\nlines_per_frame = 8\n");
        CameraHandle camera("T");
        MVCC_ENUMENTRY_LIST list;
        QCOMPARE(MV_CC_GetEnumEntries(camera.handle, "TriggerSelector", &list), status(MV_E_CALLORDER));
        QCOMPARE(camera.open(), MV_OK);
        QCOMPARE(MV_CC_GetEnumEntries(camera.handle, "TriggerSelector", &list), MV_OK);
        QCOMPARE(entriesOf(list), QStringList({"LineStart", "FrameStart"}));
        QCOMPARE(QString(list.chCurSymbolic), QString("LineStart"));

        // Mode, source and edge are kept per selector.
        QCOMPARE(setTrigger(camera.handle, "LineStart", "On"), MV_OK);
        QCOMPARE(MV_CC_SetEnumValueByString(camera.handle, "TriggerActivation", "FallingEdge"), MV_OK);
        QCOMPARE(MV_CC_SetEnumValueByString(camera.handle, "TriggerSelector", "FrameStart"), MV_OK);
        QCOMPARE(MV_CC_GetEnumEntries(camera.handle, "TriggerMode", &list), MV_OK);
        QCOMPARE(QString(list.chCurSymbolic), QString("Off"));
        QCOMPARE(MV_CC_GetEnumEntries(camera.handle, "TriggerSource", &list), MV_OK);
        QCOMPARE(entriesOf(list), QStringList({"Encoder0", "Line0", "Line1", "Line2"}));
        QCOMPARE(QString(list.chCurSymbolic), QString("Line0"));
        QCOMPARE(MV_CC_SetEnumValueByString(camera.handle, "TriggerSelector", "LineStart"), MV_OK);
        QCOMPARE(MV_CC_GetEnumEntries(camera.handle, "TriggerActivation", &list), MV_OK);
        QCOMPARE(QString(list.chCurSymbolic), QString("FallingEdge"));
        MVCC_ENUMVALUE mode{};
        QCOMPARE(MV_CC_GetEnumValue(camera.handle, "TriggerMode", &mode), MV_OK);
        QCOMPARE(mode.nCurValue, 1u);

        QCOMPARE(MV_CC_GetEnumEntries(camera.handle, "PixelFormat", &list), MV_OK);
        QCOMPARE(entriesOf(list), QStringList({"Mono8", "RGB8", "BayerRG8"}));
        QCOMPARE(MV_CC_SetEnumValueByString(camera.handle, "PixelFormat", "RGB8"), MV_OK);
        QCOMPARE(camera.intValue("PayloadSize"), 16 * 8 * 3);
    }

    void enumerationByNameRefusals_data()
    {
        QTest::addColumn<QString>("feature");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<int>("expected");
        QTest::newRow("unknown entry") << "TriggerSource"
                                       << "Line9" << status(MV_E_RANGE);
        QTest::newRow("not an enumeration") << "Gain"
                                            << "On" << status(MV_E_TYPE);
        QTest::newRow("lacking feature") << "TriggerMode"
                                         << "On" << status(MV_E_NOTFOUND);
        QTest::newRow("no such feature") << "Flash"
                                         << "On" << status(MV_E_NOTFOUND);
    }

    void enumerationByNameRefusals()
    {
        QFETCH(QString, feature);
        QFETCH(QString, entry);
        QFETCH(int, expected);
        INSTALL_CAMERAS("[T]\nwidth = 16\nlines_per_frame = 8\nmissing_features = TriggerMode\n");
        CameraHandle camera("T");
        QCOMPARE(camera.open(), MV_OK);
        const QByteArray name = feature.toLatin1();
        QCOMPARE(MV_CC_SetEnumValueByString(camera.handle, name, entry.toLatin1()), expected);
        MVCC_ENUMENTRY_LIST list;
        std::memset(&list, 0x5A, sizeof list);
        const int listed = MV_CC_GetEnumEntries(camera.handle, name, &list);
        QCOMPARE(listed, expected == status(MV_E_RANGE) ? MV_OK : expected);
        if (listed != MV_OK)
            QCOMPARE(list.nSupportedNum, 0x5A5A5A5Au);
        QCOMPARE(MV_CC_SetEnumValueByString(camera.handle, name, nullptr), status(MV_E_PARAMETER));
        QCOMPARE(MV_CC_GetEnumEntries(camera.handle, name, nullptr), status(MV_E_PARAMETER));
        QCOMPARE(MV_CC_GetEnumEntries(nullptr, name, &list), status(MV_E_HANDLE));
    }

    void encoderClocksLinesAndAStandingBeltLosesNothing()
    {
        // 300 encoder lines a cycle: 0.3 s standing, 0.3 s at 1000 lines/s.
        // Frames of 200 lines end at 0.5 s, across the next stop at 1.0 s, then at 1.2 s.
        INSTALL_CAMERAS("[E]\nwidth = 16\nlines_per_frame = 200\nline_rate = 20000\nbuffer_count = 2\n"
                        "conveyor = stop for 0.3, 1000 for 0.3\n");
        CameraHandle camera("E");
        QCOMPARE(camera.open(), MV_OK);
        QCOMPARE(setTrigger(camera.handle, "LineStart", "On"), MV_OK);
        QCOMPARE(camera.intValue("ResultingLineRate"), 0);
        QCOMPARE(MV_CC_StartGrabbing(camera.handle), MV_OK);
        uint32_t nextLine = 0;
        // Nothing while the belt stands, although the free-running rate
        // would have filled both buffers many times over.
        QCOMPARE(fetchFollowingOn(camera, 1, nextLine, 200).size(), 0);
        const QList<MV_FRAME_OUT_INFO_EX> frames = fetchFollowingOn(camera, 3, nextLine);
        QCOMPARE(frames.size(), 3);
        const double expected[] = {0.5, 1.0, 1.2};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(frames[i].nFrameNum, unsigned(i));
            QVERIFY2(std::abs(secondsOf(frames[i]) - expected[i]) < 0.02,
                     qPrintable(QString::number(secondsOf(frames[i]))));
        }
        MV_NETTRANS_INFO net{};
        QCOMPARE(MV_GIGE_GetNetTransInfo(camera.handle, &net), MV_OK);
        QCOMPARE(net.nThrowFrameCount, 0);
        // The camera measures the encoder's rate: 1000 while the belt moves.
        const int64_t rate = camera.intValue("ResultingLineRate");
        QVERIFY2(rate == 1000 || rate == 0, qPrintable(QString::number(rate)));
    }

    void frameTriggerStartsFramesAtObjects_data()
    {
        QTest::addColumn<int>("objectLines");
        QTest::addColumn<QString>("frameTrigger");
        QTest::addColumn<QList<int>>("heights");
        QTest::newRow("objects, barrier on") << 40 << "On" << QList<int>{16, 16, 8, 16, 16, 8};
        QTest::newRow("objects, barrier off") << 40 << "Off" << QList<int>{16, 16, 16, 16, 16, 16};
        QTest::newRow("no objects, barrier off") << 0 << "Off" << QList<int>{16, 16, 16};
        QTest::newRow("no objects, barrier on") << 0 << "On" << QList<int>{};
    }

    void frameTriggerStartsFramesAtObjects()
    {
        QFETCH(int, objectLines);
        QFETCH(QString, frameTrigger);
        QFETCH(QList<int>, heights);
        std::string ini = "[F]\nwidth = 16\nlines_per_frame = 16\nline_rate = 20000\n";
        if (objectLines)
            ini += "object_lines = " + std::to_string(objectLines) + "\ngap_lines = 24\n";
        INSTALL_CAMERAS(ini);
        CameraHandle camera("F");
        QCOMPARE(camera.open(), MV_OK);
        MVCC_ENUMENTRY_LIST mode;
        QCOMPARE(MV_CC_SetEnumValueByString(camera.handle, "TriggerSelector", "FrameStart"), MV_OK);
        QCOMPARE(MV_CC_GetEnumEntries(camera.handle, "TriggerMode", &mode), MV_OK);
        // A camera with objects has its light barrier on at open.
        QCOMPARE(QString(mode.chCurSymbolic), QString(objectLines ? "On" : "Off"));
        QCOMPARE(setTrigger(camera.handle, "FrameStart", frameTrigger.toLatin1()), MV_OK);
        QCOMPARE(MV_CC_StartGrabbing(camera.handle), MV_OK);
        uint32_t nextLine = 0;
        const QList<MV_FRAME_OUT_INFO_EX> frames
            = fetchFollowingOn(camera, heights.isEmpty() ? 1 : heights.size(), nextLine, 300);
        QList<int> got;
        for (const MV_FRAME_OUT_INFO_EX &info : frames)
            got << int(info.nHeight);
        QCOMPARE(got, heights);
    }

    void switchingTheLineTriggerWhileGrabbingKeepsTheLinesInOrder()
    {
        INSTALL_CAMERAS("[S]\nwidth = 16\nlines_per_frame = 50\nline_rate = 10000\nbuffer_count = 64\n"
                        "conveyor = 2000 for 1\n");
        CameraHandle camera("S");
        QVERIFY(camera.start());
        uint32_t nextLine = 0;
        QCOMPARE(fetchFollowingOn(camera, 3, nextLine).size(), 3);
        QCOMPARE(setTrigger(camera.handle, "LineStart", "On"), MV_OK);
        QCOMPARE(camera.intValue("ResultingLineRate"), 2000);
        QCOMPARE(fetchFollowingOn(camera, 3, nextLine).size(), 3);
        QCOMPARE(setTrigger(camera.handle, "LineStart", "Off"), MV_OK);
        QCOMPARE(camera.intValue("ResultingLineRate"), 10000);
        QCOMPARE(fetchFollowingOn(camera, 3, nextLine).size(), 3);
    }
};

QTEST_GUILESS_MAIN(SdkTriggerTest)
#include "tst_sdk_trigger.moc"

// The rules of the GenICam backend that need no camera.
#include <QtTest>

#include "genicamrules.h"

#include <cmath>

using namespace mvcc::genicam;

class GenicamRulesTest : public QObject
{
    Q_OBJECT

private slots:
    void featuresFallBackToTheOlderNamesInOrder_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("candidates");
        QTest::newRow("exposure") << "ExposureTime"
                                  << QStringList{"ExposureTime", "ExposureTimeAbs", "ExposureTimeRaw"};
        QTest::newRow("gain") << "Gain" << QStringList{"Gain", "GainAbs", "GainRaw"};
        QTest::newRow("line rate") << "AcquisitionLineRate"
                                   << QStringList{"AcquisitionLineRate", "AcquisitionLineRateAbs"};
        QTest::newRow("no fallback") << "PayloadSize" << QStringList{"PayloadSize"};
    }

    void featuresFallBackToTheOlderNamesInOrder()
    {
        QFETCH(QString, name);
        QStringList got;
        for (const std::string &candidate : featureCandidates(name.toStdString()))
            got << QString::fromStdString(candidate);
        QTEST(got, "candidates");
    }

    void incompleteFrameReportsOnlyItsCompleteLines_data()
    {
        QTest::addColumn<quint64>("received");
        QTest::addColumn<quint64>("stride");
        QTest::addColumn<uint>("lines");
        QTest::newRow("full frame") << quint64(4096 * 512) << quint64(4096) << 512u;
        QTest::newRow("object ended after 100 lines") << quint64(4096 * 100) << quint64(4096) << 100u;
        QTest::newRow("a partly received line is not counted")
            << quint64(4096 * 100 + 4095) << quint64(4096) << 100u;
        QTest::newRow("more bytes than announced lines") << quint64(4096 * 600) << quint64(4096) << 512u;
        QTest::newRow("zero stride") << quint64(4096) << quint64(0) << 0u;
        QTest::newRow("beyond 4 GiB") << (quint64(1) << 42) << quint64(16384) << 512u;
    }

    void incompleteFrameReportsOnlyItsCompleteLines()
    {
        QFETCH(quint64, received);
        QFETCH(quint64, stride);
        QTEST(completeLines(received, stride, 512u), "lines");
    }

    void gapsInFrameIdsCountAsLostFrames_data()
    {
        QTest::addColumn<quint64>("previous");
        QTest::addColumn<quint64>("id");
        QTest::addColumn<quint64>("missed");
        QTest::newRow("next frame") << quint64(7) << quint64(8) << quint64(0);
        QTest::newRow("many skipped") << quint64(1) << quint64(1001) << quint64(999);
        QTest::newRow("same id again") << quint64(5) << quint64(5) << quint64(0);
        QTest::newRow("camera restarted its count") << quint64(500) << quint64(1) << quint64(0);
        QTest::newRow("16-bit block id wraps past 0") << quint64(65535) << quint64(1) << quint64(0);
        QTest::newRow("gap across the wrap") << quint64(65530) << quint64(3) << quint64(7);
        QTest::newRow("restart to 0") << quint64(40) << quint64(0) << quint64(0);
        QTest::newRow("64-bit ids") << quint64(0xFFFFFFFFull) << quint64(0x100000002ull) << quint64(2);
    }

    void gapsInFrameIdsCountAsLostFrames()
    {
        QFETCH(quint64, previous);
        QFETCH(quint64, id);
        QTEST(quint64(framesMissedBetween(previous, id)), "missed");
    }

    void frameRetentionCoversTwoFullFramesAndAtLeastTwoSeconds_data()
    {
        QTest::addColumn<double>("frameSeconds");
        QTest::addColumn<quint64>("retentionUs");
        QTest::newRow("rate unknown") << 0.0 << quint64(2000000);
        QTest::newRow("not a number") << std::nan("") << quint64(2000000);
        QTest::newRow("fast camera keeps the floor") << 0.040 << quint64(2000000);
        QTest::newRow("4096 lines at 1 kHz") << 4.096 << quint64(8192000);
        QTest::newRow("belt at 1 line/s stays within 32 bits") << 4096.0 << quint64(4294967295u);
    }

    void frameRetentionCoversTwoFullFramesAndAtLeastTwoSeconds()
    {
        QFETCH(double, frameSeconds);
        QTEST(quint64(frameRetentionUs(frameSeconds)), "retentionUs");
    }
};

QTEST_GUILESS_MAIN(GenicamRulesTest)
#include "tst_genicam_rules.moc"

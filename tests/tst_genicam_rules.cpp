// The rules of the GenICam backend that need no camera.
#include <QtTest>

#include "genicamrules.h"

#include <cmath>
#include <limits>

using namespace mvcc::genicam;

class GenicamRulesTest : public QObject
{
    Q_OBJECT

private slots:
    void featuresFallBackToTheOlderNamesInOrder_data();
    void featuresFallBackToTheOlderNamesInOrder();
    void incompleteFrameReportsOnlyItsCompleteLines_data();
    void incompleteFrameReportsOnlyItsCompleteLines();
    void gapsInFrameIdsCountAsLostFrames_data();
    void gapsInFrameIdsCountAsLostFrames();
    void floatNodeReadAsIntegerIsRoundedWithinItsRange_data();
    void floatNodeReadAsIntegerIsRoundedWithinItsRange();
    void floatWrittenToIntegerNodeTakesTheNearestInteger_data();
    void floatWrittenToIntegerNodeTakesTheNearestInteger();
    void gigeAddressIsHeldMostSignificantByteFirst_data();
    void gigeAddressIsHeldMostSignificantByteFirst();
    void macAddressSplitsIntoTheRecordHalves_data();
    void macAddressSplitsIntoTheRecordHalves();
    void standardEnumerationValuesNameTheirEntries_data();
    void standardEnumerationValuesNameTheirEntries();
    void otherEnumerationsKeepTheCamerasOwnValues();
    void ringHoldsBetweenFourAndThirtyTwoBuffersWithinItsBudget_data();
    void ringHoldsBetweenFourAndThirtyTwoBuffersWithinItsBudget();
};

void GenicamRulesTest::featuresFallBackToTheOlderNamesInOrder_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("candidates");
    QTest::newRow("exposure") << "ExposureTime"
                              << QStringList{"ExposureTime", "ExposureTimeAbs", "ExposureTimeRaw"};
    QTest::newRow("gain") << "Gain" << QStringList{"Gain", "GainRaw", "GainAbs"};
    QTest::newRow("line rate") << "AcquisitionLineRate"
                               << QStringList{"AcquisitionLineRate", "AcquisitionLineRateAbs"};
    QTest::newRow("resulting line rate")
        << "ResultingLineRate" << QStringList{"ResultingLineRate", "ResultingLineRateAbs"};
    QTest::newRow("no fallback") << "PayloadSize" << QStringList{"PayloadSize"};
    QTest::newRow("an old name has none") << "ExposureTimeAbs" << QStringList{"ExposureTimeAbs"};
    QTest::newRow("names are case-sensitive") << "exposuretime" << QStringList{"exposuretime"};
}

void GenicamRulesTest::featuresFallBackToTheOlderNamesInOrder()
{
    QFETCH(QString, name);
    QFETCH(QStringList, candidates);
    QStringList got;
    for (const std::string &candidate : featureCandidates(name.toStdString()))
        got << QString::fromStdString(candidate);
    QCOMPARE(got, candidates);
}

void GenicamRulesTest::incompleteFrameReportsOnlyItsCompleteLines_data()
{
    QTest::addColumn<quint64>("received");
    QTest::addColumn<quint64>("stride");
    QTest::addColumn<uint>("announced");
    QTest::addColumn<uint>("lines");
    QTest::newRow("full frame") << quint64(4096 * 512) << quint64(4096) << 512u << 512u;
    QTest::newRow("object ended after 100 lines") << quint64(4096 * 100) << quint64(4096) << 512u << 100u;
    QTest::newRow("a partly received line is not counted")
        << quint64(4096 * 100 + 4095) << quint64(4096) << 512u << 100u;
    QTest::newRow("less than one line") << quint64(100) << quint64(4096) << 512u << 0u;
    QTest::newRow("more bytes than announced lines") << quint64(4096 * 600) << quint64(4096) << 512u << 512u;
    QTest::newRow("RGB lines") << quint64(3 * 2048 * 7) << quint64(3 * 2048) << 16u << 7u;
    QTest::newRow("padded lines") << quint64(520 * 3 + 512) << quint64(520) << 8u << 3u;
    QTest::newRow("zero stride") << quint64(4096) << quint64(0) << 512u << 0u;
    QTest::newRow("beyond 4 GiB") << (quint64(1) << 33) << quint64(16384) << 1024u << 1024u;
}

void GenicamRulesTest::incompleteFrameReportsOnlyItsCompleteLines()
{
    QFETCH(quint64, received);
    QFETCH(quint64, stride);
    QFETCH(uint, announced);
    QFETCH(uint, lines);
    QCOMPARE(completeLines(received, stride, announced), lines);
}

void GenicamRulesTest::gapsInFrameIdsCountAsLostFrames_data()
{
    QTest::addColumn<quint64>("previous");
    QTest::addColumn<quint64>("id");
    QTest::addColumn<quint64>("missed");
    QTest::newRow("next frame") << quint64(7) << quint64(8) << quint64(0);
    QTest::newRow("one frame skipped") << quint64(7) << quint64(9) << quint64(1);
    QTest::newRow("many skipped") << quint64(1) << quint64(1001) << quint64(999);
    QTest::newRow("same id again") << quint64(5) << quint64(5) << quint64(0);
    QTest::newRow("camera restarted its count") << quint64(500) << quint64(1) << quint64(0);
    QTest::newRow("64-bit ids") << quint64(0xFFFFFFFFull) << quint64(0x100000002ull) << quint64(2);
}

void GenicamRulesTest::gapsInFrameIdsCountAsLostFrames()
{
    QFETCH(quint64, previous);
    QFETCH(quint64, id);
    QFETCH(quint64, missed);
    QCOMPARE(framesMissedBetween(previous, id), missed);
}

void GenicamRulesTest::floatNodeReadAsIntegerIsRoundedWithinItsRange_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");
    QTest::addColumn<qint64>("intValue");
    QTest::addColumn<qint64>("intMin");
    QTest::addColumn<qint64>("intMax");
    QTest::newRow("whole numbers") << 5000.0 << 10.0 << 10000000.0 << qint64(5000) << qint64(10)
                                   << qint64(10000000);
    QTest::newRow("fractions round to nearest") << 2.5 << 0.4 << 19.6 << qint64(3) << qint64(1) << qint64(19);
    QTest::newRow("negative values") << -1.6 << -10.5 << -0.5 << qint64(-2) << qint64(-10) << qint64(-1);
    QTest::newRow("huge range saturates")
        << 1.0 << -1e300 << 1e300 << qint64(1) << std::numeric_limits<qint64>::min()
        << std::numeric_limits<qint64>::max();
    QTest::newRow("not a number reads as 0")
        << std::nan("") << 0.0 << 1.0 << qint64(0) << qint64(0) << qint64(1);
}

void GenicamRulesTest::floatNodeReadAsIntegerIsRoundedWithinItsRange()
{
    QFETCH(double, value);
    QFETCH(double, min);
    QFETCH(double, max);
    const IntegerView view = integerView(value, min, max);
    QTEST(qint64(view.value), "intValue");
    QTEST(qint64(view.min), "intMin");
    QTEST(qint64(view.max), "intMax");
}

void GenicamRulesTest::floatWrittenToIntegerNodeTakesTheNearestInteger_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<qint64>("result");
    QTest::newRow("whole") << 4.0 << true << qint64(4);
    QTest::newRow("rounds up") << 3.6 << true << qint64(4);
    QTest::newRow("rounds down") << 3.4 << true << qint64(3);
    QTest::newRow("negative") << -2.5 << true << qint64(-3);
    QTest::newRow("not a number") << std::nan("") << false << qint64(0);
    QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << false << qint64(0);
    QTest::newRow("beyond 64 bits") << 1e19 << false << qint64(0);
}

void GenicamRulesTest::floatWrittenToIntegerNodeTakesTheNearestInteger()
{
    QFETCH(double, value);
    QFETCH(bool, accepted);
    QFETCH(qint64, result);
    int64_t got = 0;
    QCOMPARE(integerForFloat(value, got), accepted);
    if (accepted)
        QCOMPARE(qint64(got), result);
}

void GenicamRulesTest::gigeAddressIsHeldMostSignificantByteFirst_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<uint>("address");
    QTest::newRow("loopback") << "127.0.0.1" << true << 0x7F000001u;
    QTest::newRow("camera subnet") << "192.168.1.10" << true << 0xC0A8010Au;
    QTest::newRow("top byte set") << "255.0.0.254" << true << 0xFF0000FEu;
    QTest::newRow("IPv6") << "::1" << false << 0u;
    QTest::newRow("byte too large") << "192.168.1.256" << false << 0u;
    QTest::newRow("empty") << "" << false << 0u;
}

void GenicamRulesTest::gigeAddressIsHeldMostSignificantByteFirst()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(uint, address);
    uint32_t got = 0xDEADBEEF;
    QCOMPARE(parseIpv4(text.toStdString(), got), valid);
    QCOMPARE(uint(got), valid ? address : 0xDEADBEEFu);
}

void GenicamRulesTest::macAddressSplitsIntoTheRecordHalves_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<uint>("high");
    QTest::addColumn<uint>("low");
    QTest::newRow("lower case") << "00:1c:2d:3e:4f:5a" << true << 0x001Cu << 0x2D3E4F5Au;
    QTest::newRow("upper case") << "AA:BB:CC:DD:EE:FF" << true << 0xAABBu << 0xCCDDEEFFu;
    QTest::newRow("too short") << "00:11:22:33:44" << false << 0u << 0u;
    QTest::newRow("trailing text") << "00:11:22:33:44:55x" << false << 0u << 0u;
    QTest::newRow("not hex") << "zz:11:22:33:44:55" << false << 0u << 0u;
}

void GenicamRulesTest::macAddressSplitsIntoTheRecordHalves()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    uint32_t high = 7, low = 9;
    QCOMPARE(parseMac(text.toStdString(), high, low), valid);
    if (valid) {
        QTEST(uint(high), "high");
        QTEST(uint(low), "low");
    } else {
        QCOMPARE(high, 7u);
        QCOMPARE(low, 9u);
    }
}

void GenicamRulesTest::standardEnumerationValuesNameTheirEntries_data()
{
    QTest::addColumn<QString>("feature");
    QTest::addColumn<uint>("value");
    QTest::addColumn<QString>("entry");
    QTest::newRow("timed exposure") << "ExposureMode" << 0u << "Timed";
    QTest::newRow("trigger width") << "ExposureMode" << 1u << "TriggerWidth";
    QTest::newRow("exposure auto off") << "ExposureAuto" << 0u << "Off";
    QTest::newRow("exposure auto once") << "ExposureAuto" << 1u << "Once";
    QTest::newRow("exposure auto continuous") << "ExposureAuto" << 2u << "Continuous";
    QTest::newRow("gain auto off") << "GainAuto" << 0u << "Off";
    QTest::newRow("gain auto continuous") << "GainAuto" << 2u << "Continuous";
}

void GenicamRulesTest::standardEnumerationValuesNameTheirEntries()
{
    QFETCH(QString, feature);
    QFETCH(uint, value);
    QFETCH(QString, entry);
    const char *name = enumEntryName(feature.toStdString(), value);
    QVERIFY(name);
    QCOMPARE(QString::fromLatin1(name), entry);
    unsigned int back = 99;
    QVERIFY(enumValueOfEntry(feature.toStdString(), entry.toStdString(), back));
    QCOMPARE(back, value);
}

void GenicamRulesTest::otherEnumerationsKeepTheCamerasOwnValues()
{
    QVERIFY(!enumEntryName("TriggerMode", 0));
    QVERIFY(!enumEntryName("PixelFormat", 0x01080001));
    QVERIFY(!enumEntryName("ExposureAuto", 3));
    unsigned int value = 42;
    QVERIFY(!enumValueOfEntry("TriggerMode", "Off", value));
    QVERIFY(!enumValueOfEntry("ExposureAuto", "Sometimes", value));
    QCOMPARE(value, 42u);
}

void GenicamRulesTest::ringHoldsBetweenFourAndThirtyTwoBuffersWithinItsBudget_data()
{
    QTest::addColumn<quint64>("payload");
    QTest::addColumn<uint>("buffers");
    QTest::newRow("one line of 4096") << quint64(4096) << 32u;
    QTest::newRow("512 x 512 Mono8") << quint64(262144) << 32u;
    QTest::newRow("8 MiB frames") << (quint64(8) << 20) << 16u;
    QTest::newRow("64 MiB frames") << (quint64(64) << 20) << 4u;
    QTest::newRow("unknown payload") << quint64(0) << 4u;
}

void GenicamRulesTest::ringHoldsBetweenFourAndThirtyTwoBuffersWithinItsBudget()
{
    QFETCH(quint64, payload);
    QFETCH(uint, buffers);
    QCOMPARE(ringBufferCount(payload), buffers);
}

QTEST_GUILESS_MAIN(GenicamRulesTest)
#include "tst_genicam_rules.moc"

// The camera identity read from the library's device records.
#include <QtTest>

#include <cstring>

#include "deviceentry.h"

class DeviceEntryTest : public QObject
{
    Q_OBJECT

private slots:
    void fullLengthNameFieldsAreReadOnlyToTheirSize();
    void recordsOfOtherTransportsAndMissingRecordsGetNoEntry();
    void cameraNamesAreNormalisedForFileNames_data();
    void cameraNamesAreNormalisedForFileNames();
};

void DeviceEntryTest::fullLengthNameFieldsAreReadOnlyToTheirSize()
{
    // A camera may fill a name field completely, leaving no terminating zero.
    MV_CC_DEVICE_INFO device = {};
    device.nTLayerType = MV_GIGE_DEVICE;
    MV_GIGE_DEVICE_INFO &gige = device.SpecialInfo.stGigEInfo;
    std::memcpy(gige.chManufacturerName, "\xe7\x9b\xb8\xe6\x9c\xba", 6); // UTF-8
    std::memset(gige.chModelName, 'M', sizeof gige.chModelName);
    std::memset(gige.chSerialNumber, '7', sizeof gige.chSerialNumber);
    std::memset(gige.chDeviceVersion, 'V', sizeof gige.chDeviceVersion);
    std::memset(gige.chUserDefinedName, 'U', sizeof gige.chUserDefinedName);
    gige.nCurrentIp = 0xFF00FF00u;
    const QString model(int(sizeof gige.chModelName), QLatin1Char('M'));
    const QString serial(int(sizeof gige.chSerialNumber), QLatin1Char('7'));
    QCOMPARE(deviceEntryText(3, &device),
             QStringLiteral("[3]GigE: 相机 %1 (%2)  255.0.255.0").arg(model, serial));
    QCOMPARE(deviceModelName(device), model);
    QCOMPARE(deviceSerialNumber(device), serial);
}

void DeviceEntryTest::recordsOfOtherTransportsAndMissingRecordsGetNoEntry()
{
    MV_CC_DEVICE_INFO device = {};
    device.nTLayerType = 8;
    QVERIFY(deviceEntryText(0, &device).isNull());
    QVERIFY(deviceEntryText(0, nullptr).isNull());
}

void DeviceEntryTest::cameraNamesAreNormalisedForFileNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char *tag, const char *name, const char *expected) {
        QTest::newRow(tag) << QString(name) << QString(expected);
    };
    row("double and trailing blank", "MV  CA 050 ", "MV_CA_050");
    row("leading blanks and tabs", "  MV\tCL\n042", "MV_CL_042");
    row("underscores already there stay", "A_B C", "A_B_C");
    row("only blanks", "   ", "");
}

void DeviceEntryTest::cameraNamesAreNormalisedForFileNames()
{
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QCOMPARE(normalizedCameraName(name), expected);
}

QTEST_APPLESS_MAIN(DeviceEntryTest)
#include "tst_device_entry.moc"

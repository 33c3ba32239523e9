// The device list entries and camera identity shown and used by the program.
#include <QtTest>

#include <cstring>

#include "deviceentry.h"

namespace {

template<size_t N>
void setField(unsigned char (&field)[N], const QByteArray &text)
{
    std::memset(field, 0, N);
    std::memcpy(field, text.constData(), size_t(qMin<int>(text.size(), int(N))));
}

MV_CC_DEVICE_INFO record(unsigned int transport, const QByteArray &maker, const QByteArray &model,
                         const QByteArray &serial, unsigned int address = 0)
{
    MV_CC_DEVICE_INFO device;
    std::memset(&device, 0, sizeof device);
    device.nTLayerType = transport;
    if (transport == MV_USB_DEVICE) {
        setField(device.SpecialInfo.stUsb3VInfo.chManufacturerName, maker);
        setField(device.SpecialInfo.stUsb3VInfo.chVendorName, "vendor-not-shown");
        setField(device.SpecialInfo.stUsb3VInfo.chModelName, model);
        setField(device.SpecialInfo.stUsb3VInfo.chSerialNumber, serial);
    } else {
        setField(device.SpecialInfo.stGigEInfo.chManufacturerName, maker);
        setField(device.SpecialInfo.stGigEInfo.chModelName, model);
        setField(device.SpecialInfo.stGigEInfo.chSerialNumber, serial);
        device.SpecialInfo.stGigEInfo.nCurrentIp = address;
    }
    return device;
}

} // namespace

class DeviceEntryTest : public QObject
{
    Q_OBJECT

private slots:
    void entryNamesIndexTransportDescriptionAndAddress_data();
    void entryNamesIndexTransportDescriptionAndAddress();
    void recordsOfOtherTransportsAndMissingRecordsGetNoEntry();
    void fullLengthNameFieldsAreReadOnlyToTheirSize();
    void cameraNamesAreNormalisedForFileNames_data();
    void cameraNamesAreNormalisedForFileNames();
};

void DeviceEntryTest::entryNamesIndexTransportDescriptionAndAddress_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<unsigned int>("transport");
    QTest::addColumn<unsigned int>("address");
    QTest::addColumn<QString>("expected");
    QTest::newRow("GigE, address after two blanks")
        << 0 << unsigned(MV_GIGE_DEVICE) << 0xC0A8010Au << "[0]GigE: Maker MV-CL042 (SN001)  192.168.1.10";
    QTest::newRow("GigE, bytes at their limits")
        << 12 << unsigned(MV_GIGE_DEVICE) << 0xFF00FF00u << "[12]GigE: Maker MV-CL042 (SN001)  255.0.255.0";
    QTest::newRow("USB3, no address")
        << 1 << unsigned(MV_USB_DEVICE) << 0u << "[1]UsbV3: Maker MV-CL042 (SN001)";
}

void DeviceEntryTest::entryNamesIndexTransportDescriptionAndAddress()
{
    QFETCH(int, index);
    QFETCH(unsigned int, transport);
    QFETCH(unsigned int, address);
    QFETCH(QString, expected);
    const MV_CC_DEVICE_INFO device = record(transport, "Maker", "MV-CL042", "SN001", address);
    QCOMPARE(deviceEntryText(index, &device), expected);
}

void DeviceEntryTest::recordsOfOtherTransportsAndMissingRecordsGetNoEntry()
{
    const MV_CC_DEVICE_INFO device = record(8, "Maker", "Model", "S");
    QVERIFY(deviceEntryText(0, &device).isNull());
    QVERIFY(deviceEntryText(0, nullptr).isNull());
}

void DeviceEntryTest::fullLengthNameFieldsAreReadOnlyToTheirSize()
{
    // A camera may fill a name field completely, leaving no terminating zero.
    const QByteArray model(32, 'M');
    const QByteArray serial(16, '7');
    MV_CC_DEVICE_INFO device = record(MV_GIGE_DEVICE, QStringLiteral("相机厂").toUtf8(), model, serial);
    setField(device.SpecialInfo.stGigEInfo.chDeviceVersion, "VERSION");
    setField(device.SpecialInfo.stGigEInfo.chUserDefinedName, "USER");
    QCOMPARE(deviceDescription(device),
             QStringLiteral("相机厂 %1 (%2)").arg(QString(model), QString(serial)));
    QCOMPARE(deviceSerialNumber(device), QString(serial));
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

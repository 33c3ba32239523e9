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

MV_CC_DEVICE_INFO gigeRecord(const QByteArray &maker, const QByteArray &model, const QByteArray &serial,
                             unsigned int address)
{
    MV_CC_DEVICE_INFO device;
    std::memset(&device, 0, sizeof device);
    device.nTLayerType = MV_GIGE_DEVICE;
    setField(device.SpecialInfo.stGigEInfo.chManufacturerName, maker);
    setField(device.SpecialInfo.stGigEInfo.chModelName, model);
    setField(device.SpecialInfo.stGigEInfo.chSerialNumber, serial);
    device.SpecialInfo.stGigEInfo.nCurrentIp = address;
    return device;
}

MV_CC_DEVICE_INFO usbRecord(const QByteArray &maker, const QByteArray &model, const QByteArray &serial)
{
    MV_CC_DEVICE_INFO device;
    std::memset(&device, 0, sizeof device);
    device.nTLayerType = MV_USB_DEVICE;
    setField(device.SpecialInfo.stUsb3VInfo.chManufacturerName, maker);
    setField(device.SpecialInfo.stUsb3VInfo.chVendorName, "vendor-not-shown");
    setField(device.SpecialInfo.stUsb3VInfo.chModelName, model);
    setField(device.SpecialInfo.stUsb3VInfo.chSerialNumber, serial);
    return device;
}

} // namespace

class DeviceEntryTest : public QObject
{
    Q_OBJECT

private slots:
    void gigeEntryShowsIndexDescriptionAndAddressAfterTwoBlanks_data();
    void gigeEntryShowsIndexDescriptionAndAddressAfterTwoBlanks();
    void usbEntryShowsIndexAndDescription();
    void recordsOfOtherTransportsAndMissingRecordsGetNoEntry();
    void fullLengthNameFieldsAreReadOnlyToTheirSize();
    void descriptionIsReadAsUtf8();
    void cameraNamesAreNormalisedForFileNames_data();
    void cameraNamesAreNormalisedForFileNames();
    void identityComesFromTheRecordOfEitherTransport();
};

void DeviceEntryTest::gigeEntryShowsIndexDescriptionAndAddressAfterTwoBlanks_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<unsigned int>("address");
    QTest::addColumn<QString>("expected");
    QTest::newRow("first camera") << 0 << 0xC0A8010Au
                                  << QStringLiteral("[0]GigE: Maker MV-CL042 (SN001)  192.168.1.10");
    QTest::newRow("later index, no leading zeros")
        << 12 << 0x0A000005u << QStringLiteral("[12]GigE: Maker MV-CL042 (SN001)  10.0.0.5");
    QTest::newRow("all bytes at their limits")
        << 3 << 0xFF00FF00u << QStringLiteral("[3]GigE: Maker MV-CL042 (SN001)  255.0.255.0");
}

void DeviceEntryTest::gigeEntryShowsIndexDescriptionAndAddressAfterTwoBlanks()
{
    QFETCH(int, index);
    QFETCH(unsigned int, address);
    QFETCH(QString, expected);
    const MV_CC_DEVICE_INFO device = gigeRecord("Maker", "MV-CL042", "SN001", address);
    QCOMPARE(deviceEntryText(index, &device), expected);
}

void DeviceEntryTest::usbEntryShowsIndexAndDescription()
{
    const MV_CC_DEVICE_INFO device = usbRecord("Corvista Simulated", "Line RGB", "U42");
    QCOMPARE(deviceEntryText(1, &device), QStringLiteral("[1]UsbV3: Corvista Simulated Line RGB (U42)"));
}

void DeviceEntryTest::recordsOfOtherTransportsAndMissingRecordsGetNoEntry()
{
    MV_CC_DEVICE_INFO device = gigeRecord("Maker", "Model", "S", 0x01020304u);
    device.nTLayerType = 8;
    QVERIFY(deviceEntryText(0, &device).isNull());
    QVERIFY(deviceEntryText(0, nullptr).isNull());
    QVERIFY(deviceModelName(device).isEmpty());
}

void DeviceEntryTest::fullLengthNameFieldsAreReadOnlyToTheirSize()
{
    // A camera may fill a name field completely, leaving no terminating zero;
    // the neighbouring field must not run into the text.
    const QByteArray model(32, 'M');
    const QByteArray serial(16, '7');
    MV_CC_DEVICE_INFO device = gigeRecord("Maker", model, serial, 0);
    setField(device.SpecialInfo.stGigEInfo.chDeviceVersion, "VERSION");
    setField(device.SpecialInfo.stGigEInfo.chUserDefinedName, "USER");
    QCOMPARE(deviceDescription(device), QStringLiteral("Maker %1 (%2)").arg(QString(model), QString(serial)));
    QCOMPARE(deviceModelName(device), QString(model));
    QCOMPARE(deviceSerialNumber(device), QString(serial));
}

void DeviceEntryTest::descriptionIsReadAsUtf8()
{
    const MV_CC_DEVICE_INFO device = usbRecord(QStringLiteral("相机厂").toUtf8(), "X", "1");
    QCOMPARE(deviceDescription(device), QStringLiteral("相机厂 X (1)"));
}

void DeviceEntryTest::cameraNamesAreNormalisedForFileNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");
    QTest::newRow("one and two blanks, trailing blank") << "MV CA  050 "
                                                        << "MV_CA_050";
    QTest::newRow("leading blanks and tabs") << "  MV\tCL\n042"
                                             << "MV_CL_042";
    QTest::newRow("underscores already there stay") << "A_B C"
                                                    << "A_B_C";
    QTest::newRow("only blanks") << "   "
                                 << "";
    QTest::newRow("nothing to change") << "SN0042"
                                       << "SN0042";
}

void DeviceEntryTest::cameraNamesAreNormalisedForFileNames()
{
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QCOMPARE(normalizedCameraName(name), expected);
}

void DeviceEntryTest::identityComesFromTheRecordOfEitherTransport()
{
    const MV_CC_DEVICE_INFO gige = gigeRecord("Maker", "MV  CA 050 ", " SN 1 ", 0);
    QCOMPARE(deviceModelName(gige), QStringLiteral("MV_CA_050"));
    QCOMPARE(deviceSerialNumber(gige), QStringLiteral("SN_1"));
    const MV_CC_DEVICE_INFO usb = usbRecord("Maker", "Line  RGB", "U 42");
    QCOMPARE(deviceModelName(usb), QStringLiteral("Line_RGB"));
    QCOMPARE(deviceSerialNumber(usb), QStringLiteral("U_42"));
}

QTEST_APPLESS_MAIN(DeviceEntryTest)
#include "tst_device_entry.moc"

#include "deviceentry.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

/*
 * The name fields of a device record are fixed-size arrays that a camera fills
 * itself; a field that uses its whole length carries no terminating zero, so
 * it is read only up to its size.
 */
template<size_t N>
std::string boundedField(const unsigned char (&field)[N])
{
    const char *text = reinterpret_cast<const char *>(field);
    return std::string(text, strnlen(text, N));
}

template<size_t N>
QString localField(const unsigned char (&field)[N])
{
    const std::string text = boundedField(field);
    return QString::fromLocal8Bit(text.data(), int(text.size()));
}

} // namespace

/*
 * The description of a GigE or USB3 record: manufacturer, model and serial
 * number as "%s %s (%s)", formatted into 256 bytes and read as UTF-8. A record
 * of another transport gives an empty text. Any thread.
 */
QString deviceDescription(const MV_CC_DEVICE_INFO &device)
{
    std::string manufacturer, model, serial;
    if (device.nTLayerType == MV_GIGE_DEVICE) {
        const MV_GIGE_DEVICE_INFO &gige = device.SpecialInfo.stGigEInfo;
        manufacturer = boundedField(gige.chManufacturerName);
        model = boundedField(gige.chModelName);
        serial = boundedField(gige.chSerialNumber);
    } else if (device.nTLayerType == MV_USB_DEVICE) {
        const MV_USB3_DEVICE_INFO &usb = device.SpecialInfo.stUsb3VInfo;
        manufacturer = boundedField(usb.chManufacturerName);
        model = boundedField(usb.chModelName);
        serial = boundedField(usb.chSerialNumber);
    } else {
        return QString();
    }
    char text[256];
    std::snprintf(text, sizeof text, "%s %s (%s)", manufacturer.c_str(), model.c_str(), serial.c_str());
    return QString::fromUtf8(text);
}

/*
 * An IPv4 address held most significant byte first, as dotted decimal.
 * Any thread.
 */
QString ipv4Text(unsigned int address)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg((address >> 24) & 0xffu)
        .arg((address >> 16) & 0xffu)
        .arg((address >> 8) & 0xffu)
        .arg(address & 0xffu);
}

/*
 * The device list entry of the record at `index`: "[index]GigE: description  address"
 * (two blanks) or "[index]UsbV3: description". A null record or one of another
 * transport gets no entry: the result is a null QString. Any thread.
 */
QString deviceEntryText(int index, const MV_CC_DEVICE_INFO *device)
{
    if (!device)
        return QString();
    if (device->nTLayerType == MV_GIGE_DEVICE) {
        return QStringLiteral("[%1]GigE: %2  %3")
            .arg(index)
            .arg(deviceDescription(*device), ipv4Text(device->SpecialInfo.stGigEInfo.nCurrentIp));
    }
    if (device->nTLayerType == MV_USB_DEVICE)
        return QStringLiteral("[%1]UsbV3: %2").arg(index).arg(deviceDescription(*device));
    return QString();
}

/*
 * A camera name made fit for file names: runs of white space collapse to one
 * blank, the ends are trimmed, and every blank becomes "_". Any thread.
 */
QString normalizedCameraName(const QString &name)
{
    return name.simplified().replace(QLatin1Char(' '), QLatin1Char('_')).trimmed();
}

/*
 * The normalised model name of a GigE or USB3 record, read in the local 8-bit
 * encoding; empty for another transport. Any thread.
 */
QString deviceModelName(const MV_CC_DEVICE_INFO &device)
{
    if (device.nTLayerType == MV_GIGE_DEVICE)
        return normalizedCameraName(localField(device.SpecialInfo.stGigEInfo.chModelName));
    if (device.nTLayerType == MV_USB_DEVICE)
        return normalizedCameraName(localField(device.SpecialInfo.stUsb3VInfo.chModelName));
    return QString();
}

/*
 * The normalised serial number of a GigE or USB3 record, read in the local
 * 8-bit encoding; empty for another transport. Any thread.
 */
QString deviceSerialNumber(const MV_CC_DEVICE_INFO &device)
{
    if (device.nTLayerType == MV_GIGE_DEVICE)
        return normalizedCameraName(localField(device.SpecialInfo.stGigEInfo.chSerialNumber));
    if (device.nTLayerType == MV_USB_DEVICE)
        return normalizedCameraName(localField(device.SpecialInfo.stUsb3VInfo.chSerialNumber));
    return QString();
}

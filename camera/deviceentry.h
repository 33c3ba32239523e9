#ifndef DEVICEENTRY_H
#define DEVICEENTRY_H

#include <QString>

#include "MvCameraControl.h"

/*
 * How a camera record of the library appears to the operator: the entry of the
 * device list and the identity used in output file names.
 */

QString deviceDescription(const MV_CC_DEVICE_INFO &device);
QString deviceEntryText(int index, const MV_CC_DEVICE_INFO *device);
QString ipv4Text(unsigned int address);

QString normalizedCameraName(const QString &name);
QString deviceModelName(const MV_CC_DEVICE_INFO &device);
QString deviceSerialNumber(const MV_CC_DEVICE_INFO &device);

#endif // DEVICEENTRY_H

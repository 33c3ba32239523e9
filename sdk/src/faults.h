// Injected failures: a test or a simulator configuration makes a named
// operation fail with a chosen status.
#ifndef MVCC_FAULTS_H
#define MVCC_FAULTS_H

#include <string>

namespace mvcc {

// The status injected for operation (a C function name such as
// "MV_CC_OpenDevice") on the device with this serial number, or MV_OK. A fault
// without serial applies to every device and to calls without a device.
int injectedFault(const char *operation, const std::string &serial);

// count < 0: fails until cleared; otherwise the next count calls fail.
// status MV_OK removes the faults of that operation and serial.
void setFault(const std::string &operation, int status, const std::string &serial, int count);
void clearFaults();

} // namespace mvcc

#endif // MVCC_FAULTS_H

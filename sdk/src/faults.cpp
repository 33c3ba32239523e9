#include "faults.h"

#include "MvCameraControl.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace mvcc {
namespace {

struct Fault {
    std::string operation;
    std::string serial;
    int status;
    int remaining; // < 0: unlimited
};

std::mutex faultMutex; // protects faultTable
std::vector<Fault> faultTable;

} // namespace

/*
 * Looks up the injected status of one call. Thread-safe (any thread). A
 * counted fault is used up by the call that receives it.
 */
int injectedFault(const char *operation, const std::string &serial)
{
    std::lock_guard<std::mutex> lock(faultMutex);
    for (auto it = faultTable.begin(); it != faultTable.end(); ++it) {
        if (it->operation != operation || (!it->serial.empty() && it->serial != serial))
            continue;
        const int status = it->status;
        if (it->remaining > 0 && --it->remaining == 0)
            faultTable.erase(it);
        return status;
    }
    return MV_OK;
}

/*
 * Installs (or, with status MV_OK, removes) a fault for operation on the
 * device with this serial ("" = every device). A new fault replaces an earlier
 * one of the same operation and serial. Thread-safe.
 */
void setFault(const std::string &operation, int status, const std::string &serial, int count)
{
    std::lock_guard<std::mutex> lock(faultMutex);
    faultTable.erase(
        std::remove_if(faultTable.begin(), faultTable.end(),
                       [&](const Fault &f) { return f.operation == operation && f.serial == serial; }),
        faultTable.end());
    if (status == MV_OK || count == 0)
        return;
    // Device-specific faults first so they win over an "every device" fault.
    Fault fault{operation, serial, status, count};
    if (serial.empty())
        faultTable.push_back(fault);
    else
        faultTable.insert(faultTable.begin(), fault);
}

/* Removes every injected fault. Thread-safe. */
void clearFaults()
{
    std::lock_guard<std::mutex> lock(faultMutex);
    faultTable.clear();
}

} // namespace mvcc

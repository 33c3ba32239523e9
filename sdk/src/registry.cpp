#include "backend.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>

namespace mvcc {

/*
 * Fallback when the GenICam backend is not built: no backend. The definition
 * in src/aravis/ overrides this weak one at link time.
 */
__attribute__((weak)) std::unique_ptr<CameraBackend> createGenicamBackend()
{
    return nullptr;
}

namespace {

std::mutex registryMutex; // protects createdBackends and warnedNames
std::map<std::string, std::unique_ptr<CameraBackend>> createdBackends;
std::vector<std::string> warnedNames;

std::string trimmed(const std::string &text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

void warnOnce(const std::string &name, const char *what)
{
    if (std::find(warnedNames.begin(), warnedNames.end(), name) != warnedNames.end())
        return;
    warnedNames.push_back(name);
    std::fprintf(stderr, "MVCameraControl: CORVISTA_CAMERAS: %s \"%s\" ignored\n", what, name.c_str());
}

CameraBackend *backendNamed(const std::string &name, bool explicitlyChosen)
{
    auto found = createdBackends.find(name);
    if (found == createdBackends.end()) {
        std::unique_ptr<CameraBackend> backend
            = name == "simulator" ? createSimulatorBackend() : createGenicamBackend();
        found = createdBackends.emplace(name, std::move(backend)).first;
    }
    if (!found->second && explicitlyChosen)
        warnOnce(name, "backend not built into this library,");
    return found->second.get();
}

} // namespace

/*
 * The backends chosen by CORVISTA_CAMERAS, read anew on every call so a test
 * can switch between them. Unknown names are reported once on stderr and
 * ignored. Thread-safe; the pointers live until the process ends.
 */
std::vector<CameraBackend *> activeBackends()
{
    std::lock_guard<std::mutex> lock(registryMutex);
    const char *env = std::getenv("CORVISTA_CAMERAS");
    std::vector<CameraBackend *> result;
    if (!env || trimmed(env).empty()) {
        for (const char *name : {"simulator", "genicam"})
            if (CameraBackend *backend = backendNamed(name, false))
                result.push_back(backend);
        return result;
    }
    std::stringstream list(env);
    std::string item;
    while (std::getline(list, item, ',')) {
        const std::string name = trimmed(item);
        if (name.empty() || name == "none")
            continue;
        if (name != "simulator" && name != "genicam") {
            warnOnce(name, "unknown camera backend");
            continue;
        }
        CameraBackend *backend = backendNamed(name, true);
        if (backend && std::find(result.begin(), result.end(), backend) == result.end())
            result.push_back(backend);
    }
    return result;
}

/*
 * Copies text into a fixed record field, truncated so that the field always
 * ends with a zero byte; the rest of the field is zeroed.
 */
void copyField(unsigned char *field, std::size_t fieldSize, const std::string &text)
{
    if (fieldSize == 0)
        return;
    std::memset(field, 0, fieldSize);
    std::memcpy(field, text.data(), std::min(text.size(), fieldSize - 1));
}

/* The text of a fixed record field, up to its first zero byte or its end. */
std::string fieldText(const unsigned char *field, std::size_t fieldSize)
{
    const void *zero = std::memchr(field, 0, fieldSize);
    const std::size_t length
        = zero ? static_cast<std::size_t>(static_cast<const unsigned char *>(zero) - field) : fieldSize;
    return std::string(reinterpret_cast<const char *>(field), length);
}

/* The serial number of a record: the GigE part for GigE devices, else the USB3 part. */
std::string recordSerial(const MV_CC_DEVICE_INFO &info)
{
    if (info.nTLayerType == MV_GIGE_DEVICE)
        return fieldText(info.SpecialInfo.stGigEInfo.chSerialNumber,
                         sizeof info.SpecialInfo.stGigEInfo.chSerialNumber);
    return fieldText(info.SpecialInfo.stUsb3VInfo.chSerialNumber,
                     sizeof info.SpecialInfo.stUsb3VInfo.chSerialNumber);
}

} // namespace mvcc

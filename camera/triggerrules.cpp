#include "triggerrules.h"

#include <QMutexLocker>

#include "MvCameraControl.h"
#include "camera.h"

namespace TriggerRules {

namespace {

/*
 * Reads one enumeration of the trigger now selected: its entry in force and
 * the entries offered. A camera without the feature gives MV_E_NOTFOUND in
 * status. Caller holds the camera's call lock.
 */
TriggerFeature readTriggerFeature(void *handle, const char *feature)
{
    TriggerFeature result;
    MVCC_ENUMENTRY_LIST list{};
    result.status = MV_CC_GetEnumEntries(handle, feature, &list);
    if (result.status != MV_OK)
        return result;
    result.current = QString::fromLatin1(list.chCurSymbolic);
    for (unsigned int i = 0; i < list.nSupportedNum; ++i)
        result.entries << QString::fromLatin1(list.chSymbolic[i]);
    return result;
}

} // namespace

/*
 * Reads a trigger: selects it (when the camera offers that selector entry)
 * and reads its mode, source and edge. The selector is shared by both
 * triggers, so the call lock is held from the selection to the last reading.
 * Owner's thread, not holding the call lock.
 */
TriggerState readTrigger(Camera &camera, const char *selector)
{
    QMutexLocker cameraLock(&camera.callMutex());
    void *handle = camera.handle();
    TriggerState state;
    const TriggerFeature selectors = readTriggerFeature(handle, "TriggerSelector");
    const int missing = selectors.status != MV_OK ? selectors.status : static_cast<int>(MV_E_NOTFOUND);
    state.mode.status = state.source.status = state.activation.status = missing;
    if (!selectors.entries.contains(QLatin1String(selector))
        || MV_CC_SetEnumValueByString(handle, "TriggerSelector", selector) != MV_OK)
        return state;
    state.selectable = true;
    state.mode = readTriggerFeature(handle, "TriggerMode");
    state.source = readTriggerFeature(handle, "TriggerSource");
    state.activation = readTriggerFeature(handle, "TriggerActivation");
    return state;
}

/* Owner's thread, not holding the call lock, which it holds for both calls. */
int writeTrigger(Camera &camera, const char *selector, const char *feature, const QString &entry)
{
    QMutexLocker cameraLock(&camera.callMutex());
    void *handle = camera.handle();
    const int selected = MV_CC_SetEnumValueByString(handle, "TriggerSelector", selector);
    if (selected != MV_OK)
        return selected;
    return MV_CC_SetEnumValueByString(handle, feature, entry.toLatin1().constData());
}

} // namespace TriggerRules

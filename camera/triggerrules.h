#ifndef TRIGGERRULES_H
#define TRIGGERRULES_H

#include <QString>
#include <QStringList>

class Camera;

/*
 * What a camera says about one of its triggers and how one is changed, free
 * so that the dialog, the window's stored settings, the command line and the
 * tests share them.
 */
namespace TriggerRules {

// Settings keys, written only when the operator changes a control.
constexpr const char *kLineTrigger = "Camera/LineTrigger";
constexpr const char *kLineTriggerSource = "Camera/LineTriggerSource";
constexpr const char *kLineTriggerActivation = "Camera/LineTriggerActivation";
constexpr const char *kFrameTrigger = "Camera/FrameTrigger";
constexpr const char *kFrameTriggerSource = "Camera/FrameTriggerSource";
constexpr const char *kFrameTriggerActivation = "Camera/FrameTriggerActivation";

// One enumeration of a trigger: the status of reading it, the entry in force
// and the entries the camera offers now.
struct TriggerFeature {
    int status = 0;
    QString current;
    QStringList entries;
    bool present() const { return status == 0 && !entries.isEmpty(); }
};

// A trigger (selector "LineStart" or "FrameStart") as the camera reports it.
// Without that selector entry the camera lacks the trigger and every feature
// reads as missing.
struct TriggerState {
    bool selectable = false;
    TriggerFeature mode;       // "TriggerMode": "On" or "Off"
    TriggerFeature source;     // "TriggerSource"
    TriggerFeature activation; // "TriggerActivation"
    bool on() const { return mode.present() && mode.current == QLatin1String("On"); }
};

TriggerState readTrigger(Camera &camera, const char *selector);

// Selects the trigger, then sets feature to entry. Returns the first failing
// status, or 0.
int writeTrigger(Camera &camera, const char *selector, const char *feature, const QString &entry);

} // namespace TriggerRules

#endif // TRIGGERRULES_H

#ifndef STOREDCAMERASETTINGS_H
#define STOREDCAMERASETTINGS_H

#include <QStringList>

// Writes the camera settings kept in "setting.ini" (exposure, gain, line rate
// control and line rate, line and frame trigger) to a camera just opened, so
// that a run starts as the last one ended rather than with the camera's
// power-on values. Only settings the file holds are written. Returns one text
// for each setting the camera refused, naming it, its value and the camera's
// error; empty when all were taken. GUI thread, before grabbing starts.
class Camera;
QStringList applyStoredCameraSettings(Camera &camera);

#endif // STOREDCAMERASETTINGS_H

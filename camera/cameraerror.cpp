#include "cameraerror.h"

#include <QCoreApplication>

#include "MvCameraControl.h"

namespace {

struct KnownError {
    unsigned int code;
    const char *name;
    const char *meaning;
};

// Meanings in the camera's terms, as an operator meets them at a feature or a device.
constexpr KnownError kKnownErrors[] = {
    {MV_E_HANDLE, "MV_E_HANDLE", QT_TRANSLATE_NOOP("CameraError", "the camera is not open")},
    {MV_E_SUPPORT, "MV_E_SUPPORT", QT_TRANSLATE_NOOP("CameraError", "the camera does not support this")},
    {MV_E_BUFOVER, "MV_E_BUFOVER", QT_TRANSLATE_NOOP("CameraError", "a buffer is too small")},
    {MV_E_CALLORDER, "MV_E_CALLORDER",
     QT_TRANSLATE_NOOP("CameraError", "the camera is not in a state that allows this")},
    {MV_E_PARAMETER, "MV_E_PARAMETER", QT_TRANSLATE_NOOP("CameraError", "a parameter is not valid")},
    {MV_E_RESOURCE, "MV_E_RESOURCE", QT_TRANSLATE_NOOP("CameraError", "out of memory or another resource")},
    {MV_E_NODATA, "MV_E_NODATA", QT_TRANSLATE_NOOP("CameraError", "no frame has arrived")},
    {MV_E_ACCESS, "MV_E_ACCESS", QT_TRANSLATE_NOOP("CameraError", "another program has the camera open")},
    {MV_E_NODEVICE, "MV_E_NODEVICE",
     QT_TRANSLATE_NOOP("CameraError", "the camera is gone (unplugged or not answering)")},
    {MV_E_NOTFOUND, "MV_E_NOTFOUND", QT_TRANSLATE_NOOP("CameraError", "the camera has no such setting")},
    {MV_E_TYPE, "MV_E_TYPE", QT_TRANSLATE_NOOP("CameraError", "the camera's setting has another type")},
    {MV_E_RANGE, "MV_E_RANGE", QT_TRANSLATE_NOOP("CameraError", "the value is outside the camera's range")},
    {MV_E_ACCESS_RW, "MV_E_ACCESS_RW",
     QT_TRANSLATE_NOOP("CameraError", "the camera does not allow changing this setting now")},
    {MV_E_WRITEFILE, "MV_E_WRITEFILE", QT_TRANSLATE_NOOP("CameraError", "a file could not be written")},
    {MV_E_CONVERT, "MV_E_CONVERT", QT_TRANSLATE_NOOP("CameraError", "the pixels could not be converted")},
    {MV_E_UNKNOWN, "MV_E_UNKNOWN", QT_TRANSLATE_NOOP("CameraError", "an unknown camera error")},
};

} // namespace

/* Pure apart from the translation lookup; any thread. */
QString cameraErrorText(int status)
{
    const unsigned int code = static_cast<unsigned int>(status);
    const QString number
        = QStringLiteral("0x%1").arg(QString::number(code, 16).toUpper(), 8, QLatin1Char('0'));
    for (const KnownError &error : kKnownErrors) {
        if (error.code == code)
            return QStringLiteral("%1 (%2): %3")
                .arg(QLatin1String(error.name), number,
                     QCoreApplication::translate("CameraError", error.meaning));
    }
    return QCoreApplication::translate("CameraError", "camera error %1").arg(number);
}

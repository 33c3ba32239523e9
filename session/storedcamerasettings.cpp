#include "storedcamerasettings.h"

#include <QCoreApplication>

#include <cmath>

#include "MvCameraControl.h"
#include "appsettings.h"
#include "camera.h"
#include "cameraerror.h"
#include "triggerrules.h"

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("StoredCameraSettings", text);
}

// Collects what the camera refuses, one text per setting.
class Applier
{
public:
    explicit Applier(Camera &camera) : m_camera(camera) { }

    void floatSetting(const char *key, const char *feature, const QString &what, const QString &unit)
    {
        if (!AppSettings::contains(key))
            return;
        bool ok = false;
        const double value = AppSettings::value(key, QVariant()).toDouble(&ok);
        if (!ok || !std::isfinite(value)) {
            notANumber(key, what);
            return;
        }
        const int status = qstrcmp(feature, "ExposureTime") == 0 ? m_camera.setExposureUs(value)
                                                                 : m_camera.setFloat(feature, value);
        check(status, what, QString::number(value) + unit);
    }

    void lineRate()
    {
        if (AppSettings::contains(AppSettings::kLineRateEnable)) {
            const bool on = AppSettings::boolValue(AppSettings::kLineRateEnable, false);
            check(m_camera.setBool("AcquisitionLineRateEnable", on), tr("line rate control"),
                  on ? tr("on") : tr("off"));
        }
        if (!AppSettings::contains(AppSettings::kLineRate))
            return;
        bool ok = false;
        const qint64 rate = AppSettings::value(AppSettings::kLineRate, QVariant()).toLongLong(&ok);
        if (!ok) {
            notANumber(AppSettings::kLineRate, tr("line rate"));
            return;
        }
        check(m_camera.setInt("AcquisitionLineRate", rate), tr("line rate"), tr("%1 lines/s").arg(rate));
    }

    // Source and edge go first: switching a trigger on with the last run's
    // source in place starts no frame from the wrong input.
    void trigger(const char *selector, const char *modeKey, const char *sourceKey, const char *activationKey,
                 const QString &name)
    {
        const struct {
            const char *key, *feature;
            QString what;
        } entries[] = {{sourceKey, "TriggerSource", tr("%1 source").arg(name)},
                       {activationKey, "TriggerActivation", tr("%1 edge").arg(name)}};
        for (const auto &entry : entries) {
            if (AppSettings::contains(entry.key)) {
                const QString value = AppSettings::stringValue(entry.key, QString());
                check(TriggerRules::writeTrigger(m_camera, selector, entry.feature, value), entry.what,
                      value);
            }
        }
        if (AppSettings::contains(modeKey)) {
            const QString mode
                = AppSettings::boolValue(modeKey, false) ? QStringLiteral("On") : QStringLiteral("Off");
            check(TriggerRules::writeTrigger(m_camera, selector, "TriggerMode", mode), name, mode);
        }
    }

    QStringList refused;

private:
    void check(int status, const QString &what, const QString &value)
    {
        if (status != MV_OK)
            refused << tr("%1 %2 (%3)").arg(what, value, cameraErrorText(status));
    }
    void notANumber(const char *key, const QString &what)
    {
        refused << tr("%1 \"%2\" (not a number)").arg(what, AppSettings::stringValue(key, QString()));
    }

    Camera &m_camera;
};

} // namespace

QStringList applyStoredCameraSettings(Camera &camera)
{
    using namespace TriggerRules;
    Applier applier(camera);
    // The exposure first: a long one limits the line rate the camera can take.
    applier.floatSetting(AppSettings::kExposure, "ExposureTime", tr("exposure time"), QStringLiteral(" µs"));
    applier.floatSetting(AppSettings::kGain, "Gain", tr("gain"), QStringLiteral(" dB"));
    applier.lineRate();
    applier.trigger("LineStart", kLineTrigger, kLineTriggerSource, kLineTriggerActivation,
                    tr("line trigger"));
    applier.trigger("FrameStart", kFrameTrigger, kFrameTriggerSource, kFrameTriggerActivation,
                    tr("frame trigger"));
    return applier.refused;
}

#include "appsettings.h"

#include <QSettings>

namespace AppSettings {

QVariant value(const char *key, const QVariant &defaultValue)
{
    QSettings settings(fileName(), QSettings::IniFormat);
    return settings.value(QLatin1String(key), defaultValue);
}

int intValue(const char *key, int defaultValue)
{
    // A non-numeric text reads as 0, the usual QVariant conversion.
    return value(key, defaultValue).toInt();
}

bool boolValue(const char *key, bool defaultValue)
{
    return value(key, defaultValue).toBool();
}

QString stringValue(const char *key, const QString &defaultValue)
{
    return value(key, defaultValue).toString();
}

bool contains(const char *key)
{
    QSettings settings(fileName(), QSettings::IniFormat);
    return settings.contains(QLatin1String(key));
}

void setValue(const char *key, const QVariant &v)
{
    QSettings settings(fileName(), QSettings::IniFormat);
    settings.setValue(QLatin1String(key), v);
}

void setValueSynced(const char *key, const QVariant &v)
{
    QSettings settings(fileName(), QSettings::IniFormat);
    settings.setValue(QLatin1String(key), v);
    settings.sync();
}

} // namespace AppSettings

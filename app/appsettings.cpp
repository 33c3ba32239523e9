#include "appsettings.h"

#include <QDebug>
#include <QSettings>

namespace AppSettings {

namespace {

// Flushes settings and says in the log when the file could not be written
// (read-only folder, full disk); the program goes on with its values in memory.
void flush(QSettings &settings)
{
    settings.sync();
    if (settings.status() != QSettings::NoError)
        qWarning() << "Settings: cannot write" << settings.fileName();
}

} // namespace

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
    flush(settings);
}

void setValueSynced(const char *key, const QVariant &v)
{
    QSettings settings(fileName(), QSettings::IniFormat);
    settings.setValue(QLatin1String(key), v);
    flush(settings);
}

void setValues(const QVector<QPair<const char *, QVariant>> &values)
{
    QSettings settings(fileName(), QSettings::IniFormat);
    for (const auto &keyValue : values)
        settings.setValue(QLatin1String(keyValue.first), keyValue.second);
    flush(settings);
}

} // namespace AppSettings

#include "appsettings.h"

#include <QDebug>
#include <QSettings>

#include <climits>

/*
 * Every helper opens its own QSettings on the relative "setting.ini", so the
 * file is the one in the working directory at the moment of the call, and
 * drops it before returning. All of them belong to the GUI thread: the grab
 * and stitch threads never touch the settings.
 */
namespace AppSettings {

namespace {

// Puts the changes on disk now and says in the log when that failed
// (read-only folder, full disk); the program goes on with its values in memory.
void flush(QSettings &settings)
{
    settings.sync();
    if (settings.status() != QSettings::NoError)
        qWarning() << "Settings: cannot write" << settings.fileName();
}

} // namespace

/*
 * The stored value of key ("Group/Name"), or defaultValue when the file or
 * the key is missing. GUI thread.
 */
QVariant value(const char *key, const QVariant &defaultValue)
{
    QSettings settings(fileName(), QSettings::IniFormat);
    return settings.value(QLatin1String(key), defaultValue);
}

/*
 * The stored value of key as an int, defaultValue when it is missing; a
 * number beyond the range of int reads as the nearest end. A
 * stored text that is not a number reads as 0 (the usual QVariant
 * conversion); callers decide whether 0 is acceptable. GUI thread.
 */
int intValue(const char *key, int defaultValue)
{
    // Read wide and clamped: a number beyond int must not wrap into another one.
    const qlonglong wide = value(key, defaultValue).toLongLong();
    return int(qBound<qlonglong>(INT_MIN, wide, INT_MAX));
}

/* The stored value of key as a bool ("true"/"false"), defaultValue when missing. GUI thread. */
bool boolValue(const char *key, bool defaultValue)
{
    return value(key, defaultValue).toBool();
}

/* The stored value of key as text, defaultValue when missing. GUI thread. */
QString stringValue(const char *key, const QString &defaultValue)
{
    return value(key, defaultValue).toString();
}

/* Whether the file holds key at all (a stored empty value counts). GUI thread. */
bool contains(const char *key)
{
    QSettings settings(fileName(), QSettings::IniFormat);
    return settings.contains(QLatin1String(key));
}

/*
 * Stores v under key and puts it on disk before returning, creating the file
 * when needed. A failed write is logged, not reported to the user. GUI thread.
 */
void setValue(const char *key, const QVariant &v)
{
    setValues({{key, v}});
}

/*
 * As setValue; kept as its own name for the writers that must be sure a later
 * reader sees the value (the stitch direction). GUI thread.
 */
void setValueSynced(const char *key, const QVariant &v)
{
    setValues({{key, v}});
}

/*
 * Stores several keys, in the given order, in one pass over the file, and
 * puts them on disk before returning. GUI thread.
 */
void setValues(const QVector<QPair<const char *, QVariant>> &values)
{
    QSettings settings(fileName(), QSettings::IniFormat);
    for (const auto &keyValue : values)
        settings.setValue(QLatin1String(keyValue.first), keyValue.second);
    flush(settings);
}

} // namespace AppSettings

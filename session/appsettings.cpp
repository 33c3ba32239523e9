#include "appsettings.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <climits>
#include <memory>

/*
 * Every helper opens its own QSettings on the relative "setting.ini", so the
 * file is the one in the working directory at the moment of the call, and
 * drops it before returning. All of them belong to the GUI thread: the grab
 * and stitch threads never touch the settings.
 */
namespace AppSettings {

namespace {

QString &fileOverride()
{
    static QString path;
    return path;
}

bool &readOnly()
{
    static bool on = false;
    return on;
}

// The problem last logged; cleared by an access without one, so a problem
// that comes back is said again. GUI thread only.
QString &lastReported()
{
    static QString problem;
    return problem;
}

// Says a problem with the file once, not at every access.
void reportOnce(const QString &problem)
{
    if (problem == lastReported())
        return;
    lastReported() = problem;
    qWarning().noquote() << "Settings:" << problem;
}

/*
 * Opens the settings file for one access, or returns null when it must not be
 * touched (the defaults apply then, and writes are dropped). A file that
 * cannot be parsed is renamed to "<name>.bad" first, so a hand-edited file
 * with a typo is not silently replaced by defaults.
 */
std::unique_ptr<QSettings> openSettings()
{
    QString problem;
    const QString path = settingsFilePath(fileName(), &problem);
    if (path.isEmpty()) {
        reportOnce(problem);
        return nullptr;
    }
    auto settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
    bool unparsable = settings->status() == QSettings::FormatError;
    if (!unparsable) {
        QFile file(path);
        unparsable = file.open(QIODevice::ReadOnly) && unparsableSettingsText(file.readAll());
    }
    if (!unparsable) {
        lastReported().clear();
        return settings;
    }

    settings.reset();
    if (readOnly()) {
        reportOnce(QStringLiteral("%1 cannot be parsed; defaults apply").arg(path));
        return nullptr;
    }
    const QString aside = path + QStringLiteral(".bad");
    QFile::remove(aside);
    if (!QFile::rename(path, aside)) {
        reportOnce(
            QStringLiteral("%1 cannot be parsed and cannot be kept aside as %2; it is neither read nor "
                           "written, defaults apply")
                .arg(path, aside));
        return nullptr;
    }
    reportOnce(QStringLiteral("%1 cannot be parsed; kept aside as %2, defaults apply").arg(path, aside));
    return std::make_unique<QSettings>(path, QSettings::IniFormat);
}

// Puts the changes on disk now and says in the log when that failed
// (read-only folder, full disk); the program goes on with its values in memory.
void flush(QSettings &settings)
{
    settings.sync();
    // Only AccessError is about the write: Qt 5 also says FormatError after
    // writing a file that began with a byte-order mark, which it read well.
    if (settings.status() == QSettings::AccessError)
        qWarning() << "Settings: cannot write" << settings.fileName();
}

} // namespace

/*
 * Follows symbolic links from name (at most 32, as a loop never ends) to the
 * file they lead to, which need not exist yet. Returns that path, or an empty
 * one with the reason in *problem when it exists and is no regular file, or
 * the links do not end. Touches the file system only to look; any thread.
 */
QString settingsFilePath(const QString &name, QString *problem)
{
    QString path = name;
    for (int hops = 0; QFileInfo(path).isSymLink(); ++hops) {
        if (hops == 32) {
            *problem
                = QStringLiteral("%1 is a loop of symbolic links; settings are neither read nor written, "
                                 "defaults apply")
                      .arg(name);
            return QString();
        }
        path = QFileInfo(path).symLinkTarget();
    }
    const QFileInfo target(path);
    if (!target.exists() || target.isFile())
        return path;
    const QString kind = target.isDir() ? QStringLiteral("a folder")
                                        : QStringLiteral("not a regular file (a pipe, socket or device)");
    *problem = (path == name ? QStringLiteral("%1 is %2").arg(name, kind)
                             : QStringLiteral("%1 leads to %2, which is %3").arg(name, path, kind))
        + QStringLiteral("; settings are neither read nor written, defaults apply");
    return QString();
}

/* GUI thread. */
QString settingsFolder()
{
    QString problem;
    const QString path = settingsFilePath(fileName(), &problem);
    return path.isEmpty() ? QDir::currentPath() : QFileInfo(path).absolutePath();
}

/*
 * Whether bytes cannot be the text of a settings file: they hold a NUL (UTF-16
 * text, binary data), or, after a UTF-8 byte-order mark, a line that is neither blank, a comment (";" or "#"),
 * a [section] nor a key=value pair (nor the continuation of a value ending in
 * a backslash). QSettings reads such lines as keys of garbage, or skips them,
 * and would drop them at the next write. Pure; any thread.
 */
bool unparsableSettingsText(const QByteArray &bytes)
{
    if (bytes.contains('\0'))
        return true;
    // Some editors start UTF-8 files with a byte-order mark; QSettings skips it.
    static const QByteArray byteOrderMark("\xef\xbb\xbf");
    const QByteArray text = bytes.startsWith(byteOrderMark) ? bytes.mid(byteOrderMark.size()) : bytes;
    bool continued = false;
    for (const QByteArray &rawLine : text.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        const bool continuation = continued;
        continued = line.endsWith('\\');
        if (continuation || line.isEmpty() || line.startsWith(';') || line.startsWith('#'))
            continue;
        if (line.startsWith('[') ? !line.endsWith(']') : !line.contains('='))
            return true;
    }
    return false;
}

/*
 * The stored value of key ("Group/Name"), or defaultValue when the file or
 * the key is missing, or the file cannot be used. GUI thread.
 */
QVariant value(const char *key, const QVariant &defaultValue)
{
    const std::unique_ptr<QSettings> settings = openSettings();
    return settings ? settings->value(QLatin1String(key), defaultValue) : defaultValue;
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

QString fileName()
{
    return fileOverride().isEmpty() ? QStringLiteral("setting.ini") : fileOverride();
}

void readOnlyFrom(const QString &path)
{
    fileOverride() = path;
    readOnly() = true;
}

/* The stored value of key as text, defaultValue when missing. GUI thread. */
QString stringValue(const char *key, const QString &defaultValue)
{
    return value(key, defaultValue).toString();
}

/* Whether the file holds key at all (a stored empty value counts). GUI thread. */
bool contains(const char *key)
{
    const std::unique_ptr<QSettings> settings = openSettings();
    return settings && settings->contains(QLatin1String(key));
}

/*
 * Stores v under key and puts it on disk before returning, creating the file
 * when needed. A failed write is logged, not reported to the user; a file
 * that must not be touched is not written. GUI thread.
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
    if (readOnly())
        return;
    const std::unique_ptr<QSettings> settings = openSettings();
    if (!settings)
        return;
    for (const auto &keyValue : values)
        settings->setValue(QLatin1String(keyValue.first), keyValue.second);
    flush(*settings);
}

} // namespace AppSettings

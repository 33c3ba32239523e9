#include "buildinfo.h"

#include <QLocale>

// The core is a static library: nothing refers to the generated resource
// object by name, so the linker would drop it and ":/res/..." would be empty.
// Naming its init function here keeps it linked (this file is always linked,
// the about box needs the build stamp) and registers the tree before main()
// runs; a second registration by the resource object itself is ignored by Qt.
// The macros must be used outside any namespace.
static void registerResources()
{
    Q_INIT_RESOURCE(res);
}

static void unregisterResources()
{
    Q_CLEANUP_RESOURCE(res);
}

namespace {
struct ResourceRegistration {
    ResourceRegistration() { registerResources(); }
    ~ResourceRegistration() { unregisterResources(); }
};
const ResourceRegistration g_resources;
} // namespace

namespace BuildInfo {

/*
 * Parses a compiler date text such as "Apr 28 2026" or "Apr  5 2026".
 * The compiler pads a one-digit day with a blank; turning "  " into " 0"
 * gives the two-digit day the "dd" format needs. Month names are English
 * whatever the user's locale is. Returns an invalid QDate when the text does
 * not parse. Any thread.
 */
QDate parseBuildDate(const QString &dateText)
{
    QString padded = dateText;
    padded.replace(QLatin1String("  "), QLatin1String(" 0"));
    return QLocale(QLocale::English).toDate(padded, QStringLiteral("MMM dd yyyy"));
}

/*
 * Parses a compiler time text "hh:mm:ss". Returns an invalid QTime when the
 * text does not parse. Any thread.
 */
QTime parseBuildTime(const QString &timeText)
{
    return QTime::fromString(timeText, QStringLiteral("hh:mm:ss"));
}

/*
 * The about box's build line: "Build:" directly followed by the date as
 * yyyyMMdd and the time as hhmmss, e.g. "Build:20260428111839". Any thread.
 */
QString buildLine(const QDate &date, const QTime &time)
{
    return QStringLiteral("Build:") + date.toString(QStringLiteral("yyyyMMdd"))
        + time.toString(QStringLiteral("hhmmss"));
}

namespace {

// Both are set during static initialisation, before main() runs, and only
// read afterwards.
const QDate g_buildDate = parseBuildDate(QStringLiteral(__DATE__));
const QTime g_buildTime = parseBuildTime(QStringLiteral(__TIME__));

} // namespace

/* The date this file was compiled (the build stamp). Any thread. */
QDate buildDate()
{
    return g_buildDate;
}

/* The time this file was compiled (the build stamp). Any thread. */
QTime buildTime()
{
    return g_buildTime;
}

} // namespace BuildInfo

#ifndef BUILDINFO_H
#define BUILDINFO_H

#include <QDate>
#include <QString>
#include <QTime>

/*
 * The build stamp shown by the about box. The two values are taken from the
 * compiler's __DATE__ and __TIME__ before main() runs; the parsing lives in
 * free functions so that any date text can be checked.
 */
namespace BuildInfo {

QDate parseBuildDate(const QString &dateText);
QTime parseBuildTime(const QString &timeText);
QString buildLine(const QDate &date, const QTime &time);

QDate buildDate();
QTime buildTime();

} // namespace BuildInfo

#endif // BUILDINFO_H

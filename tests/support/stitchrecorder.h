#ifndef STITCHRECORDER_H
#define STITCHRECORDER_H

#include <QDir>
#include <QStringList>

#include "stitchworker.h"

// What a stitch worker reported, in order ("progress 1/2", "finished <path>|...",
// "failed <text>"), also across a fork (serialized(), parse()). Connected
// directly: read it on the signals' thread or once the worker is idle.
struct StitchRecorder {
    explicit StitchRecorder(StitchWorker &worker)
    {
        QObject::connect(&worker, &StitchWorker::progress, [this](int current, int total) {
            events << QStringLiteral("progress %1/%2").arg(current).arg(total);
        });
        QObject::connect(&worker, &StitchWorker::finished, [this](const QStringList &files) {
            events << QStringLiteral("finished ") + files.join(QLatin1Char('|'));
        });
        QObject::connect(&worker, &StitchWorker::failed,
                         [this](const QString &error) { events << QStringLiteral("failed ") + error; });
    }
    // The files of the last finished(), none if the last report was another.
    QStringList files() const
    {
        const QString last = events.value(events.size() - 1);
        return last.startsWith(QLatin1String("finished ")) ? last.mid(9).split(QLatin1Char('|'))
                                                           : QStringList();
    }
    QByteArray serialized() const { return events.join(QLatin1Char('\x1e')).toUtf8(); }
    static QStringList parse(const QByteArray &text)
    {
        return QString::fromUtf8(text).split(QLatin1Char('\x1e'));
    }

    QStringList events;
};

// Every entry of a folder, hidden partial files included, by name.
inline QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

#endif // STITCHRECORDER_H

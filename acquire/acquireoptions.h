#ifndef ACQUIREOPTIONS_H
#define ACQUIREOPTIONS_H

#include <QString>
#include <QStringList>

#include <optional>

#include "imageformat.h"

// What one run of corvista-acquire is asked to do. Values not given on the
// command line are unset (negative, empty) and come from the settings file.
struct AcquireOptions {
    bool list = false;
    bool json = false;
    QString camera;       // serial number, or index in the list
    QString settingsFile; // empty: setting.ini in the working directory
    QString outDir;
    std::optional<ImageFormat> format;
    int count = -1;     // frames per batch
    int direction = -1; // 0 Left, 1 Right, 2 Bottom, 3 Top
    enum class Limit { None, Frames, Seconds, Batches } limit = Limit::None;
    qint64 limitCount = 0; // frames or batches
    double seconds = 0;
    qint64 lineRate = -1;
    double exposureUs = -1;
    double gainDb = -1;
    // A trigger switched on, from --line-trigger or --frame-trigger SOURCE[:EDGE];
    // an empty source leaves the camera's (or the settings file's) trigger alone.
    struct Trigger {
        QString source;
        QString edge;
    };
    Trigger lineTrigger;
    Trigger frameTrigger;
};

// Reads the command line (arguments[0] is the program). False with the reason,
// naming the option, in *error when the line cannot be used. Any thread.
bool parseAcquireOptions(const QStringList &arguments, AcquireOptions &options, QString *error);

// The help text of the command line.
QString acquireUsage();

#endif // ACQUIREOPTIONS_H

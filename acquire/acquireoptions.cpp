#include "acquireoptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cmath>

namespace {

struct Definitions {
    QCommandLineOption list{QStringLiteral("list"), QStringLiteral("List the cameras found, one a line.")};
    QCommandLineOption camera{QStringLiteral("camera"), QStringLiteral("The camera: serial number or index."),
                              QStringLiteral("SERIAL|INDEX")};
    QCommandLineOption settings{QStringLiteral("settings"),
                                QStringLiteral("Defaults from FILE instead of setting.ini."),
                                QStringLiteral("FILE")};
    QCommandLineOption out{QStringLiteral("out"), QStringLiteral("Folder for the stitched files."),
                           QStringLiteral("DIR")};
    QCommandLineOption format{QStringLiteral("format"), QStringLiteral("File format."),
                              QStringLiteral("JPG|PNG|TIFF|BMP")};
    QCommandLineOption count{QStringLiteral("count"), QStringLiteral("Frames per batch."),
                             QStringLiteral("N")};
    QCommandLineOption direction{QStringLiteral("direction"), QStringLiteral("Stitch direction."),
                                 QStringLiteral("left|right|top|bottom")};
    QCommandLineOption frames{QStringLiteral("frames"), QStringLiteral("Stop after N frames."),
                              QStringLiteral("N")};
    QCommandLineOption seconds{QStringLiteral("seconds"), QStringLiteral("Stop after S seconds."),
                               QStringLiteral("S")};
    QCommandLineOption batches{QStringLiteral("batches"), QStringLiteral("Stop after N batches."),
                               QStringLiteral("N")};
    QCommandLineOption lineRate{QStringLiteral("line-rate"), QStringLiteral("Camera line rate."),
                                QStringLiteral("HZ")};
    QCommandLineOption exposure{QStringLiteral("exposure"), QStringLiteral("Exposure time."),
                                QStringLiteral("US")};
    QCommandLineOption gain{QStringLiteral("gain"), QStringLiteral("Gain."), QStringLiteral("DB")};
    QCommandLineOption lineTrigger{QStringLiteral("line-trigger"),
                                   QStringLiteral("Each line starts on SOURCE (at EDGE)."),
                                   QStringLiteral("SOURCE[:EDGE]")};
    QCommandLineOption frameTrigger{QStringLiteral("frame-trigger"),
                                    QStringLiteral("Each frame starts on SOURCE (at EDGE)."),
                                    QStringLiteral("SOURCE[:EDGE]")};
    QCommandLineOption json{QStringLiteral("json"), QStringLiteral("A JSON summary on stdout.")};

    void addTo(QCommandLineParser &parser) const
    {
        parser.addOptions({list, camera, settings, out, format, count, direction, frames, seconds, batches,
                           lineRate, exposure, gain, lineTrigger, frameTrigger, json});
        parser.addHelpOption();
    }
};

// A positive whole number; false when `text` is none.
bool positiveInteger(const QString &text, qint64 &value)
{
    bool ok = false;
    value = text.toLongLong(&ok);
    return ok && value > 0;
}

bool nonNegativeNumber(const QString &text, double &value)
{
    bool ok = false;
    value = text.toDouble(&ok);
    return ok && std::isfinite(value) && value >= 0;
}

QString badValue(const QString &option, const QString &value, const QString &wanted)
{
    return QStringLiteral("--%1: \"%2\" is not %3").arg(option, value, wanted);
}

} // namespace

QString acquireUsage()
{
    QCommandLineParser parser;
    Definitions definitions;
    definitions.addTo(parser);
    parser.setApplicationDescription(
        QStringLiteral("Grabs from one camera and stitches its frames into files, without a window."));
    return parser.helpText();
}

/*
 * Every value is checked here, before a camera is touched, so that a typo
 * costs no run: a number that is no number, a format or direction not known,
 * or two limits at once are refused with the option's name.
 */
bool parseAcquireOptions(const QStringList &arguments, AcquireOptions &options, QString *error)
{
    QCommandLineParser parser;
    Definitions d;
    d.addTo(parser);
    const auto fail = [error](const QString &text) {
        if (error)
            *error = text;
        return false;
    };
    if (!parser.parse(arguments))
        return fail(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));

    options = AcquireOptions();
    options.list = parser.isSet(d.list);
    options.json = parser.isSet(d.json);
    options.camera = parser.value(d.camera);
    options.settingsFile = parser.value(d.settings);
    options.outDir = parser.value(d.out);
    if (parser.isSet(d.out) && options.outDir.isEmpty())
        return fail(QStringLiteral("--out: an empty folder name"));

    if (parser.isSet(d.format)) {
        options.format = imageFormatNamed(parser.value(d.format));
        if (!options.format)
            return fail(badValue(QStringLiteral("format"), parser.value(d.format),
                                 QStringLiteral("JPG, PNG, TIFF or BMP")));
    }
    qint64 number = 0;
    if (parser.isSet(d.count)) {
        if (!positiveInteger(parser.value(d.count), number) || number > 1000000)
            return fail(badValue(QStringLiteral("count"), parser.value(d.count),
                                 QStringLiteral("a number of frames from 1")));
        options.count = int(number);
    }
    if (parser.isSet(d.direction)) {
        const QStringList names{QStringLiteral("left"), QStringLiteral("right"), QStringLiteral("bottom"),
                                QStringLiteral("top")};
        options.direction = int(names.indexOf(parser.value(d.direction).toLower()));
        if (options.direction < 0)
            return fail(badValue(QStringLiteral("direction"), parser.value(d.direction),
                                 QStringLiteral("left, right, top or bottom")));
    }

    const int limits
        = int(parser.isSet(d.frames)) + int(parser.isSet(d.seconds)) + int(parser.isSet(d.batches));
    if (limits > 1)
        return fail(QStringLiteral("--frames, --seconds and --batches: give at most one"));
    if (parser.isSet(d.frames)) {
        if (!positiveInteger(parser.value(d.frames), options.limitCount))
            return fail(badValue(QStringLiteral("frames"), parser.value(d.frames),
                                 QStringLiteral("a number of frames from 1")));
        options.limit = AcquireOptions::Limit::Frames;
    } else if (parser.isSet(d.batches)) {
        if (!positiveInteger(parser.value(d.batches), options.limitCount))
            return fail(badValue(QStringLiteral("batches"), parser.value(d.batches),
                                 QStringLiteral("a number of batches from 1")));
        options.limit = AcquireOptions::Limit::Batches;
    } else if (parser.isSet(d.seconds)) {
        if (!nonNegativeNumber(parser.value(d.seconds), options.seconds) || options.seconds <= 0)
            return fail(badValue(QStringLiteral("seconds"), parser.value(d.seconds),
                                 QStringLiteral("a positive number of seconds")));
        options.limit = AcquireOptions::Limit::Seconds;
    }

    if (parser.isSet(d.lineRate) && !positiveInteger(parser.value(d.lineRate), options.lineRate))
        return fail(badValue(QStringLiteral("line-rate"), parser.value(d.lineRate),
                             QStringLiteral("a rate in Hz from 1")));
    if (parser.isSet(d.exposure)
        && (!nonNegativeNumber(parser.value(d.exposure), options.exposureUs) || options.exposureUs <= 0))
        return fail(badValue(QStringLiteral("exposure"), parser.value(d.exposure),
                             QStringLiteral("a time in microseconds")));
    if (parser.isSet(d.gain) && !nonNegativeNumber(parser.value(d.gain), options.gainDb))
        return fail(
            badValue(QStringLiteral("gain"), parser.value(d.gain), QStringLiteral("a gain in dB from 0")));
    const struct {
        const QCommandLineOption &option;
        AcquireOptions::Trigger &trigger;
    } triggers[] = {{d.lineTrigger, options.lineTrigger}, {d.frameTrigger, options.frameTrigger}};
    for (const auto &t : triggers) {
        if (!parser.isSet(t.option))
            continue;
        const QStringList parts = parser.value(t.option).split(QLatin1Char(':'));
        if (parts.size() > 2 || parts.first().isEmpty() || (parts.size() == 2 && parts.last().isEmpty()))
            return fail(badValue(t.option.names().first(), parser.value(t.option),
                                 QStringLiteral("SOURCE or SOURCE:EDGE")));
        t.trigger.source = parts.first();
        t.trigger.edge = parts.size() == 2 ? parts.last() : QString();
    }
    return true;
}

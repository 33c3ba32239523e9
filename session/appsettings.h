#ifndef APPSETTINGS_H
#define APPSETTINGS_H

#include <QByteArray>
#include <QPair>
#include <QString>
#include <QVariant>
#include <QVector>

/*
 * The one place where the keys of "setting.ini" and their defaults live.
 *
 * Every access opens its own short-lived QSettings on the relative path, so the
 * file follows the working directory at the moment of the access, and every
 * write is on disk before the helper returns. A symbolic link is followed; a
 * path that is no regular file is neither read nor written, and a file that
 * cannot be parsed is kept aside as "setting.ini.bad" before defaults apply.
 */
namespace AppSettings {

// "setting.ini", or the file given to readOnlyFrom().
QString fileName();
// Reads `path` instead of "setting.ini" from now on and never writes: no key is
// stored and an unparsable file stays where it is (defaults apply). For a
// process that takes its defaults from the window's file and must not change it.
void readOnlyFrom(const QString &path);

// Keys.
constexpr const char *kGvRotationAngle = "UI/GvRotationAngle";
constexpr const char *kStitchDirection = "UI/StitchDirection";
constexpr const char *kShowLiveView = "UI/ShowLiveView";
constexpr const char *kSaveDir = "File/SaveDir";
constexpr const char *kFormat = "File/Format";
constexpr const char *kJpgQuality = "File/JpgQuality";
constexpr const char *kPngQuality = "File/PngQuality";
constexpr const char *kPartialStitch = "File/PartialStitch";
constexpr const char *kSaveStitchImage = "File/SaveStitchImage";
constexpr const char *kMaxStitchCount = "Stitch/MaxStitchCount";
constexpr const char *kKeepCameraPixels = "Stitch/KeepCameraPixels";
constexpr const char *kLineRateEnable = "Camera/LineRateEnable";
constexpr const char *kLineRate = "Camera/LineRate";
constexpr const char *kExposure = "Camera/Exposure";
constexpr const char *kGain = "Camera/Gain";
constexpr const char *kFlatFieldLines = "FlatField/CaptureLines";

// Defaults.
constexpr int kDefaultGvRotationAngle = 0;
constexpr int kDefaultStitchDirection = 1;
constexpr bool kDefaultShowLiveView = false;
inline const QString kDefaultSaveDir = QStringLiteral(".");
inline const QString kDefaultFormatWindow = QStringLiteral("JPG");
constexpr int kDefaultJpgQuality = 95;
constexpr int kDefaultPngQuality = 8;
constexpr bool kDefaultPartialStitch = true;
constexpr bool kDefaultSaveStitchImage = true;
constexpr int kDefaultMaxStitchCount = 30;
// Off: every file is 24-bit RGB, as files always were.
constexpr bool kDefaultKeepCameraPixels = false;
constexpr bool kDefaultLineRateEnable = false;
constexpr int kDefaultLineRate = 1000;
// Lines averaged into a flat-field reference; fewer would leave the sensor's
// noise in it.
constexpr int kDefaultFlatFieldLines = 1024;
constexpr int kMinimumFlatFieldLines = 64;

// Where the settings file named `name` really is: `name` itself, or the file
// its symbolic links lead to. Empty, with the reason in *problem, when that is
// not a regular file (a folder, a named pipe, a device): reading it could hang
// and writing it could replace what it is.
QString settingsFilePath(const QString &name, QString *problem);
// Whether a settings file's bytes cannot be settings text: NUL bytes (UTF-16,
// binary data) or a line that is no comment, section or key=value pair.
bool unparsableSettingsText(const QByteArray &bytes);
// The folder the settings file is in (after its links), where files kept
// with the settings go; the working directory when it cannot be told.
QString settingsFolder();

QVariant value(const char *key, const QVariant &defaultValue);
int intValue(const char *key, int defaultValue);
bool boolValue(const char *key, bool defaultValue);
QString stringValue(const char *key, const QString &defaultValue);
bool contains(const char *key);

void setValue(const char *key, const QVariant &value);
// Writes and flushes at once; used where a later reader must see the value
// even if the process dies right after.
void setValueSynced(const char *key, const QVariant &value);
// Writes several keys in one pass over the file, in the given order.
void setValues(const QVector<QPair<const char *, QVariant>> &values);

} // namespace AppSettings

#endif // APPSETTINGS_H

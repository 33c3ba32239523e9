#ifndef SETTINGDIALOG_H
#define SETTINGDIALOG_H

#include <QDialog>
#include <QString>

#include "MvCameraControl.h"

QT_BEGIN_NAMESPACE
namespace Ui {
class settingdialog;
}
class QRadioButton;
class QSlider;
class QTimer;
QT_END_NAMESPACE

class Camera;
class FieldEntry;
class FlatFieldCorrector;
class TriggerControls;
struct SessionOptions;

/*
 * The rules behind the settings dialog, free so that tests call them directly.
 */
namespace SettingRules {

// Output format names as the program stores them.
inline const QString kFormatBmp = QStringLiteral("BMP");
inline const QString kFormatJpg = QStringLiteral("JPG");
inline const QString kFormatPng = QStringLiteral("PNG");
inline const QString kFormatTif = QStringLiteral("TIF");

QString canonicalFormatName(const QString &storedName);

// How the quality controls behave for one output format.
struct QualityRange {
    bool adjustable = false; // BMP and TIF have no quality to choose
    int minimum = 0;
    int maximum = 0;
};
QualityRange qualityRangeFor(const QString &format);

int truncateToInt(double value);

// A camera's float value as text: the shortest decimal that reads back as the
// same float, so 12.5 stays 12.5 and 3.7 does not become 3.70000005.
QString cameraValueText(float value);
// The whole numbers a slider can offer inside a camera's float range.
struct SliderRange {
    int minimum = 0;
    int maximum = 0;
};
SliderRange sliderRangeWithin(float minimum, float maximum);
// A typed camera value: a plain decimal number, digits with at most one point
// and an optional minus, blanks around it allowed. An exponent or any other
// sign is refused rather than read as some other number.
bool parseCameraValue(const QString &text, double *value);
// A typed whole number: decimal digits with a sign, blanks around allowed.
bool parseWholeNumber(const QString &text, qint64 *value);

// Limits the program puts on typed values, whatever a camera allows.
constexpr qint64 kMinFrameCount = 1;
constexpr qint64 kMaxFrameCount = 1000000;
constexpr qint64 kMinLineRate = 10;
constexpr qint64 kMaxLineRate = 10000000;

struct WholeRange {
    qint64 minimum = 0;
    qint64 maximum = 0;
    bool contains(qint64 value) const { return value >= minimum && value <= maximum; }
};
// The line rates an entry may ask for: the camera's range, where it gives one,
// within the program's limits.
WholeRange lineRateRange(bool cameraGivesRange, qint64 cameraMinimum, qint64 cameraMaximum);
int shownResultingLineRate(int requestedRate, int ceiling, qint64 cameraRate);

QString saveDirForChoice(const QString &chosenDir, const QString &currentDir);

// Image type code and file extension of a snapshot in one output format.
struct SnapshotKind {
    int imageType = MV_Image_Bmp;
    QString extension;
};
SnapshotKind snapshotKindFor(const QString &format);
QString snapshotSuccessText(const QString &path, int imageType, int quality);

} // namespace SettingRules

/*
 * The options dialog: camera parameters, stitch and display options, output
 * format, quality, folder and the snapshot. Every control acts at once; there is
 * no OK or Cancel step. The camera is reached only through Camera; the options
 * in force are the session's, and what the window must act on is announced.
 */
class settingdialog : public QDialog
{
    Q_OBJECT

public:
    settingdialog(Camera *camera, SessionOptions &options, FlatFieldCorrector *flatField = nullptr,
                  QWidget *parent = nullptr);
    ~settingdialog() override;

signals:
    void stitchDirectionChosen(int direction);
    void maxStitchCountChosen(int count);
    void sigSaveDirChanged(QString dir);
    void imageFormatChanged(QString format, int jpgQuality, int pngQuality);
    void showLiveViewChanged(bool enabled);
    void keepCameraPixelsChanged(bool keep);

private slots:
    void on_slExposure_valueChanged(int value);
    void on_leExposure_editingFinished();
    void on_slGain_valueChanged(int value);
    void on_leGain_editingFinished();
    void on_cbAcquisitionLineRateEnable_stateChanged(int state);
    void on_leAcquisitionLineRate_editingFinished();
    void on_leFrameCount_editingFinished();
    void on_btnSelectSaveDir_clicked();
    void on_btnSaveImage_clicked();
    void on_slQuality_valueChanged(int value);
    void on_sbQuality_valueChanged(int value);
    void onImageFormatChanged();
    void onRadioButtonToggled(bool checked);
    void on_cbLeftStitch_toggled(bool checked);
    void on_cbRightStitch_toggled(bool checked);
    void on_cbTopStitch_clicked(bool checked);
    void on_cbBottomStitch_clicked(bool checked);
    void on_cbPartialStitch_clicked(bool checked);
    void on_cbSaveStitchImage_clicked(bool checked);
    void on_cbShowLiveView_toggled(bool checked);
    void on_cbKeepCameraPixels_clicked(bool checked);

protected:
    // Asks the operator for the output folder; an empty result means cancelled.
    // Tests answer it in place of the modal folder dialog.
    virtual QString chooseSaveDirectory(const QString &title, const QString &startDir);

private:
    bool cameraAvailable() const;
    void loadSettingsIntoControls();
    int frameCountInForce() const;
    void loadExposureAndGain();
    bool loadFloatFeature(const char *feature, QSlider *slider, FieldEntry *entry, float *current = nullptr);
    void enterFloatFeature(const char *feature, const QString &text);
    void applyFloatFeature(const char *feature, double value);
    void enterLineRate(const QString &text);
    void enterFrameCount(const QString &text);
    void loadLineRateControls();
    void refreshResultingLineRate();
    void enableLineRateField();
    void recordResultingLineRateCeiling();
    QRadioButton *directionButton(int direction) const;
    void chooseDirection(int direction, bool checked);
    QString formatFromButtons() const;
    void warn(const QString &title, const QString &text);

    Ui::settingdialog *ui = nullptr;
    Camera *m_camera = nullptr; // null: no camera is open
    SessionOptions &m_options;
    bool m_loading = false;
    bool m_refreshingQuality = false; // value handlers only mirror while the refresh sets the controls
    int m_resultingLineRate = 0;
    bool m_settlingLineRateControl = false; // the round run for the camera's actual state
    FieldEntry *m_exposureEntry = nullptr;
    FieldEntry *m_gainEntry = nullptr;
    FieldEntry *m_lineRateEntry = nullptr;
    FieldEntry *m_frameCountEntry = nullptr;
    QTimer *m_readoutTimer = nullptr;
    TriggerControls *m_triggerControls = nullptr;
    QString m_saveDirText;
    QString m_formatName;
    int m_dlgJpgQuality = 0;
    int m_dlgPngQuality = 0;
};

#endif // SETTINGDIALOG_H

#include "flatfieldcontrols.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cmath>

#include "flatfieldcorrector.h"

namespace {

QString captureText(const char *what, const QDateTime &when)
{
    return when.isValid()
        ? QStringLiteral("%1 %2").arg(QLatin1String(what), when.toLocalTime().toString(Qt::ISODate))
        : QStringLiteral("%1 -").arg(QLatin1String(what));
}

} // namespace

/*
 * Builds the group's rows: the two capture buttons and reset; the switch and
 * the target level; a line telling what is captured. `captureLines` lines
 * are averaged per reference. GUI thread.
 */
FlatFieldControls::FlatFieldControls(QGroupBox *group, FlatFieldCorrector *corrector, bool grabbing,
                                     int captureLines)
    : QObject(group), m_corrector(corrector), m_grabbing(grabbing), m_captureLines(captureLines)
{
    auto *rows = new QVBoxLayout(group);
    auto *buttons = new QHBoxLayout;
    m_captureDark = new QPushButton(QStringLiteral("Capture dark"), group);
    m_captureDark->setObjectName(QStringLiteral("btnCaptureDark"));
    m_captureWhite = new QPushButton(QStringLiteral("Capture white"), group);
    m_captureWhite->setObjectName(QStringLiteral("btnCaptureWhite"));
    m_reset = new QPushButton(tr("重置"), group);
    m_reset->setObjectName(QStringLiteral("btnFlatFieldReset"));
    m_reset->setToolTip(QStringLiteral("Forget both references and switch the correction off"));
    // Enter in a field of the dialog must never start a capture or a reset.
    for (QPushButton *button : {m_captureDark, m_captureWhite, m_reset})
        button->setAutoDefault(false);
    buttons->addWidget(m_captureDark);
    buttons->addWidget(m_captureWhite);
    buttons->addStretch();
    buttons->addWidget(m_reset);
    rows->addLayout(buttons);

    auto *options = new QHBoxLayout;
    m_enable = new QCheckBox(tr("启用校正"), group);
    m_enable->setObjectName(QStringLiteral("cbFlatFieldEnable"));
    auto *targetLabel = new QLabel(tr("目标灰度"), group);
    targetLabel->setObjectName(QStringLiteral("lblFlatFieldTarget"));
    m_target = new QSpinBox(group);
    m_target->setObjectName(QStringLiteral("sbFlatFieldTarget"));
    m_target->setToolTip(QStringLiteral("The level an even white target comes out at after correction"));
    // One change per finished entry, not one per typed digit.
    m_target->setKeyboardTracking(false);
    options->addWidget(m_enable);
    options->addStretch();
    options->addWidget(targetLabel);
    options->addWidget(m_target);
    rows->addLayout(options);

    m_state = new QLabel(group);
    m_state->setObjectName(QStringLiteral("lblFlatFieldState"));
    rows->addWidget(m_state);

    connect(m_captureDark, &QPushButton::clicked, this, [this] { capture(FlatFieldCorrector::Dark); });
    connect(m_captureWhite, &QPushButton::clicked, this, [this] { capture(FlatFieldCorrector::White); });
    if (m_corrector) {
        connect(m_reset, &QPushButton::clicked, m_corrector, &FlatFieldCorrector::reset);
        connect(m_enable, &QCheckBox::clicked, m_corrector, &FlatFieldCorrector::setEnabled);
        connect(m_target, QOverload<int>::of(&QSpinBox::valueChanged), m_corrector,
                [this](int value) { m_corrector->setTarget(value); });
        connect(m_corrector, &FlatFieldCorrector::referenceChanged, this, &FlatFieldControls::refresh);
    }
    refresh();
}

void FlatFieldControls::capture(int kind)
{
    if (m_corrector && m_corrector->startCapture(FlatFieldCorrector::Kind(kind), m_captureLines))
        refresh();
}

/* Shows the corrector's state; every control says why when it cannot be used. */
void FlatFieldControls::refresh()
{
    const bool camera = m_corrector && m_corrector->cameraKnown();
    const bool capturing = camera && m_corrector->capturing();
    const bool canCapture = camera && m_grabbing && !capturing;
    const QString why = !camera ? QStringLiteral("No camera is open")
        : !m_grabbing ? QStringLiteral("Start grabbing first: a reference is the mean of the running "
                                       "camera's next lines")
                      : QStringLiteral("A capture is running");
    m_captureDark->setEnabled(canCapture);
    m_captureDark->setToolTip(
        canCapture ? QStringLiteral("Average the next %1 lines with the lens capped").arg(m_captureLines)
                   : why);
    m_captureWhite->setEnabled(canCapture);
    m_captureWhite->setToolTip(
        canCapture ? QStringLiteral("Average the next %1 lines of an even white target").arg(m_captureLines)
                   : why);
    m_reset->setEnabled(camera);

    const FlatFieldReference empty;
    const FlatFieldReference &reference = camera ? m_corrector->reference() : empty;
    const bool white = reference.hasWhite();
    m_enable->setEnabled(white);
    m_enable->setToolTip(white ? QStringLiteral("Correct every frame before it is shown and stitched")
                               : QStringLiteral("Capture a white reference first"));
    {
        const QSignalBlocker quiet(m_enable);
        m_enable->setChecked(reference.enabled);
    }
    m_target->setEnabled(white);
    {
        const QSignalBlocker quiet(m_target);
        m_target->setRange(1, white ? reference.layout.maxValue() : 255);
        m_target->setValue(white ? int(std::lround(effectiveTarget(reference))) : m_target->minimum());
    }
    QString text = captureText("Dark:", reference.darkCaptured) + QStringLiteral("   ")
        + captureText("White:", reference.whiteCaptured);
    if (capturing)
        text += QStringLiteral("   capturing...");
    else if (white)
        text += QStringLiteral("   dead columns: %1").arg(m_corrector->deadColumnCount());
    m_state->setText(text);
}

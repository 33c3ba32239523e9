#include "aboutdialog.h"
#include "ui_aboutdialog.h"

#include "buildinfo.h"

#include <QPixmap>

/*
 * Returns logo scaled down, keeping its proportions, to fit area; a logo that
 * fits already is returned as it is. Pure; GUI thread (QPixmap).
 */
QPixmap logoForLabel(const QPixmap &logo, const QSize &area)
{
    if (logo.isNull() || (logo.width() <= area.width() && logo.height() <= area.height()))
        return logo;
    return logo.scaled(area, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

/*
 * Builds the modeless about box as a child of parent (the main window).
 * GUI thread.
 */
AboutDialog::AboutDialog(QWidget *parent) : QDialog(parent), ui(new Ui::AboutDialog)
{
    ui->setupUi(this);
    ui->lblBuild->setText(BuildInfo::buildLine(BuildInfo::buildDate(), BuildInfo::buildTime()));
    // The form's texts step clears the label's text after its pixmap was set,
    // and a QLabel drops its pixmap when its text is set. The logo is drawn
    // larger than its fixed 100 x 100 label and the label does not scale its
    // contents, so it is scaled down here to show whole.
    ui->lbLog->setPixmap(logoForLabel(QPixmap(QStringLiteral(":/res/logo.png")), ui->lbLog->maximumSize()));
}

AboutDialog::~AboutDialog()
{
    delete ui;
}

/* Hides the box; the instance stays alive for the next show. GUI thread. */
void AboutDialog::on_btnClose_clicked()
{
    close();
}

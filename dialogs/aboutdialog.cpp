#include "aboutdialog.h"
#include "ui_aboutdialog.h"

#include "buildinfo.h"

#include <QPixmap>

/*
 * Builds the modeless about box as a child of parent (the main window).
 * GUI thread.
 */
AboutDialog::AboutDialog(QWidget *parent) : QDialog(parent), ui(new Ui::AboutDialog)
{
    ui->setupUi(this);
    ui->lblBuild->setText(BuildInfo::buildLine(BuildInfo::buildDate(), BuildInfo::buildTime()));
    // The form's texts step clears the label's text after its pixmap was set,
    // and a QLabel drops its pixmap when its text is set.
    ui->lbLog->setPixmap(QPixmap(QStringLiteral(":/res/logo.png")));
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

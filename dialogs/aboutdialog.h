#ifndef ABOUTDIALOG_H
#define ABOUTDIALOG_H

#include <QDialog>
#include <QPixmap>
#include <QSize>

QT_BEGIN_NAMESPACE
namespace Ui {
class AboutDialog;
}
QT_END_NAMESPACE

// The logo as the about box shows it: whole, within its label's area.
QPixmap logoForLabel(const QPixmap &logo, const QSize &area);

/*
 * The about box: logo, owner line, product and version, build stamp. The main
 * window creates one instance and shows that same instance every time.
 */
class AboutDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AboutDialog(QWidget *parent = nullptr);
    ~AboutDialog() override;

private slots:
    void on_btnClose_clicked();

private:
    Ui::AboutDialog *ui;
};

#endif // ABOUTDIALOG_H

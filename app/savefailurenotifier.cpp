#include "savefailurenotifier.h"

#include <QLabel>
#include <QMessageBox>
#include <QStatusBar>

/*
 * The label joins statusBar as a permanent widget, so that the progress texts
 * of later saves do not hide it; it stays hidden while nothing is untold.
 */
SaveFailureNotifier::SaveFailureNotifier(QWidget *window, QStatusBar *statusBar)
    : QObject(window), m_window(window)
{
    if (statusBar) {
        m_label = new QLabel(statusBar);
        m_label->setObjectName(QStringLiteral("saveFailuresLabel"));
        statusBar->addPermanentWidget(m_label);
        m_label->hide();
    }
}

/*
 * Shows text in a critical box titled "Save Image", adding how many failures
 * were not shown before it; while a box is open, only counts.
 */
void SaveFailureNotifier::report(const QString &text)
{
    if (m_box) {
        ++m_untold;
        if (m_label) {
            m_label->setText(untoldSaveFailuresText(m_untold));
            m_label->show();
        }
        return;
    }
    QString shown = text;
    if (m_untold > 0)
        shown += QStringLiteral("\n\n") + untoldSaveFailuresText(m_untold);
    m_untold = 0;
    if (m_label)
        m_label->hide();
    m_box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Save Image"), shown, QMessageBox::Ok,
                            m_window);
    m_box->setAttribute(Qt::WA_DeleteOnClose);
    m_box->setWindowModality(Qt::NonModal);
    m_box->show();
}

QString untoldSaveFailuresText(int count)
{
    return count == 1 ? QStringLiteral("1 more save failed while this message was open.")
                      : QStringLiteral("%1 more saves failed while this message was open.").arg(count);
}

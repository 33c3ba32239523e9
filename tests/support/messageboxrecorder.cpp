#include "messageboxrecorder.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPointer>
#include <QPushButton>
#include <QTest>

MessageBoxRecorder::MessageBoxRecorder(QObject *parent) : QObject(parent)
{
    m_timer.setInterval(10);
    connect(&m_timer, &QTimer::timeout, this, &MessageBoxRecorder::poll);
    m_timer.start();
}

QStringList MessageBoxRecorder::texts() const
{
    QStringList result;
    for (const Record &record : m_records)
        result << record.text;
    return result;
}

bool MessageBoxRecorder::waitForCount(int expected, int timeoutMs)
{
    return QTest::qWaitFor([&] { return count() >= expected; }, timeoutMs);
}

void MessageBoxRecorder::poll()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        QPointer<QMessageBox> box = qobject_cast<QMessageBox *>(widget);
        if (!box || !box->isVisible())
            continue;
        // A box that takes a moment to close is recorded once.
        if (!box->property("_messageBoxRecorded").toBool()) {
            box->setProperty("_messageBoxRecorded", true);
            m_records.append({box->windowTitle(), box->text(), box->icon()});
        }
        if (QAbstractButton *button = box->escapeButton() ? box->escapeButton() : box->defaultButton())
            button->click();
        if (box && box->isVisible())
            box->reject();
    }
}

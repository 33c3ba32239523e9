#include "messageboxrecorder.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPointer>
#include <QPushButton>
#include <QTest>

namespace {
// Marks a box that is already recorded, so one that takes a moment to close
// is not counted twice.
const char *const kRecordedProperty = "_messageBoxRecorded";
} // namespace

/* Starts polling at once. GUI thread. */
MessageBoxRecorder::MessageBoxRecorder(QObject *parent) : QObject(parent)
{
    m_timer.setInterval(10);
    connect(&m_timer, &QTimer::timeout, this, &MessageBoxRecorder::poll);
    m_timer.start();
}

/* Closes boxes still open (none is left hanging in a nested loop). GUI thread. */
MessageBoxRecorder::~MessageBoxRecorder()
{
    poll();
}

/* The latest recorded box; an empty record when none was recorded. */
MessageBoxRecorder::Record MessageBoxRecorder::last() const
{
    return m_records.isEmpty() ? Record() : m_records.constLast();
}

/* The texts of all recorded boxes, oldest first. */
QStringList MessageBoxRecorder::texts() const
{
    QStringList result;
    for (const Record &record : m_records)
        result << record.text;
    return result;
}

/*
 * Runs the event loop until at least expected boxes were recorded or
 * timeoutMs passed. Returns whether the count was reached. GUI thread.
 */
bool MessageBoxRecorder::waitForCount(int expected, int timeoutMs)
{
    return QTest::qWaitFor([&] { return count() >= expected; }, timeoutMs);
}

void MessageBoxRecorder::poll()
{
    const QList<QWidget *> widgets = QApplication::topLevelWidgets();
    for (QWidget *widget : widgets) {
        QPointer<QMessageBox> box = qobject_cast<QMessageBox *>(widget);
        if (!box || !box->isVisible())
            continue;
        if (!box->property(kRecordedProperty).toBool()) {
            box->setProperty(kRecordedProperty, true);
            m_records.append({box->windowTitle(), box->text(), box->icon()});
        }
        QAbstractButton *button = box->escapeButton();
        if (!button)
            button = box->defaultButton();
        if (button)
            button->click();
        if (box && box->isVisible())
            box->reject();
    }
}

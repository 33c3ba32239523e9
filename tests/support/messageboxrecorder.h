#ifndef MESSAGEBOXRECORDER_H
#define MESSAGEBOXRECORDER_H

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTimer>

/*
 * While it lives, closes every QMessageBox the program opens (its escape or
 * default button, else reject) and records what it said, so that code which
 * reports through a modal box runs on without blocking. It polls from a timer
 * of the GUI thread, which also fires inside the box's own event loop; a box
 * shown from a queued signal appears only once the event loop runs, hence
 * waitForCount(). Create it in the GUI thread, after the QApplication.
 */
class MessageBoxRecorder : public QObject
{
    Q_OBJECT

public:
    struct Record {
        QString title;
        QString text;
        QMessageBox::Icon kind = QMessageBox::NoIcon;
    };

    explicit MessageBoxRecorder(QObject *parent = nullptr);
    ~MessageBoxRecorder() override { poll(); } // none is left hanging in a nested loop

    int count() const { return m_records.size(); }
    bool isEmpty() const { return m_records.isEmpty(); }
    const QList<Record> &records() const { return m_records; }
    Record last() const { return m_records.value(m_records.size() - 1); }
    QStringList texts() const;
    void clear() { m_records.clear(); }
    bool waitForCount(int expected, int timeoutMs = 5000);

private:
    void poll();

    QTimer m_timer;
    QList<Record> m_records;
};

#endif // MESSAGEBOXRECORDER_H

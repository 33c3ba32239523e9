#ifndef MESSAGEBOXRECORDER_H
#define MESSAGEBOXRECORDER_H

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTimer>

/*
 * Closes every QMessageBox the program opens while the recorder is alive and
 * remembers what it said, so a test can run code that reports through a modal
 * box without blocking and then assert on the box.
 *
 *     MessageBoxRecorder boxes;                 // before the code that may warn
 *     window.someSlotThatWarns();               // exec() returns at once
 *     QCOMPARE(boxes.count(), 1);
 *     QCOMPARE(boxes.last().kind, QMessageBox::Warning);
 *     QCOMPARE(boxes.last().text, QStringLiteral("..."));
 *     QVERIFY(boxes.isEmpty());                 // or: nothing was reported
 *
 * It polls from a timer in the GUI thread; the timer also fires inside the
 * nested event loop of QMessageBox::exec(), which is how a modal box gets
 * closed. A box is answered with its escape or default button, else it is
 * rejected. Boxes shown
 * from a queued signal appear only once the event loop runs: use
 * waitForCount() (or QTest::qWait) before asserting.
 *
 * Create it in the GUI thread, after the QApplication.
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
    ~MessageBoxRecorder() override;

    int count() const { return m_records.size(); }
    bool isEmpty() const { return m_records.isEmpty(); }
    const QList<Record> &records() const { return m_records; }
    Record last() const;
    QStringList texts() const;
    void clear() { m_records.clear(); }

    bool waitForCount(int expected, int timeoutMs = 5000);

private:
    void poll();

    QTimer m_timer;
    QList<Record> m_records;
};

#endif // MESSAGEBOXRECORDER_H

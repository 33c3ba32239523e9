#ifndef FIELDENTRY_H
#define FIELDENTRY_H

#include <QObject>
#include <QString>

QT_BEGIN_NAMESPACE
class QLineEdit;
QT_END_NAMESPACE

/*
 * Turns what a person does in a QLineEdit into one finished entry: Return,
 * Enter or leaving the field with a text other than the one last committed.
 *
 * Unlike QLineEdit::editingFinished it also reports text the field's validator
 * would hold back (so the dialog can say why it is refused), it reports an
 * entry once even when the warning about it takes the focus away from the
 * field, and it stays silent for a field that was entered and left unchanged.
 */
class FieldEntry : public QObject
{
    Q_OBJECT

public:
    FieldEntry(QLineEdit *field, QObject *parent);

    // Shows text in the field as the value now in force.
    void commit(const QString &text);
    QString committed() const { return m_committed; }
    QLineEdit *field() const { return m_field; }

    // Reports the field's text as an entry unless it is the committed one or
    // an entry is being handled. Called by the field's events and by the
    // dialog's editingFinished slots.
    void finish();

signals:
    // The handler either commits a value (commit) or refuses the text, shows
    // why and commits the value in force again.
    void entered(const QString &text);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QLineEdit *m_field;
    QString m_committed;
    bool m_handling = false; // a warning shown by the handler moves the focus away
};

#endif // FIELDENTRY_H

#include "fieldentry.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>

/*
 * Watches field (borrowed; it must outlive this object, which a common parent
 * dialog ensures). The committed text starts as the field's text. GUI thread.
 */
FieldEntry::FieldEntry(QLineEdit *field, QObject *parent)
    : QObject(parent), m_field(field), m_committed(field->text())
{
    m_field->installEventFilter(this);
}

/* Puts text into the field and takes it as the value in force. GUI thread. */
void FieldEntry::commit(const QString &text)
{
    m_committed = text;
    if (m_field->text() != text)
        m_field->setText(text);
}

/*
 * Emits entered() for the field's text unless it equals the committed text or
 * a handler of an earlier entry is still running. GUI thread.
 */
void FieldEntry::finish()
{
    if (m_handling)
        return;
    const QString text = m_field->text();
    if (text == m_committed)
        return;
    m_handling = true;
    emit entered(text);
    m_handling = false;
}

// Return and leaving the field end an entry whatever the validator thinks of
// the text; the event still reaches the field afterwards.
bool FieldEntry::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_field) {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter)
                finish();
        } else if (event->type() == QEvent::FocusOut
                   && static_cast<QFocusEvent *>(event)->reason() != Qt::PopupFocusReason) {
            finish(); // a context menu over the field does not end the entry
        }
    }
    return QObject::eventFilter(watched, event);
}

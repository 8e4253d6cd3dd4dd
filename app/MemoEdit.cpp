#include "app/MemoEdit.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QTextCursor>

int MemoEdit::Room() const
{
    if (MaxLength <= 0)
        return INT_MAX;
    const QTextCursor cursor = textCursor();
    const int selected = cursor.selectionEnd() - cursor.selectionStart();
    return MaxLength - (static_cast<int>(toPlainText().size()) - selected);
}

void MemoEdit::keyPressEvent(QKeyEvent *event)
{
    const QString text = event->text();
    const bool inserts =
        !text.isEmpty() && (text[0].isPrint() || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter);
    if (inserts && Room() < static_cast<int>(text.size())) {
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void MemoEdit::insertFromMimeData(const QMimeData *source)
{
    if (!source->hasText())
        return;
    const int room = Room();
    if (room <= 0)
        return;
    insertPlainText(source->text().left(room));
}

void MemoEdit::inputMethodEvent(QInputMethodEvent *event)
{
    const int room = Room();
    if (!event->commitString().isEmpty() && room < static_cast<int>(event->commitString().size())) {
        QInputMethodEvent cut(event->preeditString(), event->attributes());
        cut.setCommitString(event->commitString().left(std::max(room, 0)), event->replacementStart(),
                            event->replacementLength());
        QPlainTextEdit::inputMethodEvent(&cut);
        return;
    }
    QPlainTextEdit::inputMethodEvent(event);
}

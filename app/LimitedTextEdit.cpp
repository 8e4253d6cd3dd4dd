#include "app/LimitedTextEdit.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QTextBoundaryFinder>
#include <QTextCursor>

#include <algorithm>

namespace {

// As much of the text as fits in `room` UTF-16 units, cut where a character ends: a
// surrogate pair or a letter with its marks is kept whole or left out.
QString Fit(const QString &text, int room)
{
    if (room <= 0)
        return QString();
    if (text.size() <= room)
        return text;
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, text);
    characters.setPosition(room);
    if (!characters.isAtBoundary())
        characters.toPreviousBoundary();
    return text.left(std::max<qsizetype>(characters.position(), 0));
}

} // namespace

int LimitedTextEdit::Room() const
{
    if (MaxLength <= 0)
        return INT_MAX;
    const QTextCursor cursor = textCursor();
    const int selected = cursor.selectionEnd() - cursor.selectionStart();
    return MaxLength - (static_cast<int>(toPlainText().size()) - selected);
}

void LimitedTextEdit::keyPressEvent(QKeyEvent *event)
{
    // A key inserts its text unless that is a control character other than a tab or a
    // line break (Backspace, Delete, Ctrl+V and the like edit in other ways). A tab
    // that moves the focus inserts nothing.
    const QString text = event->text();
    const bool inserts = !text.isEmpty() && !(text == QLatin1String("\t") && tabChangesFocus()) &&
                         std::all_of(text.cbegin(), text.cend(), [](QChar c) {
                             return c.category() != QChar::Other_Control || c == QLatin1Char('\t') ||
                                    c == QLatin1Char('\r') || c == QLatin1Char('\n');
                         });
    if (inserts && Room() < static_cast<int>(text.size())) {
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void LimitedTextEdit::insertFromMimeData(const QMimeData *source)
{
    if (!source->hasText())
        return;
    // Line ends measured as the one character each becomes in the box.
    QString text = source->text();
    text.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    text = Fit(text, Room());
    if (!text.isEmpty())
        insertPlainText(text);
}

void LimitedTextEdit::inputMethodEvent(QInputMethodEvent *event)
{
    const int room = Room();
    if (!event->commitString().isEmpty() && room < static_cast<int>(event->commitString().size())) {
        QInputMethodEvent cut(event->preeditString(), event->attributes());
        cut.setCommitString(Fit(event->commitString(), room), event->replacementStart(), event->replacementLength());
        QPlainTextEdit::inputMethodEvent(&cut);
        return;
    }
    QPlainTextEdit::inputMethodEvent(event);
}

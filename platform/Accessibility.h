#pragma once

class QColor;
class QString;
class QWidget;

// A text as a screen reader should say it: without the mark of its mnemonic, and without a
// mnemonic in parentheses as Japanese texts write one ("差出人の名前(&N)" says "差出人の名前").
QString WithoutMnemonic(const QString &text);

// Names every field that has a label (QLabel::setBuddy) after its label, and every button,
// check box and group whose text carries a mnemonic after its text, as WithoutMnemonic says
// them. A field without a name of its own is otherwise read out by the title of the group box
// it sits in, and a mnemonic in parentheses as a stray letter.
// Call it once every field's label is set.
void NameControlsByTheirLabels(QWidget *window);

// Labels `field`, which the window shows without a label widget of its own (beside an option,
// say), with `text` for screen readers; call it before NameControlsByTheirLabels.
void LabelForScreenReaders(QWidget *field, const QString &text);

// The contrast ratio of a text colour over a background (WCAG 2.x): from 1 to 21; readable
// text needs 4.5 at least. A text colour that is not opaque is blended over the background.
double ContrastRatio(const QColor &text, const QColor &background);

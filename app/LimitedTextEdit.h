#pragma once

#include <QPlainTextEdit>

// A multi-line edit whose length limit stops what the user types (tabs and line breaks
// included), pastes or commits from an input method, as a Windows memo's does, without
// ever cutting a character in two; text set by the program is not cut.
class LimitedTextEdit : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit LimitedTextEdit(QWidget *parent = nullptr) : QPlainTextEdit(parent) {}

    int MaxLength = 0; // 0: no limit

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void insertFromMimeData(const QMimeData *source) override;
    void inputMethodEvent(QInputMethodEvent *event) override;

private:
    int Room() const;
};

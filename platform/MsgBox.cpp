#include "platform/MsgBox.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

namespace {
MessageRecorder *activeRecorder = nullptr;
}

QString ApplicationTitle()
{
    // No title is ever set: the caption is the program file's name without its extension.
    const QString path = QCoreApplication::applicationFilePath();
    const QString base = QFileInfo(path).completeBaseName();
    return base.isEmpty() ? QStringLiteral("kelvo") : base;
}

QString MessageCaption(MsgKind kind)
{
    switch (kind) {
    case MsgKind::Warning:
        return QCoreApplication::translate("MessageBox", "警告");
    case MsgKind::Information:
        return QCoreApplication::translate("MessageBox", "情報");
    case MsgKind::Confirmation:
        return QCoreApplication::translate("MessageBox", "確認");
    case MsgKind::Error:
        return QStringLiteral("kelvo");
    case MsgKind::Plain:
        break;
    }
    return ApplicationTitle();
}

MessageRecorder::MessageRecorder() : previous(activeRecorder)
{
    activeRecorder = this;
}

MessageRecorder::~MessageRecorder()
{
    activeRecorder = previous;
}

QStringList MessageRecorder::Texts() const
{
    QStringList texts;
    for (const RecordedMessage &m : Messages)
        texts.append(m.Text);
    return texts;
}

MsgResult MessageRecorder::Take(const RecordedMessage &message)
{
    Messages.append(message);
    if (OnMessage)
        OnMessage(message);
    if (!script.isEmpty())
        return script.takeFirst();
    switch (message.Buttons) {
    case MsgButtons::YesNo:
        return MsgResult::No;
    case MsgButtons::OkCancel:
        return MsgResult::Cancel;
    case MsgButtons::Ok:
        break;
    }
    return MsgResult::Ok;
}

MsgResult ShowMessage(MsgKind kind, const QString &text, MsgButtons buttons)
{
    const RecordedMessage message{kind, MessageCaption(kind), text, buttons};
    if (activeRecorder)
        return activeRecorder->Take(message);

    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(message.Caption);
    box.setText(text);
    switch (kind) {
    case MsgKind::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case MsgKind::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case MsgKind::Confirmation:
        box.setIcon(QMessageBox::Question);
        break;
    case MsgKind::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    case MsgKind::Plain:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }

    QPushButton *first = nullptr;
    QPushButton *second = nullptr;
    switch (buttons) {
    case MsgButtons::Ok:
        first = box.addButton(QCoreApplication::translate("MessageBox", "OK"), QMessageBox::AcceptRole);
        break;
    case MsgButtons::YesNo:
        first = box.addButton(QCoreApplication::translate("MessageBox", "はい(&Y)"), QMessageBox::YesRole);
        second = box.addButton(QCoreApplication::translate("MessageBox", "いいえ(&N)"), QMessageBox::NoRole);
        break;
    case MsgButtons::OkCancel:
        first = box.addButton(QCoreApplication::translate("MessageBox", "OK"), QMessageBox::AcceptRole);
        second = box.addButton(QCoreApplication::translate("MessageBox", "キャンセル"), QMessageBox::RejectRole);
        break;
    }
    box.setDefaultButton(first);
    if (second)
        box.setEscapeButton(second);
    else
        box.setEscapeButton(first);
    box.exec();

    const bool firstChosen = box.clickedButton() == first;
    switch (buttons) {
    case MsgButtons::YesNo:
        return firstChosen ? MsgResult::Yes : MsgResult::No;
    case MsgButtons::OkCancel:
        return firstChosen ? MsgResult::Ok : MsgResult::Cancel;
    case MsgButtons::Ok:
        break;
    }
    return MsgResult::Ok;
}

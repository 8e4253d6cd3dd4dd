#pragma once

#include <QList>
#include <QString>

#include <functional>

// The message boxes of the program. Every box goes through ShowMessage, so a test
// can install a MessageRecorder that answers from a script instead of opening a
// modal box.

enum class MsgKind { Warning, Information, Confirmation, Plain, Error };
enum class MsgButtons { Ok, YesNo, OkCancel };
enum class MsgResult { Ok, Cancel, Yes, No };

// The program file's name without its extension: the caption of plain and error boxes.
QString ApplicationTitle();

// Caption of a box of the given kind: "警告", "情報", "確認" (or their translations), or the
// application title.
QString MessageCaption(MsgKind kind);

MsgResult ShowMessage(MsgKind kind, const QString &text, MsgButtons buttons = MsgButtons::Ok);

inline void WarningBox(const QString &text)
{
    ShowMessage(MsgKind::Warning, text);
}
inline void InformationBox(const QString &text)
{
    ShowMessage(MsgKind::Information, text);
}
inline MsgResult ConfirmBox(const QString &text, MsgButtons buttons)
{
    return ShowMessage(MsgKind::Confirmation, text, buttons);
}
inline MsgResult PlainBox(const QString &text, MsgButtons buttons = MsgButtons::Ok)
{
    return ShowMessage(MsgKind::Plain, text, buttons);
}
// The standard error box: caption "kelvo", error icon, OK.
inline void ErrorBox(const QString &text)
{
    ShowMessage(MsgKind::Error, text);
}

struct RecordedMessage
{
    MsgKind Kind;
    QString Caption;
    QString Text;
    MsgButtons Buttons;
};

// While one of these lives, no real box opens: each message is recorded and answered
// with the next scripted answer; with the script used up, the answer is the
// harmless one (OK, No, Cancel). OnMessage, when set, runs for each message before
// it is answered (a test can act "while the box is open").
class MessageRecorder
{
public:
    MessageRecorder();
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder &) = delete;
    MessageRecorder &operator=(const MessageRecorder &) = delete;

    void Answer(MsgResult answer) { script.append(answer); }
    void Clear() { Messages.clear(); }
    QStringList Texts() const;

    QList<RecordedMessage> Messages;
    std::function<void(const RecordedMessage &)> OnMessage;

private:
    friend MsgResult ShowMessage(MsgKind, const QString &, MsgButtons);
    MsgResult Take(const RecordedMessage &message);

    QList<MsgResult> script;
    MessageRecorder *previous;
};

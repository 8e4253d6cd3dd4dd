#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QLocalServer;
class QLocalSocket;
class QLockFile;

// One kelvo per settings file and per address book, so that two kelvos never write the same
// file. The first kelvo listens on a local socket for each file it writes, named for the
// file's path and kept in the user's own runtime folder (no other user can reach it); a
// later start for either file hands its picture, or nothing to be brought to the front, to
// that kelvo and ends.
//
// The message is HandoverMessage.h's.

// The sockets of a kelvo that writes `files`, in the user's runtime folder (or, where there is
// none, a folder of kelvo's own in the user's cache); none when neither can be had, which is
// said on standard error.
QStringList InstanceSocketPaths(const QStringList &files);

// Held from before a start asks for a running kelvo until its own sockets listen, so that
// of two kelvos started at the same moment only one becomes the first. A lock left by a
// kelvo that crashed is taken over; one that cannot be had within seconds is gone without.
std::unique_ptr<QLockFile> LockStart();

enum class Handover {
    NobodyListens, // this start is the first
    Delivered,
    NoAnswer, // a kelvo listens but did not answer within seconds (frozen or stopped)
};

// Gives `picture` (empty: nothing, only come to the front) and `launchToken` (empty: none) to
// the first kelvo that listens on one of `sockets`. Waits for its answer, so that the picture
// is taken before this start ends (a picture in a temporary folder may go when it ends).
Handover HandToRunningKelvo(const QStringList &sockets, const QString &picture, const QByteArray &launchToken);

// The first kelvo's end of the sockets.
class InstanceServer : public QObject
{
    Q_OBJECT
public:
    explicit InstanceServer(QObject *parent = nullptr);
    ~InstanceServer() override;

    // Listens on every socket. A socket file left by a kelvo that crashed is replaced: the
    // caller holds the start lock and has found nobody listening. False, with the reason on
    // standard error, when one of them cannot be listened on.
    bool Listen(const QStringList &sockets);

    // Runs from the event loop for each message taken, with its picture and launch token
    // (empty: none).
    std::function<void(const QString &picture, const QByteArray &launchToken)> OnPictureHandedOver;

private:
    void Accept(QLocalServer *server);
    void ReadMessage(QLocalSocket *connection);

    int openConnections = 0;
};

#pragma once

#include "net/SocketEvents.h"
#include "net/SocketTimer.h"
#include "platform/AsyncSocket.h"
#include "platform/Exception.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QIODevice>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class MessageTarget;

// A failure of the socket layer; the message is the text the user reads.
class ESockError : public Exception
{
public:
    explicit ESockError(const QString &message) : Exception(message) {}
};

// A socket operation that ended because it was cancelled.
class EAbortError : public ESockError
{
public:
    explicit EAbortError(const QString &message) : ESockError(message) {}
};

// A wait that ended because the connection was gone: closed by the server, or dropped for
// sending more than anyone reads. The message says which.
class EClosedError : public ESockError
{
public:
    explicit EClosedError(const QString &message) : ESockError(message) {}
};

// A TCP client with blocking-style operations that never block the GUI thread: every wait
// (WaitUntil) sleeps in the event loop and runs whatever wakes it until its condition holds,
// and all socket activity arrives as messages posted to a MessageTarget that the client owns.
// The window stays live, so clicks, timers and this client's own events run inside any wait:
// whatever a caller read before a call may have changed after it, and a command that must not
// run twice keeps a flag of its own (the SMTP client's Busy).
//
// Destruction: the shutdown step Destroy() calls the virtual Abort() first. A base-class
// destructor cannot reach a derived override, so a derived class that overrides Abort() must
// call Destroy() at the start of its own destructor; ~SocketClient calls it too (a second call
// does nothing), so a client without an override needs nothing more.
class SocketClient : public QObject
{
    Q_OBJECT
public:
    explicit SocketClient(QObject *owner = nullptr);
    ~SocketClient() override;
    SocketClient(const SocketClient &) = delete;
    SocketClient &operator=(const SocketClient &) = delete;

    // The shutdown of the client: Abort, Cancel, close the socket for good and give back the
    // client's share of the socket layer. Runs once; the destructor runs it if nobody did.
    void Destroy();

    // Resolves Host (or RelayHost) and connects to Port, trying its addresses in the resolver's
    // order, each for its share of the time-out, until one takes the connection. A failure
    // names the server, the port and the last reason in the sentence the user reads.
    virtual void Connect();
    // Closes the connection; a fresh socket is ready at once for the next Connect.
    virtual void Disconnect();
    // Writeln the command, ReadLn the reply; sets LastReply and ReplyCode. Returns the reply
    // line with its line end.
    virtual QByteArray Transaction(const QByteArray &command);
    // Called when the time-out fires and when the client is destroyed; empty here.
    virtual void Abort();

    // Ends the wait under way (and every later one until the flag is cleared) with EAbortError.
    void Cancel();
    // Returns once connected: OnConnectionRequired may connect, once; else "Not Connected".
    void RequireConnection();
    // Closes the socket, fires OnDisconnect, and makes a fresh socket unless shutting down.
    void CloseSocket();

    // The data operations wait for the network until done or cancelled. A connection that is
    // closed (or was never made) ends the wait too: ReadLn with no whole line left in
    // ReceiveBuffer, and a send not yet handed over, fail with EClosedError "Connection
    // closed by the server".

    // Sends the text up to its first zero byte, at most 16384 bytes of it.
    void Write(const QByteArray &text);
    void Writeln(const QByteArray &text);
    // Length 0 means: up to the first zero byte.
    void SendBuffer(const char *buffer, quint16 length);
    // Sends the whole stream from its start; counts SentBytes and fires OnPacketSent.
    void SendStream(QIODevice &stream);
    // Returns the next line, line end included.
    QByteArray ReadLn();

    // Secures the connection with TLS for host (whose certificate must verify) and waits
    // for the handshake like any other wait: until done, cancelled or closed. A failed
    // handshake throws ESockError with the reason and the host.
    void StartTls(const QString &host);

    // Zeroes the bytes, then lets them go. Whatever is sent goes through buffers wiped so,
    // since a command may carry a login: no memory given back holds it.
    static void Wipe(QByteArray &bytes);
    // Bytes that may hold a login, wiped when they go out of scope.
    struct Secret
    {
        QByteArray bytes;
        ~Secret() { Wipe(bytes); }
    };

    // "number:text", "Unknown Error No. number", or empty for 0.
    QString LookupErrorText(int errorNumber);

    // The longest line ReadLn waits for: a peer that sends more without a line feed makes
    // ReadLn fail instead of filling memory.
    static constexpr qsizetype MaxLineLength = 1024 * 1024;
    // The most received bytes kept unread: a peer that sends more than that unasked (a
    // flood during an upload, or while the connection is idle) loses the connection.
    static constexpr qsizetype MaxReceiveBuffer = 4 * 1024 * 1024;

    // The events, run on the GUI thread from inside whichever call is waiting.
    NotifyEvent OnSocketConnected;    // the TCP connection is up
    NotifyEvent OnDisconnect;         // CloseSocket closed the socket
    NotifyEvent OnConnectionFailed;   // no address took the connection, or time-out or cancel came first
    RetryEvent OnInvalidHost;         // the host gave no address; the handler may mend Host
    NotifyEvent OnHostResolved;       // a host name was looked up
    RetryEvent OnConnectionRequired;  // RequireConnection found none; the handler may connect
    NotifyEvent OnDataArrived;        // received bytes were added to ReceiveBuffer
    NotifyEvent OnPacketReceived;     // the same, while SendStream runs
    NotifyEvent OnPacketSent;         // a chunk went out while SendStream runs
    ErrorEvent OnError;               // a receive failed
    StatusEvent OnStatus;             // a status text within ReportLevel
    NotifyEvent OnReceiveAfterCancel; // a receive notification came while a cancel was pending

    // A name; an IPv4 address in any form inet_addr reads; or an IPv6 address, bare or in
    // brackets, with or without its zone ("fe80::1%eth0").
    QString Host;
    qint32 Port = 0;
    // Milliseconds: the most the whole of Connect (look-up and every address) takes, and what
    // the SMTP client waits for each reply; 0 waits without limit.
    qint32 TimeOut = 0;
    // Status texts up to this level reach OnStatus: 1 the server's replies, up to 16 every step.
    qint32 ReportLevel = 0;
    // Connected to instead of Host and Port when set.
    QString RelayHost;
    qint32 RelayPort = 0;

    bool Connected = false;
    SocketId SocketHandle = InvalidSocket;
    QList<QHostAddress> RemoteAddresses; // what the host gave, in the order they are tried
    QHostAddress RemoteAddress;          // the one connected to, or being tried
    QByteArray ReceiveBuffer;            // received bytes not yet taken by ReadLn
    QByteArray LastReply;                // the last reply line, line end included
    qint16 ReplyCode = 0;                // the number the reply's leading digits make
    bool CancelPending = false;          // Cancel was called: every wait ends
    bool TimedOut = false;               // the time-out fired during the current wait
    bool LastEventOk = false;            // the last notification or look-up carried no error
    bool LookupDone = false;
    bool SendComplete = false; // the send queue was handed to the socket whole
    bool HandlerBusy = false;  // the receive or send handler runs
    bool ShuttingDown = false; // the next close makes no fresh socket
    bool CountTraffic = false; // SendStream runs: bytes are counted, packet events fire
    qint32 SentBytes = 0;      // since SendStream began, commands included
    qint32 TotalBytes = 0;     // the size of what SendStream sends
    qint32 ReceivedBytes = 0;  // while CountTraffic is on
    qint32 LastError = 0;      // the socket layer's last error number
    QString StatusText;        // the last status text reported
    QStringList SocketInfo;    // what the socket layer told of itself at start-up

    // What the client's MessageTarget receives: the socket layer's notifications about the
    // socket and the end of a host look-up, and the client's own reminders to go on sending or
    // receiving after a full chunk, which let the event loop run between chunks.
    enum PostedMessage : quint32 { SocketNotification = 1, LookupFinished, SendMore, ReceiveMore };

protected:
    // One platform send or receive moves at most this many bytes; Write takes at most
    // TextBufferSize - 1 bytes of text.
    static constexpr int ChunkSize = 16383;
    static constexpr int TextBufferSize = 16385;
    // Without a connection no byte can come in or go out: a wait for that would never end.
    // The text says why the connection is gone.
    QString ClosedText() const;
    // Takes LastReply as the reply to the last command: ReplyCode becomes the number its
    // leading digits make (0 without digits).
    void SetReply(const QByteArray &reply);
    // The time since bytes last went out, for time-outs that measure silence.
    QElapsedTimer LastProgress;
    // Runs the events that are waiting already, without sleeping.
    static void PollOnce();

    // How a wait ended: what it waited for came, a cancel (CancelPending), the time-out
    // (TimedOut), the end of the connection it needs, or its own deadline.
    enum class WaitEnd { Done, Cancelled, TimedOut, Closed, DeadlinePassed };
    // The one wait of the client. It sleeps in the event loop, which wakes for a socket
    // notification, a posted message, a timer or user input and runs it, until done() holds;
    // done() is asked first, and again after each wake-up. Before that, a cancel, the
    // time-out firing during the wait (armed by TimerOn, whoever armed it), the deadline
    // passing or, when needsConnection, the connection closing end it. It uses no CPU while
    // nothing happens.
    WaitEnd WaitUntil(const std::function<bool()> &done, QDeadlineTimer deadline = QDeadlineTimer::Forever,
                      bool needsConnection = false);

    // The time-out: TimerOn arms it with TimeOut, TimerOff disarms it; when it fires,
    // TimedOut is set and Abort runs. A derived class may arm it around its own waits.
    void TimerOn();
    void TimerOff();
    void TimerExpired(QObject *sender);

    void ReportStatus(const QString &text, int level);
    // Raises the platform's last error unless it is the one passed (always "would block").
    void ThrowLastErrorUnless(int expected);
    // Looks Host (or RelayHost) up into RemoteAddresses; false when it gives none, with the
    // reason in connectFailure. A look-up that times out or is cancelled throws.
    bool ResolveHost();
    void HandleSocketMessage(quint32 message, quintptr word, qintptr value);
    void ReceiveWaitingBytes();
    void SendQueuedBytes();
    void InitializeSockets();

    // Bytes waiting to be sent start at SendPosition; the send handler moves the position
    // instead of copying the rest of a large stream after every chunk.
    QByteArray SendQueue;
    qsizetype SendPosition = 0;
    QByteArray SendSpare;
    QByteArray ReceiveSpare;
    QByteArray TextBuffer;
    SocketTimer *TimeOutTimer = nullptr;
    MessageTarget *Target = nullptr;
    HostAddresses LookupResult;
    quintptr LookupHandle = 0;

private:
    // The steps of Connect.
    void ForgetEarlierConnection();
    // ResolveHost, with one more try when OnInvalidHost asks for it.
    void ResolveRemoteAddresses();
    void ConnectToOneOfTheAddresses();
    // One address, until it connects, fails or its share of the time-out has passed.
    WaitEnd TryAddress(const QDeadlineTimer &share);
    // The time the next of `left` addresses may take.
    QDeadlineTimer ShareOfTheTimeOut(qsizetype left) const;
    // "Cannot connect to <server> port <port> (<reason>)", in the interface language.
    QString ConnectFailureText(const QString &reason) const;
    // The reason for an error number of the socket layer, as the user reads it.
    QString ReasonText(int error);
    // A notification of the socket layer: data, space, the end of a connection attempt or
    // of a TLS handshake, or the peer's close.
    void HandleNotification(long kind);
    void HandlePeerClosed();
    // Closes the socket of a failed connection attempt and makes a fresh one, quietly.
    void RenewSocket();
    // Ends the run of the receive or send handler.
    void EndHandler();

    void TakeSent(qsizetype n);
    // Keeps received bytes, or ends a connection whose peer sends more than anyone reads.
    bool KeepReceived(const char *data, int n);
    bool overflowed = false;
    // Why the last address or look-up failed: an error number of the socket layer.
    int connectFailure = 0;
    // When Connect's time-out ends: it covers the look-up and every address.
    QDeadlineTimer connectDeadline;
    // The TLS handshake has ended, and how.
    bool tlsDone = false;
    bool tlsSecured = false;
    bool destroyed = false;
    bool destroying = false;
    bool startedSockets = false;
    // A notification that came while the other handler ran; handled when it ends.
    bool readDeferred = false;
    bool writeDeferred = false;
};

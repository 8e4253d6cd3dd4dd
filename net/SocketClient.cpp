#include "net/SocketClient.h"

#include "platform/MessageTarget.h"
#include "platform/WinsockErrors.h"

#include <QCoreApplication>
#include <QScopeGuard>
#include <QTimer>

#include <limits>
#include <optional>

namespace {

// The clients that took part in starting the socket layer.
int socketsInUse = 0;

// Request code the socket layer uses for "stream socket over IPv4, TCP".
constexpr int AfInet = 2;
constexpr int SockStream = 1;
constexpr int IpProtoTcp = 6;
// The notifications the client asks for: the six kinds of the socket layer and the end of
// a TLS handshake.
constexpr long Notifications = Notify::AllSocketKinds | Notify::TlsDone;

// "1.1" from a version word: the high byte, a point, the low byte.
QString VersionText(quint16 version)
{
    return QStringLiteral("%1.%2").arg(version >> 8).arg(version & 0xFF);
}

} // namespace

void SocketClient::PollOnce()
{
    QCoreApplication::processEvents();
}

// ---------------------------------------------------------------------------------------------
// Construction and destruction

SocketClient::SocketClient(QObject *owner) : QObject(owner)
{
    Target = new MessageTarget;
    Target->Handler = [this](quint32 message, quintptr word, qintptr value) {
        HandleSocketMessage(message, word, value);
    };
    TextBuffer = QByteArray(TextBufferSize, '\0');
    TimeOutTimer = new SocketTimer(this);
    TimeOutTimer->SetEnabled(false);
    TimeOutTimer->SetOnTimer([this](QObject *sender) { TimerExpired(sender); });
    try {
        InitializeSockets();
    } catch (...) {
        delete Target;
        Target = nullptr;
        throw;
    }
}

SocketClient::~SocketClient()
{
    Destroy();
}

void SocketClient::Destroy()
{
    if (destroyed)
        return;
    destroyed = true;
    destroying = true;
    // Each step runs even when an earlier one failed: this is the way out of the object.
    auto step = [](const std::function<void()> &f) {
        try {
            f();
        } catch (...) {
        }
    };
    step([this] { ReportStatus(QStringLiteral("Destroy"), 8); });
    step([this] { Abort(); });
    step([this] { Cancel(); });
    SocketInfo.clear();
    delete TimeOutTimer;
    TimeOutTimer = nullptr;
    if (LookupHandle != 0) {
        Winsock::CancelAsyncRequest(LookupHandle);
        LookupHandle = 0;
    }
    Wipe(TextBuffer);
    LookupResult = {};
    delete Target;
    Target = nullptr;
    ReceiveBuffer.clear();
    ReceiveSpare.clear();
    Wipe(SendQueue);
    SendPosition = 0;
    Wipe(SendSpare);
    ShuttingDown = true;
    step([this] { CloseSocket(); });
    if (startedSockets) {
        startedSockets = false;
        if (--socketsInUse == 0)
            Winsock::Cleanup();
    }
}

void SocketClient::InitializeSockets()
{
    ReportStatus(QStringLiteral("Initializing Winsock"), 8);
    if (++socketsInUse == 1) {
        SocketLayerInfo info;
        Winsock::Startup(0x0101, info);
        SocketInfo << QStringLiteral("Version= ") + VersionText(info.Version)
                   << QStringLiteral("High Version= ") + VersionText(info.HighVersion)
                   << QStringLiteral("Description= ") + info.Description
                   << QStringLiteral("System= ") + info.SystemStatus
                   << QStringLiteral("Max Sockets= ") + QString::number(info.MaxSockets)
                   << QStringLiteral("Max Udp pack size= ") + QString::number(info.MaxUdpDg);
    }
    startedSockets = true;
    try {
        SocketHandle = Winsock::Socket(AfInet, SockStream, IpProtoTcp);
        if (SocketHandle == InvalidSocket)
            ThrowLastErrorUnless(WsaError::WouldBlock);
        if (SocketHandle == InvalidSocket || Winsock::SetLinger(SocketHandle, true, 0) != 0 ||
            Winsock::AsyncSelect(SocketHandle, Target, SocketNotification, Notifications) != 0)
            throw ESockError(QString());
    } catch (...) {
        if (SocketHandle != InvalidSocket) {
            Winsock::CloseSocket(SocketHandle);
            SocketHandle = InvalidSocket;
        }
        startedSockets = false;
        if (--socketsInUse == 0)
            Winsock::Cleanup();
        throw ESockError(QStringLiteral("Initializaton of windows sockets failed"));
    }
}

// ---------------------------------------------------------------------------------------------
// Status and errors

void SocketClient::ReportStatus(const QString &text, int level)
{
    if (level > ReportLevel)
        return;
    StatusText = text;
    if (!destroying && OnStatus)
        OnStatus(this, text);
}

QString SocketClient::LookupErrorText(int errorNumber)
{
    ReportStatus(QStringLiteral("Looking Up Error Message"), 8);
    if (errorNumber == 0)
        return QString();
    if (const char *text = WinsockErrorText(errorNumber))
        return QString::number(errorNumber) + QLatin1Char(':') + QLatin1String(text);
    return QStringLiteral("Unknown Error No. ") + QString::number(errorNumber);
}

void SocketClient::ThrowLastErrorUnless(int expected)
{
    ReportStatus(QStringLiteral("Checking Error In Error Manager"), 16);
    LastError = Winsock::GetLastError();
    if (LastError == expected)
        return;
    QString text = LookupErrorText(LastError);
    if (OnError)
        OnError(this, quint16(LastError), text);
    throw ESockError(text);
}

// ---------------------------------------------------------------------------------------------
// Time-out

void SocketClient::TimerOn()
{
    ReportStatus(QStringLiteral("Timer On"), 8);
    TimedOut = false;
    if (TimeOut < 0)
        throw Exception(QStringLiteral("TimeOut out of range: %1").arg(TimeOut));
    TimeOutTimer->SetInterval(quint32(TimeOut));
    TimeOutTimer->SetEnabled(true);
}

void SocketClient::TimerOff()
{
    ReportStatus(QStringLiteral("Timer Off"), 8);
    TimeOutTimer->SetEnabled(false);
}

void SocketClient::TimerExpired(QObject *)
{
    ReportStatus(QStringLiteral("Timer Triggered"), 8);
    TimerOff();
    TimedOut = true;
    Abort();
}

// ---------------------------------------------------------------------------------------------
// Waiting

SocketClient::WaitEnd SocketClient::WaitUntil(const std::function<bool()> &done, QDeadlineTimer deadline,
                                              bool needsConnection)
{
    // Everything that ends a wait comes with an event that wakes the loop: a notification, a
    // posted message, the time-out's timer, the input that cancels. Only the deadline needs a
    // timer of its own to wake it.
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    if (!deadline.isForever())
        wake.start(int(qBound(qint64(0), deadline.remainingTime(), qint64(std::numeric_limits<int>::max()))));
    // A time-out that fired before this wait began is over: it ended the wait it was armed for.
    const bool timedOutBefore = TimedOut;
    for (;;) {
        if (done())
            return WaitEnd::Done;
        if (CancelPending)
            return WaitEnd::Cancelled;
        if (TimedOut && !timedOutBefore)
            return WaitEnd::TimedOut;
        if (needsConnection && !Connected)
            return WaitEnd::Closed;
        if (deadline.hasExpired())
            return WaitEnd::DeadlinePassed;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

// ---------------------------------------------------------------------------------------------
// Resolving and connecting

void SocketClient::Connect()
{
    ReportStatus(QStringLiteral("Connecting"), 8);
    CancelPending = false;
    if (Connected)
        throw ESockError(QStringLiteral("Already connected"));
    ForgetEarlierConnection();
    // One time-out for the look-up and every address: a name with many dead addresses
    // still fails within it.
    TimerOn();
    const auto disarm = qScopeGuard([this] { TimerOff(); });
    connectDeadline = TimeOut > 0 ? QDeadlineTimer(TimeOut) : QDeadlineTimer(QDeadlineTimer::Forever);
    ResolveRemoteAddresses();
    ConnectToOneOfTheAddresses();
}

void SocketClient::ForgetEarlierConnection()
{
    // Bytes a cancelled send left behind belong to an earlier conversation; they must not
    // go out ahead of this connection's first command.
    Wipe(SendQueue);
    SendPosition = 0;
    Wipe(SendSpare);
    // Likewise the last words of a server that closed an earlier connection: they would
    // be read as this server's greeting.
    ReceiveBuffer.clear();
    ReceiveSpare.clear();
    overflowed = false;
}

void SocketClient::ResolveRemoteAddresses()
{
    for (int attempts = 0; !ResolveHost(); ++attempts) {
        bool retry = false;
        if (attempts == 0 && OnInvalidHost)
            OnInvalidHost(retry);
        if (!retry)
            throw ESockError(ConnectFailureText(ReasonText(connectFailure)));
    }
}

bool SocketClient::ResolveHost()
{
    ReportStatus(QStringLiteral("Resolve Host"), 8);
    // The whole name is looked up, however long: cutting it would ask for another host.
    const QString name = RelayHost.isEmpty() ? Host : RelayHost;
    RemoteAddresses.clear();
    RemoteAddress.clear();
    if (const std::optional<QHostAddress> literal = ServerAddressLiteral(name)) {
        // 0.0.0.0 and :: name no server.
        if (*literal == QHostAddress::AnyIPv4 || *literal == QHostAddress::AnyIPv6) {
            connectFailure = WsaError::AddressNotAvailable;
            return false;
        }
        RemoteAddresses = {*literal};
        return true;
    }
    LookupDone = false;
    if (LookupHandle != 0)
        Winsock::CancelAsyncRequest(LookupHandle);
    LookupResult = {};
    LookupHandle = Winsock::AsyncGetHostByName(Target, LookupFinished, name, &LookupResult);
    const WaitEnd end = WaitUntil([this] { return LookupDone; }, connectDeadline);
    if (!LookupDone)
        Winsock::CancelAsyncRequest(LookupHandle);
    LookupHandle = 0;
    if (end == WaitEnd::TimedOut || end == WaitEnd::DeadlinePassed)
        throw ESockError(
            ConnectFailureText(QCoreApplication::translate("Connection", "名前解決が時間切れになりました")));
    if (end == WaitEnd::Cancelled)
        throw ESockError(QStringLiteral("Host Lookup Canceled"));
    if (!LastEventOk || LookupResult.Addresses.isEmpty()) {
        connectFailure = LastEventOk ? WsaError::NoData : LastError;
        return false;
    }
    RemoteAddresses = LookupResult.Addresses;
    if (OnHostResolved)
        OnHostResolved(this);
    return true;
}

void SocketClient::ConnectToOneOfTheAddresses()
{
    WaitEnd end = WaitEnd::Done;
    for (qsizetype i = 0; i < RemoteAddresses.size(); ++i) {
        // A socket an attempt was made on is done with: the kernel may still be working on
        // it, or it is left unusable; a late notification about it is stale and ignored.
        if (i > 0)
            RenewSocket();
        RemoteAddress = RemoteAddresses[i];
        end = TryAddress(ShareOfTheTimeOut(RemoteAddresses.size() - i));
        if (end == WaitEnd::Done && Connected && !CancelPending && !TimedOut)
            return;
        if (end == WaitEnd::Cancelled || end == WaitEnd::TimedOut || CancelPending || TimedOut)
            break;
    }
    // A connect that completed in the same pass as the time-out or a cancel is given up too.
    Connected = false;
    RenewSocket();
    if (OnConnectionFailed)
        OnConnectionFailed(this);
    if (CancelPending && !TimedOut)
        throw ESockError(QStringLiteral("Connection Canceled"));
    throw ESockError(ConnectFailureText(ReasonText(TimedOut ? WsaError::TimedOut : connectFailure)));
}

SocketClient::WaitEnd SocketClient::TryAddress(const QDeadlineTimer &share)
{
    LookupDone = false;
    LastEventOk = true;
    const quint16 port = quint16(RelayHost.isEmpty() ? Port : RelayPort);
    if (Winsock::Connect(SocketHandle, RemoteAddress, port) != 0 && Winsock::GetLastError() != WsaError::WouldBlock) {
        // Refused at once: an unreachable network, an unknown zone.
        connectFailure = LastError = Winsock::GetLastError();
        return WaitEnd::Done;
    }
    const WaitEnd end = WaitUntil([this] { return Connected || !LastEventOk; }, share);
    if (end == WaitEnd::DeadlinePassed)
        connectFailure = WsaError::TimedOut;
    else if (end == WaitEnd::Done && !Connected)
        connectFailure = LastError;
    return end;
}

QDeadlineTimer SocketClient::ShareOfTheTimeOut(qsizetype left) const
{
    // Each address but the last gets an equal share of the time left, and no more than a
    // handshake takes on a slow network: a dead address must not eat the minute that the
    // next one would have answered in. The last gets all that is left.
    constexpr qint64 MostPerAddress = 5000;
    if (left <= 1)
        return connectDeadline;
    if (connectDeadline.isForever())
        return QDeadlineTimer(MostPerAddress);
    return QDeadlineTimer(qMin(connectDeadline.remainingTime() / left, MostPerAddress));
}

QString SocketClient::ConnectFailureText(const QString &reason) const
{
    const QString name = RelayHost.isEmpty() ? Host : RelayHost;
    const int port = RelayHost.isEmpty() ? Port : RelayPort;
    return QCoreApplication::translate("Connection", "サーバ %1 のポート %2 に接続できません（%3）。")
        .arg(name, QString::number(port), reason);
}

QString SocketClient::ReasonText(int error)
{
    static const struct
    {
        int Error;
        const char *Text;
    } Reasons[] = {
        {WsaError::ConnRefused, QT_TRANSLATE_NOOP("Connection", "接続を拒否されました")},
        {WsaError::TimedOut, QT_TRANSLATE_NOOP("Connection", "応答がなく時間切れになりました")},
        {WsaError::HostUnreachable, QT_TRANSLATE_NOOP("Connection", "ホストへの経路がありません")},
        {WsaError::NetUnreachable, QT_TRANSLATE_NOOP("Connection", "ネットワークに到達できません")},
        {WsaError::HostNotFound, QT_TRANSLATE_NOOP("Connection", "名前が見つかりません")},
        {WsaError::NoData, QT_TRANSLATE_NOOP("Connection", "名前が見つかりません")},
        {WsaError::TryAgain, QT_TRANSLATE_NOOP("Connection", "名前解決に一時的に失敗しました")},
        {WsaError::AddressNotAvailable, QT_TRANSLATE_NOOP("Connection", "使えるアドレスではありません")},
        {WsaError::NoSuchInterface,
         QT_TRANSLATE_NOOP("Connection", "ゾーンに当たるネットワークインターフェースがありません")},
    };
    for (const auto &reason : Reasons)
        if (reason.Error == error)
            return QCoreApplication::translate("Connection", reason.Text);
    // The socket layer's own words for the rarer ones.
    return LookupErrorText(error);
}

void SocketClient::StartTls(const QString &host)
{
    ReportStatus(QStringLiteral("Start TLS"), 8);
    tlsDone = tlsSecured = false;
    if (Connected) {
        if (Winsock::StartTls(SocketHandle, host) != 0)
            ThrowLastErrorUnless(WsaError::WouldBlock);
        const WaitEnd end = WaitUntil([this] { return tlsDone; }, QDeadlineTimer::Forever, true);
        if (end == WaitEnd::TimedOut)
            throw EAbortError(QStringLiteral("TLS handshake aborted"));
    }
    if (CancelPending)
        throw EAbortError(QStringLiteral("TLS handshake aborted"));
    if (tlsDone && tlsSecured)
        return;
    // A server that hangs up before or during the handshake failed it as well.
    bool certificate = false;
    QString reason = Connected ? Winsock::TlsFailure(SocketHandle, &certificate) : QString();
    if (reason.isEmpty())
        reason = QStringLiteral("connection closed by the server");
    throw ESockError(
        certificate ? QCoreApplication::translate("Connection", "%1 の証明書を確認できません（%2）。").arg(host, reason)
                    : QCoreApplication::translate("Connection", "%1 と暗号化した接続を確立できません（%2）。")
                          .arg(host, reason));
}

QString SocketClient::ClosedText() const
{
    if (overflowed)
        return QStringLiteral("The server sent more than %1 MiB that nobody asked for").arg(MaxReceiveBuffer >> 20);
    return QStringLiteral("Connection closed by the server");
}

void SocketClient::Disconnect()
{
    ReportStatus(QStringLiteral("Disconnecting"), 8);
    CloseSocket();
}

void SocketClient::Abort()
{}

void SocketClient::Cancel()
{
    ReportStatus(QStringLiteral("Canceling"), 8);
    CancelPending = true;
}

void SocketClient::RequireConnection()
{
    bool asked = false;
    while (!Connected) {
        if (asked || !OnConnectionRequired)
            throw Exception(QStringLiteral("Not Connected"));
        bool handled = false;
        asked = true;
        OnConnectionRequired(handled);
        if (!handled)
            throw Exception(QStringLiteral("Not Connected"));
    }
}

void SocketClient::RenewSocket()
{
    if (SocketHandle != InvalidSocket)
        Winsock::CloseSocket(SocketHandle);
    SocketHandle = Winsock::Socket(AfInet, SockStream, 0);
    if (SocketHandle != InvalidSocket)
        Winsock::AsyncSelect(SocketHandle, Target, SocketNotification, Notifications);
}

void SocketClient::CloseSocket()
{
    ReportStatus(QStringLiteral("Request Close Socket"), 4);
    Connected = false;
    if (SocketHandle == InvalidSocket)
        return;
    if (Winsock::CloseSocket(SocketHandle) != 0) {
        ThrowLastErrorUnless(WsaError::WouldBlock);
        return;
    }
    SocketHandle = InvalidSocket;
    if (!destroying && OnDisconnect)
        OnDisconnect(this);
    if (!ShuttingDown) {
        SocketHandle = Winsock::Socket(AfInet, SockStream, 0);
        if (SocketHandle != InvalidSocket)
            Winsock::AsyncSelect(SocketHandle, Target, SocketNotification, Notifications);
    }
}

// ---------------------------------------------------------------------------------------------
// Message dispatch

void SocketClient::HandleSocketMessage(quint32 message, quintptr word, qintptr value)
{
    try {
        // Messages about a socket or a look-up that is no longer ours are stale.
        if (message == SocketNotification && word != SocketHandle)
            return;
        if (message == LookupFinished && word != LookupHandle)
            return;
        if (message == SocketNotification || message == LookupFinished) {
            const int error = int((quintptr(value) >> 16) & 0xFFFF);
            LastEventOk = error == 0;
            if (error != 0)
                LastError = error;
        }
        switch (message) {
        case SocketNotification:
            HandleNotification(value & 0xFFFF);
            break;
        case LookupFinished:
            LookupDone = true;
            break;
        case SendMore:
            SendQueuedBytes();
            break;
        case ReceiveMore:
            ReceiveWaitingBytes();
            break;
        default:
            break;
        }
    } catch (...) {
        // Nobody waits for a message: its failure has nowhere to go.
    }
}

void SocketClient::HandleNotification(long kind)
{
    switch (kind) {
    case Notify::Read:
        ReceiveWaitingBytes();
        break;
    case Notify::Write:
        SendQueuedBytes();
        break;
    case Notify::Connect:
        if (LastEventOk) {
            Connected = true;
            if (OnSocketConnected)
                OnSocketConnected(this);
        }
        break;
    case Notify::Close:
        HandlePeerClosed();
        break;
    case Notify::TlsDone:
        // Its own outcome: LastEventOk is the last message's, and another one of the
        // socket may follow in the same pass (a write notification, say).
        tlsDone = true;
        tlsSecured = LastEventOk;
        break;
    default:
        break;
    }
}

void SocketClient::HandlePeerClosed()
{
    // What the peer sent before it closed still belongs to the reader.
    char buffer[ChunkSize + 1];
    bool kept = true;
    while (kept && !CancelPending) {
        const int n = Winsock::Recv(SocketHandle, buffer, ChunkSize);
        if (n <= 0)
            break;
        kept = KeepReceived(buffer, n);
    }
    if (kept) {
        Connected = false;
        CloseSocket();
    }
}

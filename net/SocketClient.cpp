#include "net/SocketClient.h"

#include "platform/Command.h"
#include "platform/MessagePump.h"
#include "platform/SocketWindow.h"
#include "platform/WinsockErrors.h"

#include <QCoreApplication>

#include <cstring>
#include <limits>
#include <utility>

namespace {

// The clients that took part in starting the socket layer.
int socketsInUse = 0;

// Request code the socket layer uses for "stream socket over IPv4, TCP".
constexpr int AfInet = 2;
constexpr int SockStream = 1;
constexpr int IpProtoTcp = 6;
// The notifications the client asks for: the six kinds of the socket layer and the end of
// a TLS handshake.
constexpr long Notifications = FdAll | FdTls;

// The texts of the socket layer's error numbers.
const struct
{
    int Number;
    const char *Text;
} ErrorTexts[] = {
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Wrong protocol type for socket"},
    {10042, "Bad protocol option"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Can't assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection or reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references, can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to Host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network subsystem is unavailable"},
    {10092, "Incompatible version of WINSOCK.DLL"},
    {10093, "Successful WSAStartup not yet performed"},
    {11001, "Host not found"},
    {11002, "Non-Authoritative Host not found"},
    {11003, "Non-Recoverable error: FORMERR, REFUSED, NOTIMP"},
    {11004, "Valid name, no data record of requested type"},
};

const char *ErrorText(int number)
{
    for (const auto &row : ErrorTexts)
        if (row.Number == number)
            return row.Text;
    return nullptr;
}

// "1.1" from a version word: the high byte, a point, the low byte.
QString VersionText(quint16 version)
{
    return QStringLiteral("%1.%2").arg(version >> 8).arg(version & 0xFF);
}

} // namespace

void SocketClient::PollOnce()
{
    Sleep(2);
    ProcessMessages();
}

// ---------------------------------------------------------------------------------------------
// Construction and destruction

SocketClient::SocketClient(QObject *owner) : QObject(owner)
{
    WindowHandle = new SocketWindow;
    WindowHandle->Handler = [this](quint32 message, quintptr word, qintptr value) {
        HandleSocketMessage(message, word, value);
    };
    RelayHost.clear();
    TextBuffer = QByteArray(TextBufferSize, '\0');
    Timer = new SocketTimer(this);
    Timer->SetEnabled(false);
    Timer->SetOnTimer([this](QObject *sender) { TimerExpired(sender); });
    SocketInfo.clear();
    CancelPending = false;
    CountTraffic = false;
    ShuttingDown = false;
    Connected = false;
    try {
        InitializeSockets();
    } catch (...) {
        delete WindowHandle;
        WindowHandle = nullptr;
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
    delete Timer;
    Timer = nullptr;
    if (LookupHandle != 0) {
        Winsock::CancelAsyncRequest(LookupHandle);
        LookupHandle = 0;
    }
    Wipe(TextBuffer);
    HostEntryBuffer = {};
    delete WindowHandle;
    WindowHandle = nullptr;
    ReceiveBuffer.clear();
    ReceiveSpare.clear();
    Wipe(SendQueue);
    SendPosition = 0;
    Wipe(SendSpare);
    ShuttingDown = true;
    step([this] { RequestCloseSocket(); });
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
        Winsock::Startup(0x0101, WSAData);
        SocketInfo << QStringLiteral("Version= ") + VersionText(WSAData.Version)
                   << QStringLiteral("High Version= ") + VersionText(WSAData.HighVersion)
                   << QStringLiteral("Description= ") + WSAData.Description
                   << QStringLiteral("System= ") + WSAData.SystemStatus
                   << QStringLiteral("Max Sockets= ") + QString::number(WSAData.MaxSockets)
                   << QStringLiteral("Max Udp pack size= ") + QString::number(WSAData.MaxUdpDg);
    }
    startedSockets = true;
    try {
        SocketHandle = Winsock::Socket(AfInet, SockStream, IpProtoTcp);
        if (SocketHandle == InvalidSocket)
            ErrorManager(WsaError::WouldBlock);
        if (SocketHandle == InvalidSocket || Winsock::SetLinger(SocketHandle, true, 0) != 0 ||
            Winsock::AsyncSelect(SocketHandle, WindowHandle, MsgSocketEvent, Notifications) != 0)
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
    if (const char *text = ErrorText(errorNumber))
        return QString::number(errorNumber) + QLatin1Char(':') + QLatin1String(text);
    return QStringLiteral("Unknown Error No. ") + QString::number(errorNumber);
}

void SocketClient::ErrorManager(int ignore)
{
    ReportStatus(QStringLiteral("Checking Error In Error Manager"), 16);
    LastError = Winsock::GetLastError();
    if (LastError == ignore)
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
    Timer->SetInterval(quint32(TimeOut));
    Timer->SetEnabled(true);
}

void SocketClient::TimerOff()
{
    ReportStatus(QStringLiteral("Timer Off"), 8);
    Timer->SetEnabled(false);
}

void SocketClient::TimerExpired(QObject *)
{
    ReportStatus(QStringLiteral("Timer Triggered"), 8);
    TimerOff();
    TimedOut = true;
    Abort();
}

// ---------------------------------------------------------------------------------------------
// Resolving and connecting

void SocketClient::ResolveHost()
{
    ReportStatus(QStringLiteral("Resolve Host"), 8);
    // The whole name is looked up, however long: cutting it would ask for another host.
    const QString name = RelayHost.isEmpty() ? Host : RelayHost;
    quint32 address = Winsock::InetAddr(name.toLatin1());
    if (address != InaddrNone) {
        RemoteAddress.Address = address;
        return;
    }
    RemoteAddress.Address = 0;
    TimerOn();
    LookupDone = false;
    if (LookupHandle != 0)
        Winsock::CancelAsyncRequest(LookupHandle);
    HostEntryBuffer = {};
    LookupHandle = Winsock::AsyncGetHostByName(WindowHandle, MsgLookupDone, name, &HostEntryBuffer);
    do
        PollOnce();
    while (!LookupDone && !TimedOut && !CancelPending);
    TimerOff();
    if (!LookupDone)
        Winsock::CancelAsyncRequest(LookupHandle);
    LookupHandle = 0;
    if (TimedOut)
        throw ESockError(QStringLiteral("Host Lookup Timed Out"));
    if (CancelPending)
        throw ESockError(QStringLiteral("Host Lookup Canceled"));
    if (!LastEventOk || HostEntryBuffer.Addresses.isEmpty())
        throw ESockError(QStringLiteral("Host Lookup Failed"));
    RemoteAddress.Address = HostEntryBuffer.Addresses.first();
    if (OnHostResolved)
        OnHostResolved(this);
}

void SocketClient::Connect()
{
    ReportStatus(QStringLiteral("Connecting"), 8);
    CancelPending = false;
    if (Connected)
        throw ESockError(QStringLiteral("Already connected"));
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

    int attempts = 0;
    for (;;) {
        try {
            ResolveHost();
        } catch (const ESockError &e) {
            if (e.Message == QLatin1String("Host Lookup Timed Out") ||
                e.Message == QLatin1String("Host Lookup Canceled"))
                throw;
            // A failed look-up leaves no address: the invalid-host path below.
        }
        if (RemoteAddress.Address != 0)
            break;
        if (attempts > 0 || !OnInvalidHost)
            throw ESockError(QStringLiteral("Null Remote Address"));
        bool handled = false;
        OnInvalidHost(handled);
        if (!handled)
            throw ESockError(QStringLiteral("Null Remote Address"));
        ++attempts;
    }

    RemoteAddress.Family = AfInet;
    RemoteAddress.Port = Winsock::Htons(quint16(RelayHost.isEmpty() ? Port : RelayPort));
    LookupDone = false;
    LastEventOk = true;
    if (Winsock::Connect(SocketHandle, RemoteAddress) != 0)
        ErrorManager(WsaError::WouldBlock);

    TimerOn();
    do
        PollOnce();
    while (!Connected && !TimedOut && !CancelPending && LastEventOk);
    TimerOff();
    if (!TimedOut && !CancelPending && LastEventOk)
        return;
    // The kernel may still be working on this attempt (a time-out or a cancel), or the
    // socket may be left unusable by it (a refusal): the next Connect gets a fresh one, and
    // a late notification about this attempt is stale and ignored.
    RenewSocket();
    if (OnConnectionFailed)
        OnConnectionFailed(this);
    if (TimedOut)
        throw ESockError(QStringLiteral("Connection Timed out"));
    if (CancelPending)
        throw ESockError(QStringLiteral("Connection Canceled"));
    throw ESockError(QStringLiteral("Connection Failed"));
}

void SocketClient::StartTls(const QString &host)
{
    ReportStatus(QStringLiteral("Start TLS"), 8);
    tlsDone = tlsSecured = false;
    if (Connected) {
        if (Winsock::StartTls(SocketHandle, host) != 0)
            ErrorManager(WsaError::WouldBlock);
        do
            PollOnce();
        while (!tlsDone && !CancelPending && Connected);
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
    RequestCloseSocket();
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
        Winsock::AsyncSelect(SocketHandle, WindowHandle, MsgSocketEvent, Notifications);
}

void SocketClient::RequestCloseSocket()
{
    ReportStatus(QStringLiteral("Request Close Socket"), 4);
    Connected = false;
    if (SocketHandle == InvalidSocket)
        return;
    if (Winsock::CloseSocket(SocketHandle) != 0) {
        ErrorManager(WsaError::WouldBlock);
        return;
    }
    SocketHandle = InvalidSocket;
    if (!destroying && OnDisconnect)
        OnDisconnect(this);
    if (!ShuttingDown) {
        SocketHandle = Winsock::Socket(AfInet, SockStream, 0);
        if (SocketHandle != InvalidSocket)
            Winsock::AsyncSelect(SocketHandle, WindowHandle, MsgSocketEvent, Notifications);
    }
}

// ---------------------------------------------------------------------------------------------
// Message dispatch

void SocketClient::HandleSocketMessage(quint32 message, quintptr word, qintptr value)
{
    try {
        // Messages about a socket or a look-up that is no longer ours are stale.
        if (message == MsgSocketEvent && word != SocketHandle)
            return;
        if (message == MsgLookupDone && word != LookupHandle)
            return;
        if (message == MsgSocketEvent || message == MsgLookupDone)
            LastEventOk = ((quintptr(value) >> 16) & 0xFFFF) == 0;
        switch (message) {
        case MsgSocketEvent:
            switch (value & 0xFFFF) {
            case FdRead:
                ReadToStream();
                break;
            case FdWrite:
                WriteFromStream();
                break;
            case FdConnect:
                if (LastEventOk) {
                    Connected = true;
                    if (OnConnect)
                        OnConnect(this);
                }
                break;
            case FdClose: {
                // What the peer sent before it closed still belongs to the reader.
                char buffer[ChunkSize + 1];
                bool kept = true;
                while (kept && !CancelPending) {
                    int n = Winsock::Recv(SocketHandle, buffer, ChunkSize);
                    if (n <= 0)
                        break;
                    kept = Keep(buffer, n);
                }
                if (kept) {
                    Connected = false;
                    RequestCloseSocket();
                }
                break;
            }
            case FdTls:
                // Its own outcome: LastEventOk is the last message's, and another one of the
                // socket may follow in the same pass (a write notification, say).
                tlsDone = true;
                tlsSecured = LastEventOk;
                break;
            default:
                break;
            }
            break;
        case MsgLookupDone:
            LookupDone = true;
            break;
        case MsgWriteMore:
            WriteFromStream();
            break;
        case MsgReadMore:
            ReadToStream();
            break;
        default:
            break;
        }
    } catch (...) {
        // Nobody waits for a message: its failure has nowhere to go.
    }
}

#include "platform/WinsockErrors.h"

#include <cerrno>

namespace {

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

} // namespace

const char *WinsockErrorText(int number)
{
    for (const auto &row : ErrorTexts)
        if (row.Number == number)
            return row.Text;
    return nullptr;
}

int WinsockError(int errnoValue) // NOLINT(readability-function-size): one case per errno value reads better whole
{
    switch (errnoValue) {
    case 0:
        return 0;
    case EINTR:
        return WsaError::Interrupted;
    case EBADF:
        return WsaError::BadFile;
    case EACCES:
    case EPERM:
        return WsaError::Access;
    case EFAULT:
        return WsaError::Fault;
    case EINVAL:
        return WsaError::Invalid;
    case EMFILE:
    case ENFILE:
        return WsaError::TooManyFiles;
#if EAGAIN != EWOULDBLOCK
    case EAGAIN:
#endif
    case EWOULDBLOCK:
    case EINPROGRESS: // a connection started without blocking, as the socket layer says it
        return WsaError::WouldBlock;
    case EALREADY:
        return WsaError::Already;
    case ENOTSOCK:
        return WsaError::NotSocket;
    case EDESTADDRREQ:
        return 10039;
    case EMSGSIZE:
        return WsaError::MessageSize;
    case EPROTOTYPE:
        return 10041;
    case ENOPROTOOPT:
        return 10042;
    case EPROTONOSUPPORT:
        return 10043;
    case ESOCKTNOSUPPORT:
        return 10044;
    case EOPNOTSUPP:
        return WsaError::OpNotSupported;
    case EPFNOSUPPORT:
        return 10046;
    case EAFNOSUPPORT:
        return WsaError::AddressFamily;
    case EADDRINUSE:
        return WsaError::AddressInUse;
    case EADDRNOTAVAIL:
        return WsaError::AddressNotAvailable;
    case ENETDOWN:
        return WsaError::NetDown;
    case ENETUNREACH:
        return WsaError::NetUnreachable;
    case ENETRESET:
        return WsaError::NetReset;
    case ECONNABORTED:
        return WsaError::ConnAborted;
    case ECONNRESET:
        return WsaError::ConnReset;
    case ENOBUFS:
    case ENOMEM:
        return WsaError::NoBuffers;
    case EISCONN:
        return WsaError::IsConnected;
    case ENOTCONN:
        return WsaError::NotConnected;
    case ESHUTDOWN:
    case EPIPE:
        return WsaError::Shutdown;
    case ETOOMANYREFS:
        return 10059;
    case ETIMEDOUT:
        return WsaError::TimedOut;
    case ECONNREFUSED:
        return WsaError::ConnRefused;
    case ELOOP:
        return 10062;
    case ENAMETOOLONG:
        return 10063;
    case EHOSTDOWN:
        return 10064;
    case EHOSTUNREACH:
        return WsaError::HostUnreachable;
    case ENOTEMPTY:
        return 10066;
    case EUSERS:
        return 10068;
    case EDQUOT:
        return 10069;
    case ESTALE:
        return 10070;
    case EREMOTE:
        return 10071;
    default:
        return WsaError::UnknownBase + errnoValue;
    }
}

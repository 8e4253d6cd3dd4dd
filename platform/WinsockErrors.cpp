#include "platform/WinsockErrors.h"

#include <cerrno>

int WinsockError(int errnoValue)
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

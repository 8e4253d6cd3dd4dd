#pragma once

// Error numbers of the socket layer. The socket client reports failures by these numbers,
// so POSIX errno values are translated to them where they arise.
namespace WsaError {
constexpr int Interrupted = 10004;
constexpr int BadFile = 10009;
constexpr int Access = 10013;
constexpr int Fault = 10014;
constexpr int Invalid = 10022;
constexpr int TooManyFiles = 10024;
constexpr int WouldBlock = 10035;
constexpr int InProgress = 10036;
constexpr int Already = 10037;
constexpr int NotSocket = 10038;
constexpr int MessageSize = 10040;
constexpr int OpNotSupported = 10045;
constexpr int AddressFamily = 10047;
constexpr int AddressInUse = 10048;
constexpr int AddressNotAvailable = 10049;
constexpr int NetDown = 10050;
constexpr int NetUnreachable = 10051;
constexpr int NetReset = 10052;
constexpr int ConnAborted = 10053;
constexpr int ConnReset = 10054;
constexpr int NoBuffers = 10055;
constexpr int IsConnected = 10056;
constexpr int NotConnected = 10057;
constexpr int Shutdown = 10058;
constexpr int TimedOut = 10060;
constexpr int ConnRefused = 10061;
constexpr int HostUnreachable = 10065;
constexpr int HostNotFound = 11001;
constexpr int TryAgain = 11002;
constexpr int NoRecovery = 11003;
constexpr int NoData = 11004;
// A TLS handshake that failed; the socket layer tells why (TlsFailure).
constexpr int TlsFailed = 19001;
// An IPv6 address whose zone names no network interface of this machine.
constexpr int NoSuchInterface = 19002;
// errno values without a counterpart become UnknownBase + errno, which no table lists.
constexpr int UnknownBase = 20000;
} // namespace WsaError

// The socket layer's number for a POSIX errno value; 0 for 0.
int WinsockError(int errnoValue);

// The text users read for an error number, or nullptr for a number without one.
const char *WinsockErrorText(int number);

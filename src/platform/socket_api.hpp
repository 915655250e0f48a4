#pragma once
// The operating system's stream sockets (IPv4 only), as thin as the layers above can use them.
// Every call that can fail returns -1 (or InvalidSocket) and leaves the error for
// LastSocketError(), which gives it in the Windows Sockets numbering (ECONNREFUSED -> 10061,
// ETIMEDOUT -> 10060, ...), so that every platform reports the same numbers and texts. The error
// is kept per thread. No call raises SIGPIPE. Addresses are dotted IPv4 text.
//
// Every call that can wait takes an optional TCancelEvent: once it is set, the wait ends at once
// with WsaInterrupted (10004), however long its limit. Sends never wait: a socket that takes
// nothing now answers WsaWouldBlock, and the caller waits with SocketWaitWritable.

#include <cstddef>
#include <cstdint>
#include <string>

namespace sejfko {

class TCancelEvent;

using TSocket = intptr_t;
constexpr TSocket InvalidSocket = -1;

// Windows Sockets error numbers the layers above create themselves.
constexpr int WsaInterrupted = 10004;
constexpr int WsaWouldBlock = 10035;
constexpr int WsaAddressInUse = 10048;
constexpr int WsaShutdown = 10058;
constexpr int WsaTimedOut = 10060;
constexpr int WsaHostNotFound = 11001;
constexpr int WsaTryAgain = 11002;
constexpr int WsaNoRecovery = 11003;

// The error of the thread's last failed call, in Windows Sockets numbering.
int LastSocketError();
// Sets the thread's last error (for waits that the caller limits itself).
void SetLastSocketError(int error);
// Windows Sockets number of an errno value (an unknown one is returned unchanged).
int SocketErrorFromErrno(int error);

TSocket SocketCreateStream();
// Empty `ip`: any local address; port 0: any free port.
int SocketBind(TSocket socket, const std::string& ip, int port);
// Connects within `timeoutMs` milliseconds (negative: the system's own limit); expiry fails with
// WsaTimedOut.
int SocketConnect(TSocket socket, const std::string& ip, int port, int timeoutMs,
                  const TCancelEvent* cancel = nullptr);
int SocketListen(TSocket socket, int backlog);
TSocket SocketAccept(TSocket listener);
// 1 when readable (or closed by the peer), 0 when `timeoutMs` passed (negative: no limit), -1 on
// failure.
int SocketWaitReadable(TSocket socket, int timeoutMs, const TCancelEvent* cancel = nullptr);
// 1 when a send would take data (or fail at once), 0 when `timeoutMs` passed (negative: no
// limit), -1 on failure.
int SocketWaitWritable(TSocket socket, int timeoutMs, const TCancelEvent* cancel = nullptr);
// Sends what the socket takes now, without waiting (-1 with WsaWouldBlock when it takes nothing).
std::ptrdiff_t SocketSend(TSocket socket, const void* data, std::size_t size);
std::ptrdiff_t SocketReceive(TSocket socket, void* buffer, std::size_t size);
int SocketSetNoDelay(TSocket socket, bool on);
// Bytes sent that the peer has not acknowledged yet (a drop means the peer is taking data); -1
// when the system does not tell.
int64_t SocketUnacknowledged(TSocket socket);
int SocketShutdownSend(TSocket socket);
int SocketClose(TSocket socket);
int SocketLocalAddress(TSocket socket, std::string& ip, int& port);
int SocketPeerAddress(TSocket socket, std::string& ip, int& port);

// Looks a host name up; 0 with the first IPv4 address in `ip`, else the Windows Sockets number
// (WsaHostNotFound, WsaTryAgain, WsaNoRecovery, or WsaInterrupted when `cancel` was set first: the
// lookup then goes on unseen on a thread of its own, since the resolver cannot be interrupted).
int ResolveHostAddress(const std::string& host, std::string& ip,
                       const TCancelEvent* cancel = nullptr);

}  // namespace sejfko

// Windows Sockets 2: the error numbers are native here; WSAPoll waits on the socket and on the
// cancel event's socket together.

#include "platform/socket_api.hpp"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/cancel_event.hpp"
#include "platform/win32/winsock_start.hpp"

namespace sejfko {

namespace {

thread_local int LastError = 0;

int Fail(int error) {
    LastError = error;
    return -1;
}

int FailLast() {
    return Fail(WSAGetLastError());
}

SOCKET Native(TSocket socket) {
    return static_cast<SOCKET>(socket);
}

bool MakeAddress(const std::string& ip, int port, sockaddr_in& address) {
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    if (ip.empty()) {
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        return true;
    }
    return inet_pton(AF_INET, ip.c_str(), &address.sin_addr) == 1;
}

void ReadAddress(const sockaddr_in& address, std::string& ip, int& port) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    ip = text;
    port = ntohs(address.sin_port);
}

int Interrupted() {
    LastError = WsaInterrupted;
    return -1;
}

int WaitFor(SOCKET socket, short events, int timeoutMs, const TCancelEvent* cancel) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (cancel != nullptr && cancel->IsSet()) {
            return Interrupted();
        }
        int wait = -1;
        if (timeoutMs >= 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            wait = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
        WSAPOLLFD entries[2] = {};
        entries[0].fd = socket;
        entries[0].events = events;
        if (cancel != nullptr) {
            entries[1].fd = static_cast<SOCKET>(cancel->Handle());
            entries[1].events = POLLRDNORM;
        }
        const int result = WSAPoll(entries, cancel != nullptr ? 2 : 1, wait);
        if (result < 0) {
            return FailLast();
        }
        if (cancel != nullptr && entries[1].revents != 0) {
            return Interrupted();
        }
        // A refused connect shows as an error or hang-up, which a caller reads as ready.
        return entries[0].revents != 0 ? 1 : 0;
    }
}

int LookUp(const std::string& host, std::string& ip) {
    if (!StartWinsock()) {
        return WsaNoRecovery;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int result = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (result != 0 || found == nullptr) {
        return result == WSATRY_AGAIN     ? WsaTryAgain
               : result == WSANO_RECOVERY ? WsaNoRecovery
                                          : WsaHostNotFound;
    }
    int port = 0;
    ReadAddress(*reinterpret_cast<const sockaddr_in*>(found->ai_addr), ip, port);
    freeaddrinfo(found);
    return 0;
}

struct TLookup {
    TCancelEvent Finished;
    std::mutex Lock;
    int Result = 0;
    std::string Ip;
};

int LookUpUnlessCancelled(const std::string& host, std::string& ip, const TCancelEvent& cancel) {
    std::shared_ptr<TLookup> lookup;
    try {
        lookup = std::make_shared<TLookup>();
        std::thread([lookup, host] {
            std::string found;
            const int result = LookUp(host, found);
            {
                std::lock_guard guard(lookup->Lock);
                lookup->Result = result;
                lookup->Ip = std::move(found);
            }
            lookup->Finished.Set();
        }).detach();
    } catch (...) {
        return LookUp(host, ip);
    }
    if (WaitFor(static_cast<SOCKET>(lookup->Finished.Handle()), POLLRDNORM, -1, &cancel) < 0) {
        return LastError;
    }
    std::lock_guard guard(lookup->Lock);
    ip = lookup->Ip;
    return lookup->Result;
}

}  // namespace

int LastSocketError() {
    return LastError;
}

void SetLastSocketError(int error) {
    LastError = error;
}

int SocketErrorFromErrno(int error) {
    struct TPair {
        int Errno;
        int Wsa;
    };
    static constexpr TPair pairs[] = {
        {EINTR, 10004},         {EBADF, 10009},        {EACCES, 10013},
        {EFAULT, 10014},        {EINVAL, 10022},       {EMFILE, 10024},
        {EWOULDBLOCK, 10035},   {EINPROGRESS, 10036},  {EALREADY, 10037},
        {ENOTSOCK, 10038},      {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040},
        {EPROTOTYPE, 10041},    {ENOPROTOOPT, 10042},  {EPROTONOSUPPORT, 10043},
        {EOPNOTSUPP, 10045},    {EAFNOSUPPORT, 10047}, {EADDRINUSE, 10048},
        {EADDRNOTAVAIL, 10049}, {ENETDOWN, 10050},     {ENETUNREACH, 10051},
        {ENETRESET, 10052},     {ECONNABORTED, 10053}, {ECONNRESET, 10054},
        {EPIPE, 10054},         {ENOBUFS, 10055},      {EISCONN, 10056},
        {ENOTCONN, 10057},      {ETIMEDOUT, 10060},    {ECONNREFUSED, 10061},
        {ELOOP, 10062},         {ENAMETOOLONG, 10063}, {EHOSTUNREACH, 10065},
        {ENOTEMPTY, 10066},
    };
    for (const auto& pair : pairs) {
        if (pair.Errno == error) {
            return pair.Wsa;
        }
    }
    return error;
}

TSocket SocketCreateStream() {
    if (!StartWinsock()) {
        Fail(WSASYSNOTREADY);
        return InvalidSocket;
    }
    SOCKET fd =
        WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (fd == INVALID_SOCKET) {
        FailLast();
        return InvalidSocket;
    }
    return static_cast<TSocket>(fd);
}

int SocketBind(TSocket socket, const std::string& ip, int port) {
    sockaddr_in address{};
    if (!MakeAddress(ip, port, address)) {
        return Fail(WSAEADDRNOTAVAIL);
    }
    // Windows lets a second socket take a port in use unless told not to.
    BOOL exclusive = TRUE;
    setsockopt(Native(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
               reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
    if (bind(Native(socket), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        return FailLast();
    }
    return 0;
}

int SocketConnect(TSocket socket, const std::string& ip, int port, int timeoutMs,
                  const TCancelEvent* cancel) {
    sockaddr_in address{};
    if (!MakeAddress(ip, port, address)) {
        return Fail(WSAEADDRNOTAVAIL);
    }
    const SOCKET fd = Native(socket);
    if (timeoutMs < 0 && cancel == nullptr) {
        return connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ? 0
                                                                                       : FailLast();
    }
    u_long nonBlocking = 1;
    if (ioctlsocket(fd, FIONBIO, &nonBlocking) != 0) {
        return FailLast();
    }
    int error = 0;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        error = WSAGetLastError();
    }
    if (error == WSAEWOULDBLOCK) {
        error = 0;
        const int ready = WaitFor(fd, POLLWRNORM, timeoutMs, cancel);
        if (ready < 0) {
            nonBlocking = 0;
            ioctlsocket(fd, FIONBIO, &nonBlocking);
            return -1;
        }
        if (ready == 0) {
            error = WSAETIMEDOUT;
        } else {
            int length = sizeof error;
            if (getsockopt(fd, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) !=
                0) {
                error = WSAGetLastError();
            }
        }
    }
    nonBlocking = 0;
    ioctlsocket(fd, FIONBIO, &nonBlocking);
    return error == 0 ? 0 : Fail(error);
}

int SocketListen(TSocket socket, int backlog) {
    return listen(Native(socket), backlog) == 0 ? 0 : FailLast();
}

TSocket SocketAccept(TSocket listener) {
    const SOCKET fd = accept(Native(listener), nullptr, nullptr);
    if (fd == INVALID_SOCKET) {
        FailLast();
        return InvalidSocket;
    }
    return static_cast<TSocket>(fd);
}

int SocketWaitReadable(TSocket socket, int timeoutMs, const TCancelEvent* cancel) {
    return WaitFor(Native(socket), POLLRDNORM, timeoutMs, cancel);
}

int SocketWaitWritable(TSocket socket, int timeoutMs, const TCancelEvent* cancel) {
    return WaitFor(Native(socket), POLLWRNORM, timeoutMs, cancel);
}

std::ptrdiff_t SocketSend(TSocket socket, const void* data, std::size_t size) {
    // Sends never wait: non-blocking for this one call.
    u_long nonBlocking = 1;
    ioctlsocket(Native(socket), FIONBIO, &nonBlocking);
    const int piece = static_cast<int>(std::min<std::size_t>(size, 1u << 30));
    const int sent = send(Native(socket), static_cast<const char*>(data), piece, 0);
    const int error = sent < 0 ? WSAGetLastError() : 0;
    nonBlocking = 0;
    ioctlsocket(Native(socket), FIONBIO, &nonBlocking);
    return sent >= 0 ? sent : Fail(error);
}

std::ptrdiff_t SocketReceive(TSocket socket, void* buffer, std::size_t size) {
    const int piece = static_cast<int>(std::min<std::size_t>(size, 1u << 30));
    const int received = recv(Native(socket), static_cast<char*>(buffer), piece, 0);
    return received >= 0 ? received : FailLast();
}

int SocketSetNoDelay(TSocket socket, bool on) {
    BOOL value = on ? TRUE : FALSE;
    return setsockopt(Native(socket), IPPROTO_TCP, TCP_NODELAY,
                      reinterpret_cast<const char*>(&value), sizeof value) == 0
               ? 0
               : FailLast();
}

int64_t SocketUnacknowledged(TSocket) {
    return -1;
}

int SocketShutdownSend(TSocket socket) {
    return shutdown(Native(socket), SD_SEND) == 0 ? 0 : FailLast();
}

int SocketClose(TSocket socket) {
    return closesocket(Native(socket)) == 0 ? 0 : FailLast();
}

int SocketLocalAddress(TSocket socket, std::string& ip, int& port) {
    sockaddr_in address{};
    int length = sizeof address;
    if (getsockname(Native(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return FailLast();
    }
    ReadAddress(address, ip, port);
    return 0;
}

int SocketPeerAddress(TSocket socket, std::string& ip, int& port) {
    sockaddr_in address{};
    int length = sizeof address;
    if (getpeername(Native(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return FailLast();
    }
    ReadAddress(address, ip, port);
    return 0;
}

int ResolveHostAddress(const std::string& host, std::string& ip, const TCancelEvent* cancel) {
    const int result =
        cancel != nullptr ? LookUpUnlessCancelled(host, ip, *cancel) : LookUp(host, ip);
    if (result != 0) {
        LastError = result;
    }
    return result;
}

}  // namespace sejfko

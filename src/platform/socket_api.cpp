#include "platform/socket_api.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/cancel_event.hpp"

#ifdef __linux__
#include <linux/sockios.h>
#endif

namespace sejfko {

namespace {

thread_local int LastError = 0;

int Fail(int error) {
    LastError = SocketErrorFromErrno(error);
    return -1;
}

int Native(TSocket socket) {
    return static_cast<int>(socket);
}

bool MakeAddress(const std::string& ip, int port, sockaddr_in& address) {
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
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

// poll() rather than select(): select cannot wait on descriptors above FD_SETSIZE. The cancel
// event's descriptor is watched beside the socket, so a stop ends the wait however long its
// limit; a signal (EINTR) does not, since stops never arrive that way.
int WaitFor(int fd, short events, int timeoutMs, const TCancelEvent* cancel) {
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
        pollfd entries[2] = {{fd, events, 0},
                             {cancel != nullptr ? cancel->Handle() : -1, POLLIN, 0}};
        const int result = poll(entries, cancel != nullptr ? 2 : 1, wait);
        if (result < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Fail(errno);
        }
        if (cancel != nullptr && entries[1].revents != 0) {
            return Interrupted();
        }
        return entries[0].revents != 0 ? 1 : 0;
    }
}

int LookUp(const std::string& host, std::string& ip) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int result = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (result != 0 || found == nullptr) {
        return result == EAI_AGAIN  ? WsaTryAgain
               : result == EAI_FAIL ? WsaNoRecovery
                                    : WsaHostNotFound;
    }
    int port = 0;
    ReadAddress(*reinterpret_cast<const sockaddr_in*>(found->ai_addr), ip, port);
    freeaddrinfo(found);
    return 0;
}

// A lookup on a thread of its own, shared with it: whoever ends last frees it.
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
        // No descriptor or thread to spare: look up here, deaf to the stop for once.
        return LookUp(host, ip);
    }
    if (WaitFor(lookup->Finished.Handle(), POLLIN, -1, &cancel) < 0) {
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
    switch (error) {
        case EINTR:
            return 10004;
        case EBADF:
            return 10009;
        case EACCES:
            return 10013;
        case EFAULT:
            return 10014;
        case EINVAL:
            return 10022;
        case EMFILE:
            return 10024;
        case EWOULDBLOCK:
            return 10035;
        case EINPROGRESS:
            return 10036;
        case EALREADY:
            return 10037;
        case ENOTSOCK:
            return 10038;
        case EDESTADDRREQ:
            return 10039;
        case EMSGSIZE:
            return 10040;
        case EPROTOTYPE:
            return 10041;
        case ENOPROTOOPT:
            return 10042;
        case EPROTONOSUPPORT:
            return 10043;
        case ESOCKTNOSUPPORT:
            return 10044;
        case EOPNOTSUPP:
            return 10045;
        case EPFNOSUPPORT:
            return 10046;
        case EAFNOSUPPORT:
            return 10047;
        case EADDRINUSE:
            return 10048;
        case EADDRNOTAVAIL:
            return 10049;
        case ENETDOWN:
            return 10050;
        case ENETUNREACH:
            return 10051;
        case ENETRESET:
            return 10052;
        case ECONNABORTED:
            return 10053;
        case ECONNRESET:
        case EPIPE:
            return 10054;
        case ENOBUFS:
            return 10055;
        case EISCONN:
            return 10056;
        case ENOTCONN:
            return 10057;
        case ESHUTDOWN:
            return 10058;
        case ETOOMANYREFS:
            return 10059;
        case ETIMEDOUT:
            return 10060;
        case ECONNREFUSED:
            return 10061;
        case ELOOP:
            return 10062;
        case ENAMETOOLONG:
            return 10063;
        case EHOSTDOWN:
            return 10064;
        case EHOSTUNREACH:
            return 10065;
        case ENOTEMPTY:
            return 10066;
        default:
            return error;
    }
}

TSocket SocketCreateStream() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        Fail(errno);
        return InvalidSocket;
    }
    return fd;
}

int SocketBind(TSocket socket, const std::string& ip, int port) {
    sockaddr_in address{};
    if (!MakeAddress(ip, port, address)) {
        return Fail(EADDRNOTAVAIL);
    }
    if (bind(Native(socket), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        return Fail(errno);
    }
    return 0;
}

int SocketConnect(TSocket socket, const std::string& ip, int port, int timeoutMs,
                  const TCancelEvent* cancel) {
    sockaddr_in address{};
    if (!MakeAddress(ip, port, address)) {
        return Fail(EADDRNOTAVAIL);
    }
    const int fd = Native(socket);
    if (timeoutMs < 0 && cancel == nullptr) {
        int result = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        return result == 0 ? 0 : Fail(errno);
    }
    // Non-blocking for the connect only, so that the wait is ours to bound.
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        return Fail(errno);
    }
    int result = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int error = result == 0 ? 0 : errno;
    if (error == EINPROGRESS) {
        int ready = WaitFor(fd, POLLOUT, timeoutMs, cancel);
        if (ready < 0) {
            fcntl(fd, F_SETFL, flags);
            return -1;  // LastError says why
        }
        if (ready == 0) {
            error = ETIMEDOUT;
        } else {
            socklen_t length = sizeof error;
            if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
                error = errno;
            }
        }
    }
    fcntl(fd, F_SETFL, flags);
    return error == 0 ? 0 : Fail(error);
}

int SocketListen(TSocket socket, int backlog) {
    return listen(Native(socket), backlog) == 0 ? 0 : Fail(errno);
}

TSocket SocketAccept(TSocket listener) {
    for (;;) {
        int fd = accept4(Native(listener), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            return fd;
        }
        if (errno != EINTR) {
            Fail(errno);
            return InvalidSocket;
        }
    }
}

int SocketWaitReadable(TSocket socket, int timeoutMs, const TCancelEvent* cancel) {
    return WaitFor(Native(socket), POLLIN, timeoutMs, cancel);
}

int SocketWaitWritable(TSocket socket, int timeoutMs, const TCancelEvent* cancel) {
    return WaitFor(Native(socket), POLLOUT, timeoutMs, cancel);
}

std::ptrdiff_t SocketSend(TSocket socket, const void* data, std::size_t size) {
    for (;;) {
        ssize_t sent = send(Native(socket), data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0) {
            return sent;
        }
        if (errno != EINTR) {
            return Fail(errno == EAGAIN ? EWOULDBLOCK : errno);
        }
    }
}

std::ptrdiff_t SocketReceive(TSocket socket, void* buffer, std::size_t size) {
    for (;;) {
        ssize_t received = recv(Native(socket), buffer, size, 0);
        if (received >= 0) {
            return received;
        }
        if (errno != EINTR) {
            return Fail(errno);
        }
    }
}

int SocketSetNoDelay(TSocket socket, bool on) {
    int value = on ? 1 : 0;
    return setsockopt(Native(socket), IPPROTO_TCP, TCP_NODELAY, &value, sizeof value) == 0
               ? 0
               : Fail(errno);
}

int64_t SocketUnacknowledged(TSocket socket) {
#ifdef SIOCOUTQ
    int queued = 0;
    if (ioctl(Native(socket), SIOCOUTQ, &queued) == 0) {
        return queued;
    }
#else
    (void)socket;
#endif
    return -1;
}

int SocketShutdownSend(TSocket socket) {
    return shutdown(Native(socket), SHUT_WR) == 0 ? 0 : Fail(errno);
}

int SocketClose(TSocket socket) {
    return close(Native(socket)) == 0 ? 0 : Fail(errno);
}

int SocketLocalAddress(TSocket socket, std::string& ip, int& port) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (getsockname(Native(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return Fail(errno);
    }
    ReadAddress(address, ip, port);
    return 0;
}

int SocketPeerAddress(TSocket socket, std::string& ip, int& port) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (getpeername(Native(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return Fail(errno);
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

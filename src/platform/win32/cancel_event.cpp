// The event is a UDP socket on the loopback that sends itself one datagram when set: left
// unread, the datagram keeps it readable, and WSAPoll waits on sockets only.

#include "platform/cancel_event.hpp"

#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/exceptions.hpp"
#include "platform/win32/winsock_start.hpp"

namespace sejfko {

bool StartWinsock() {
    static const bool started = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

TCancelEvent::TCancelEvent() {
    SOCKET socket = INVALID_SOCKET;
    if (StartWinsock()) {
        socket =
            WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (socket == INVALID_SOCKET ||
        bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        const int error = WSAGetLastError();
        if (socket != INVALID_SOCKET) {
            closesocket(socket);
        }
        throw EOSError(error, "Nelze vytvořit událost pro ukončení.");
    }
    FRead = FWrite = static_cast<int>(socket);
}

TCancelEvent::~TCancelEvent() {
    closesocket(static_cast<SOCKET>(FRead));
}

void TCancelEvent::Set() {
    if (!FSet.exchange(true)) {
        const char byte = 1;
        send(static_cast<SOCKET>(FWrite), &byte, 1, 0);
    }
}

}  // namespace sejfko

#pragma once
// Exceptions of the FTP client's layers and the fixed socket error texts. Messages are the
// network layers' own English texts; callers above translate outcomes for the user.

#include <string>

#include "platform/exceptions.hpp"

namespace sejfko {

// Base of every failure of the FTP client.
class ENetException : public Exception {
public:
    using Exception::Exception;
};

// Failures a caller may treat as an ordinary end (the peer closed the connection).
class ENetSilentException : public ENetException {
public:
    using ENetException::ENetException;
};

// "Connection Closed Gracefully."
class ENetConnClosedGracefully : public ENetSilentException {
public:
    ENetConnClosedGracefully();
};

// "Already connected."
class ENetAlreadyConnected : public ENetException {
public:
    ENetAlreadyConnected();
};

// A socket call failed; `ErrorCode` in Windows Sockets numbering.
class ENetSocketError : public ENetException {
public:
    explicit ENetSocketError(int errorCode);
    int ErrorCode;
};

// A reply code outside the accepted ones; the message is the reply's last line.
class ENetProtocolReplyError : public ENetException {
public:
    ENetProtocolReplyError(int replyCode, const std::string& message)
        : ENetException(message), ReplyCode(replyCode) {}
    int ReplyCode;
};

class ENetTCPConnectionError : public ENetException {
public:
    using ENetException::ENetException;
};

// "Not enough data in buffer."
class ENetNotEnoughDataInBuffer : public ENetTCPConnectionError {
public:
    ENetNotEnoughDataInBuffer();
};

// "No data to read."
class ENetNoDataToRead : public ENetTCPConnectionError {
public:
    ENetNoDataToRead();
};

// What a peer sent breaks the limits every reply and listing must keep (a line or a reply too
// long, a NUL byte in a reply line); the connection cannot be trusted any more.
class ENetInvalidReply : public ENetTCPConnectionError {
public:
    using ENetTCPConnectionError::ENetTCPConnectionError;
};

// Encryption of a connection failed or was refused (handshake, a damaged record, a certificate
// that may not be trusted, a server without TLS); the message is Czech, for the user.
class ENetTlsError : public ENetException {
public:
    using ENetException::ENetException;
};

// "Cannot allocate socket."
class ENetInvalidSocket : public ENetException {
public:
    ENetInvalidSocket();
};

class ENetSocketHandleError : public ENetException {
public:
    using ENetException::ENetException;
};

// "Could not bind socket. Address and port are already in use."
class ENetCouldNotBindSocket : public ENetSocketHandleError {
public:
    ENetCouldNotBindSocket();
};

class ENetStackError : public ENetException {
public:
    using ENetException::ENetException;
};

// "Winsock Initialization Error."
class ENetStackInitializationFailed : public ENetStackError {
public:
    ENetStackInitializationFailed();
};

// "%s could not be loaded."
class ENetStackCanNotLoadWinsock : public ENetException {
public:
    explicit ENetStackCanNotLoadWinsock(const std::string& library);
};

// The fixed text of a socket error number; empty for a number outside the table.
std::string SocketErrorText(int errorCode);
// "Socket Error # %d" CR LF and the text.
std::string SocketErrorMessage(int errorCode);

}  // namespace sejfko

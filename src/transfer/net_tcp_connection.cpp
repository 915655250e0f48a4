#include "transfer/net_tcp_connection.hpp"

#include <algorithm>
#include <chrono>
#include <mutex>

#include "platform/socket_api.hpp"
#include "transfer/net_errors.hpp"

namespace sejfko {

namespace {

std::mutex DefaultsLock;
TNetTimeouts Defaults;

int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int MsLeft(int64_t deadlineMs) {
    return static_cast<int>(std::clamp<int64_t>(deadlineMs - SteadyMs(), 0, INT32_MAX));
}

// Whether the first `count` characters of `text` equal `prefix` (of that length) without
// regard to ASCII letter case.
bool StartsWithNoCase(const std::string& text, const char* prefix, std::size_t count) {
    if (text.size() < count) {
        return false;
    }
    // ASCII only, whatever locale the front end has set.
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    for (std::size_t index = 0; index < count; ++index) {
        if (lower(text[index]) != lower(prefix[index])) {
            return false;
        }
    }
    return true;
}

// "+OK" gives 1, "-ERR" 0, three digits their value, anything else 0.
int ReplyCodeOf(const std::string& line) {
    if (StartsWithNoCase(line, "+OK", 3)) {
        return 1;
    }
    if (StartsWithNoCase(line, "-ERR", 4)) {
        return 0;
    }
    if (line.size() < 3) {
        return 0;
    }
    int code = 0;
    for (int index = 0; index < 3; ++index) {
        const char c = line[index];
        if (c < '0' || c > '9') {
            return 0;
        }
        code = code * 10 + (c - '0');
    }
    return code;
}

constexpr std::size_t MaxReplyLines = 10000;
constexpr std::size_t ChunksPerRead = 16;
// How often a send that waits for room looks whether the peer acknowledged data meanwhile.
constexpr int64_t AcknowledgementCheckMs = 200;

}  // namespace

std::string TrimControls(const std::string& text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= 32) {
        ++first;
    }
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= 32) {
        --last;
    }
    return text.substr(first, last - first);
}

TNetTimeouts DefaultNetTimeouts() {
    std::lock_guard lock(DefaultsLock);
    return Defaults;
}

void SetDefaultNetTimeouts(const TNetTimeouts& timeouts) {
    std::lock_guard lock(DefaultsLock);
    Defaults = timeouts;
}

TNetTCPConnection::TNetTCPConnection() : Timeouts(DefaultNetTimeouts()) {}

TNetTCPConnection::~TNetTCPConnection() = default;

void TNetTCPConnection::DoOnDisconnected() {
    if (OnDisconnected) {
        OnDisconnected(this);
    }
}

void TNetTCPConnection::ResetConnection() {
    FInputBuffer.clear();
    FClosedGracefully = false;
}

void TNetTCPConnection::CheckForDisconnect(bool raise, bool ignoreBuffer) {
    if (!FClosedGracefully && FSocket.HandleAllocated()) {
        return;
    }
    if (FSocket.HandleAllocated()) {
        CloseSocket();
    }
    if (raise && (FInputBuffer.empty() || ignoreBuffer)) {
        throw ENetConnClosedGracefully();
    }
}

void TNetTCPConnection::CheckForGracefulDisconnect(bool raise) {
    ReadFromSocket(false, 1);
    CheckForDisconnect(raise);
}

int TNetTCPConnection::CheckReplyCode(const std::vector<int>& accepted) {
    if (accepted.empty() ||
        std::find(accepted.begin(), accepted.end(), FReplyCode) != accepted.end()) {
        return FReplyCode;
    }
    RaiseReplyError();
}

bool TNetTCPConnection::Connected() {
    CheckForDisconnect(false);
    return FSocket.HandleAllocated();
}

void TNetTCPConnection::Disconnect() {
    CloseSocket();
}

void TNetTCPConnection::CloseSocket() {
    if (!FSocket.HandleAllocated()) {
        return;
    }
    DoStatus(hsDisconnecting, FSocket.PeerIP);
    FSocket.CloseSocket();
    FClosedGracefully = true;
    DoStatus(hsDisconnected);
    DoOnDisconnected();
}

void TNetTCPConnection::RaiseReplyError() {
    throw ENetProtocolReplyError(FReplyCode, FReplyLines.empty() ? "" : FReplyLines.back());
}

int TNetTCPConnection::ReadReply(const std::vector<int>& accepted, int timeoutMs) {
    const int64_t deadline = SteadyMs() + (timeoutMs < 0 ? Timeouts.Reply : timeoutMs);
    FReplyLines.clear();
    FReplyCode = 0;
    FReplyBytes = 0;
    FReplyLines.push_back(ReadNonEmptyLine(deadline));
    const std::string& first = FReplyLines.front();
    if (first.size() >= 4 && first[3] == '-') {
        const std::string marker = first.substr(0, 3) + " ";
        for (;;) {
            if (FReplyLines.size() >= MaxReplyLines) {
                throw ENetInvalidReply("Reply too long.");
            }
            FReplyLines.push_back(ReadNonEmptyLine(deadline));
            const std::string& line = FReplyLines.back();
            if (line.size() < 4 || StartsWithNoCase(line, marker.c_str(), 4)) {
                break;
            }
        }
    }
    FReplyCode = ReplyCodeOf(FReplyLines.back());
    return CheckReplyCode(accepted);
}

std::size_t TNetTCPConnection::ReadFromSocket(bool raise, int timeoutMs, std::string* target) {
    FReadTimedOut = false;
    CheckForDisconnect(raise);
    if (!FSocket.HandleAllocated()) {
        return 0;
    }
    if (!FSocket.Readable(timeoutMs, CancelEvent)) {
        FReadTimedOut = true;
        return 0;
    }
    std::string& buffer = target != nullptr ? *target : FRecvBuffer;
    if (target == nullptr) {
        buffer.resize(static_cast<std::size_t>(std::max(RecvBufferSize, 1)));
    }
    std::ptrdiff_t received = FSocket.Receive(buffer.data(), buffer.size());
    if (received == 0) {
        FClosedGracefully = true;
    } else if (received < 0) {
        const int error = LastSocketError();
        if (error != WsaShutdown) {
            throw ENetSocketError(error);
        }
        CloseSocket();
        received = 0;
        if (FInputBuffer.empty()) {
            throw ENetSocketError(error);
        }
    }
    const auto count = static_cast<std::size_t>(received);
    if (count > 0) {
        FProgressMs = SteadyMs();
    }
    if (ASCIIFilter) {
        for (std::size_t index = 0; index < count; ++index) {
            buffer[index] = static_cast<char>(static_cast<unsigned char>(buffer[index]) % 128);
        }
    }
    if (target == nullptr) {
        FInputBuffer.append(buffer.data(), count);
    } else if (count > 0) {
        DoWork(wmRead, static_cast<int64_t>(count));
    }
    CheckForDisconnect(raise);
    return count;
}

std::size_t TNetTCPConnection::FindTerminator(char terminator) const {
    std::size_t at = FInputBuffer.find(terminator);
    if ((at == std::string::npos && FInputBuffer.size() > MaxLineLength) ||
        (at != std::string::npos && at > MaxLineLength)) {
        throw ENetInvalidReply("Reply line too long.");
    }
    return at;
}

std::string TNetTCPConnection::ReadLine(char terminator, int timeoutMs) {
    FReadLnTimedOut = false;
    const int64_t deadline = SteadyMs() + std::max(timeoutMs, 0);
    std::size_t at;
    while ((at = FindTerminator(terminator)) == std::string::npos) {
        CheckForDisconnect(true, true);
        if (ReadFromSocket(true, timeoutMs < 0 ? -1 : MsLeft(deadline)) == 0 && FReadTimedOut) {
            FReadLnTimedOut = true;
            return "";
        }
    }
    std::string line = FInputBuffer.substr(0, at);
    FInputBuffer.erase(0, at + 1);
    if (terminator == '\n' && !line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

std::string TNetTCPConnection::ReadNonEmptyLine(int64_t deadlineMs) {
    for (;;) {
        std::string line = ReadLine('\n', MsLeft(deadlineMs));
        if (FReadLnTimedOut) {
            throw ENetSocketError(WsaTimedOut);
        }
        FReplyBytes += line.size() + 1;
        if (FReplyBytes > MaxReplyBytes) {
            throw ENetInvalidReply("Reply too long.");
        }
        line = TrimControls(line);
        if (line.find('\0') != std::string::npos) {
            throw ENetInvalidReply("Invalid reply line.");
        }
        if (!line.empty()) {
            return line;
        }
    }
}

int TNetTCPConnection::SendCommand(const std::string& command, const std::vector<int>& accepted,
                                   int timeoutMs) {
    if (command != std::string(1, '\0')) {
        // A name or password with a line break would smuggle in a command of its own.
        if (command.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
            throw ENetTCPConnectionError("Command contains a line break or NUL.");
        }
        WriteLine(command);
    }
    return ReadReply(accepted, timeoutMs);
}

int TNetTCPConnection::SendCommand(const std::string& command, int accepted) {
    return accepted == -1 ? SendCommand(command, std::vector<int>{})
                          : SendCommand(command, std::vector<int>{accepted});
}

void TNetTCPConnection::Write(const std::string& text) {
    WriteBuffer(text.data(), text.size());
}

void TNetTCPConnection::WriteLine(const std::string& text) {
    Write(text + "\r\n");
}

void TNetTCPConnection::WriteBuffer(const void* data, std::size_t size) {
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        if (!FSocket.HandleAllocated()) {
            throw ENetConnClosedGracefully();
        }
        std::ptrdiff_t sent = FSocket.Send(next, size);
        if (sent < 0 && LastSocketError() == WsaWouldBlock) {
            WaitUntilWritable();
            continue;
        }
        if (sent == 0) {
            FClosedGracefully = true;
        } else if (sent > 0) {
            FProgressMs = SteadyMs();
        }
        if (sent < 0) {
            const int error = LastSocketError();
            if (error == WsaShutdown) {
                CloseSocket();
            }
            throw ENetSocketError(error);
        }
        CheckForDisconnect(true, false);
        DoWork(wmWrite, sent);
        next += sent;
        size -= static_cast<std::size_t>(sent);
    }
}

// The wait is sliced so that the peer's acknowledgements are seen while the socket stays full: a
// slow link that drains a large send buffer is alive, a reader that stopped is not.
void TNetTCPConnection::WaitUntilWritable() {
    int64_t unacknowledged = FSocket.Unacknowledged();
    for (;;) {
        int wait = -1;
        if (Timeouts.Data > 0) {
            const int64_t left = FProgressMs + Timeouts.Data - SteadyMs();
            if (left <= 0) {
                throw ENetSocketError(WsaTimedOut);
            }
            wait = static_cast<int>(std::min<int64_t>(left, AcknowledgementCheckMs));
        }
        if (FSocket.Writable(wait, CancelEvent)) {
            return;
        }
        const int64_t now = FSocket.Unacknowledged();
        if (now >= 0 && unacknowledged >= 0 && now < unacknowledged) {
            FProgressMs = SteadyMs();
        }
        unacknowledged = now;
    }
}

void TNetTCPConnection::SendStream(TNetSource& source, bool fromStart, bool lengthPrefix) {
    if (fromStart) {
        source.Rewind();
    }
    const int64_t size = source.Remaining();
    if (lengthPrefix) {
        const auto value = static_cast<uint32_t>(size);
        const unsigned char prefix[4] = {
            static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
            static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
        WriteBuffer(prefix, sizeof prefix);
    }
    BeginWork(wmWrite, size);
    try {
        // The file is read in blocks of several chunks (fewer reads), the socket still gets one
        // chunk per send, so progress moves as often as before.
        const auto chunk = static_cast<std::size_t>(std::max(SendBufferSize, 1));
        std::string buffer(chunk * ChunksPerRead, '\0');
        int64_t remaining = size;
        while (remaining > 0) {
            const auto wanted =
                static_cast<std::size_t>(std::min<int64_t>(remaining, buffer.size()));
            const std::size_t got = source.Read(buffer.data(), wanted);
            if (got == 0) {
                throw ENetNoDataToRead();
            }
            for (std::size_t at = 0; at < got; at += chunk) {
                WriteBuffer(buffer.data() + at, std::min(chunk, got - at));
            }
            remaining -= static_cast<int64_t>(got);
        }
    } catch (...) {
        try {
            EndWork(wmWrite);
        } catch (...) {
            // The first failure is the one the caller needs.
        }
        throw;
    }
    EndWork(wmWrite);
}

void TNetTCPConnection::ReceiveStream(TNetSink& sink, int64_t byteCount, bool untilClose) {
    if (!untilClose && byteCount == -1) {
        while (FInputBuffer.size() < 4) {
            if (ReadFromSocket(true, Timeouts.Data) == 0 && FReadTimedOut) {
                throw ENetSocketError(WsaTimedOut);
            }
        }
        byteCount = 0;
        for (int index = 0; index < 4; ++index) {
            byteCount = (byteCount << 8) | static_cast<unsigned char>(FInputBuffer[index]);
        }
        FInputBuffer.erase(0, 4);
    }
    BeginWork(wmRead, untilClose ? 0 : byteCount);
    try {
        int64_t wanted = untilClose ? INT64_MAX : byteCount;
        if (!FInputBuffer.empty() && wanted > 0) {
            const auto moved = static_cast<std::size_t>(
                std::min<int64_t>(wanted, static_cast<int64_t>(FInputBuffer.size())));
            sink.Write(FInputBuffer.data(), moved);
            FInputBuffer.erase(0, moved);
            wanted -= static_cast<int64_t>(moved);
            DoWork(wmRead, static_cast<int64_t>(moved));
        }
        std::string buffer;
        while (wanted > 0 && Connected()) {
            buffer.resize(
                static_cast<std::size_t>(std::min<int64_t>(wanted, std::max(RecvBufferSize, 1))));
            const std::size_t got = ReadFromSocket(!untilClose, Timeouts.Data, &buffer);
            if (got == 0 && FReadTimedOut) {
                throw ENetSocketError(WsaTimedOut);
            }
            sink.Write(buffer.data(), got);
            wanted -= static_cast<int64_t>(got);
        }
    } catch (...) {
        try {
            EndWork(wmRead);
        } catch (...) {
        }
        throw;
    }
    EndWork(wmRead);
}

void TNetTCPConnection::PrepareSocket() {
    FProgressMs = SteadyMs();
}

}  // namespace sejfko

#pragma once
// TNetTCPConnection: one TCP connection with buffered line reading, numbered (multi-line)
// replies, sending of lines, blocks and streams, and work events for streams. Used by one thread
// at a time; every call blocks that thread, and every wait is bounded by `Timeouts` (expiry
// raises ENetSocketError 10060 "Connection timed out."). What a peer sends is bounded too: a
// line over MaxLineLength, a reply over MaxReplyBytes (blank lines included) or a reply line
// holding a NUL byte raises ENetInvalidReply, so a hostile server can neither exhaust memory nor
// keep a reply going for ever. Once `CancelEvent` is set, every wait ends at once with
// ENetSocketError 10004 "Interrupted system call.", whatever its limit.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "transfer/net_component.hpp"
#include "transfer/net_socket.hpp"
#include "transfer/net_stream.hpp"

namespace sejfko {

class TCancelEvent;

// The text without leading and trailing bytes 0..32 (how replies and commands are trimmed).
std::string TrimControls(const std::string& text);

// Time limits in milliseconds.
struct TNetTimeouts {
    int Connect = 30000;
    int Reply = 60000;        // each reply, from the first byte awaited to its last line
    int Completion = 300000;  // the completion reply after an upload (servers may flush first)
    int Accept = 30000;       // the server's data connection in active mode
    int AcceptPoll = 250;     // pause between checks for an abort while accepting
    // The connection without any progress: no byte received, taken by the socket or
    // acknowledged by the peer, counted across calls (a trickle of partial sends does not
    // restart it).
    int Data = 60000;
};

// The limits new connections start with; tests set short ones. Thread-safe.
TNetTimeouts DefaultNetTimeouts();
void SetDefaultNetTimeouts(const TNetTimeouts& timeouts);

constexpr std::size_t MaxLineLength = 64 * 1024;
constexpr std::size_t MaxReplyBytes = 1024 * 1024;

class TNetTCPConnection : public TNetComponent {
public:
    TNetTCPConnection();
    ~TNetTCPConnection() override;

    // Fires OnDisconnected.
    virtual void DoOnDisconnected();
    // Empties InputBuffer and clears ClosedGracefully.
    virtual void ResetConnection();
    // When the peer has closed (or the socket is gone): closes the socket and, with `raise`, raises
    // ENetConnClosedGracefully if InputBuffer is empty or `ignoreBuffer` is set.
    void CheckForDisconnect(bool raise = true, bool ignoreBuffer = false);
    void CheckForGracefulDisconnect(bool raise = true);
    // The code of the last reply when accepted (an empty list accepts all), else
    // ENetProtocolReplyError with the last reply line.
    int CheckReplyCode(const std::vector<int>& accepted);
    bool Connected();
    virtual void Disconnect();
    // Closes the socket, sets ClosedGracefully and fires OnDisconnected.
    void CloseSocket();

    // Reads one reply (multi-line rule, code rule) within `timeoutMs` (negative: Timeouts.Reply)
    // and checks its code.
    int ReadReply(const std::vector<int>& accepted, int timeoutMs = -1);
    // Reads what the socket has into InputBuffer (or, with `target`, into it: at most its size,
    // with a read work event). Returns the byte count; 0 when `timeoutMs` passed (ReadTimedOut()
    // tells) or the peer closed. With `raise`, a closed connection raises.
    std::size_t ReadFromSocket(bool raise, int timeoutMs, std::string* target = nullptr);
    // The bytes up to the terminator (the terminator dropped; for LF also one CR before it).
    // Empty with ReadLnTimedOut set when `timeoutMs` passed first (negative: no limit).
    std::string ReadLine(char terminator = '\n', int timeoutMs = -1);
    // ReadLine trimmed of codes 0 to 32 until not empty, all before `deadlineMs` of the steady
    // clock runs out (ENetSocketError 10060).
    std::string ReadNonEmptyLine(int64_t deadlineMs);

    // Writes `command` (unless it is a single NUL) and reads the reply. `accepted` as in
    // CheckReplyCode; the single-code form takes -1 for any code. A command holding CR, LF or NUL
    // is refused with ENetTCPConnectionError before anything is sent.
    int SendCommand(const std::string& command, const std::vector<int>& accepted,
                    int timeoutMs = -1);
    int SendCommand(const std::string& command, int accepted);
    void Write(const std::string& text);
    void WriteLine(const std::string& text);
    // Sends the whole block; every send reports write work.
    void WriteBuffer(const void* data, std::size_t size);
    // Sends the stream in chunks of SendBufferSize between write work begin and end (the end
    // also on failure). Rewinds first with `fromStart`; `lengthPrefix` sends the byte count
    // first as 4 bytes in network order.
    void SendStream(TNetSource& source, bool fromStart = true, bool lengthPrefix = false);
    // Receives `byteCount` bytes, or with `untilClose` everything until the peer closes, into
    // `sink`, between read work begin and end. -1 without `untilClose` reads a 4-byte
    // network-order count first. Each wait is bounded by Timeouts.Data.
    void ReceiveStream(TNetSink& sink, int64_t byteCount = -1, bool untilClose = false);

    TNetSocketHandle& Socket() { return FSocket; }
    const std::string& InputBuffer() const { return FInputBuffer; }
    bool ClosedGracefully() const { return FClosedGracefully; }
    bool ReadLnTimedOut() const { return FReadLnTimedOut; }
    bool ReadTimedOut() const { return FReadTimedOut; }
    int ReplyCode() const { return FReplyCode; }
    const std::vector<std::string>& ReplyLines() const { return FReplyLines; }

    int32_t RecvBufferSize = 32768;
    int32_t SendBufferSize = 32768;
    bool ASCIIFilter = false;
    TNetTimeouts Timeouts;
    // The stop request that ends every wait of this connection (none: waits end by their limits).
    const TCancelEvent* CancelEvent = nullptr;
    std::function<void(TNetTCPConnection* Sender)> OnDisconnected;

protected:
    // A socket just connected or accepted starts the inactivity clock.
    void PrepareSocket();

    TNetSocketHandle FSocket;
    std::string FInputBuffer;
    bool FClosedGracefully = false;

private:
    [[noreturn]] void RaiseReplyError();
    // Waits until the socket takes data again; ENetSocketError 10060 when Timeouts.Data passes
    // without progress.
    void WaitUntilWritable();
    // Where a reply line ends; raises ENetInvalidReply when the buffer already holds more than a
    // line may have.
    std::size_t FindTerminator(char terminator) const;

    std::string FRecvBuffer;
    std::vector<std::string> FReplyLines;
    int FReplyCode = 0;
    bool FReadLnTimedOut = false;
    bool FReadTimedOut = false;
    std::size_t FReplyBytes = 0;  // bytes consumed by the reply being read
    int64_t FProgressMs = 0;      // steady clock of the last progress on the connection
};

}  // namespace sejfko

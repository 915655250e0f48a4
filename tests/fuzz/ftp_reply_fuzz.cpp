// The bytes a server sends on the control connection, read reply by reply by the real connection
// from a local socket (a thread sends them and closes its side), against a model of the reply
// rules: lines end at LF (one CR before it dropped) and are trimmed of bytes 0..32, blank lines are
// passed over, a first line "ddd-" opens a reply that ends at a line shorter than four bytes or
// starting "ddd " (letter case aside). Limits: a line over MaxLineLength, a reply over
// MaxReplyBytes or MaxReplyLines, a NUL byte inside a line are an invalid reply; the end of
// the bytes ends the reading with a closed connection. The passive reply's port is read from
// every line as well.

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "fuzz/fuzz_targets.hpp"
#include "transfer/net_errors.hpp"
#include "transfer/net_ftp.hpp"
#include "transfer/net_tcp_connection.hpp"

namespace sejfko::fuzz {

namespace {

constexpr std::size_t MaxReplyLines = 10000;

struct TReply {
    int Code = 0;
    std::vector<std::string> Lines;
};

enum class TEnd { Closed, Invalid };

struct TModelStream {
    std::string_view Rest;
    std::size_t ReplyBytes = 0;

    // The next non-empty trimmed line; false with `end` set when the reading stops.
    bool NextLine(std::string& line, TEnd& end) {
        for (;;) {
            const std::size_t newline = Rest.find('\n');
            const std::size_t length = newline == std::string_view::npos ? Rest.size() : newline;
            if (length > MaxLineLength) {
                end = TEnd::Invalid;
                return false;
            }
            if (newline == std::string_view::npos) {
                end = TEnd::Closed;
                return false;
            }
            std::string_view raw = Rest.substr(0, newline);
            Rest.remove_prefix(newline + 1);
            if (raw.ends_with('\r')) {
                raw.remove_suffix(1);
            }
            ReplyBytes += raw.size() + 1;
            if (ReplyBytes > MaxReplyBytes) {
                end = TEnd::Invalid;
                return false;
            }
            while (!raw.empty() && static_cast<unsigned char>(raw.front()) <= 32) {
                raw.remove_prefix(1);
            }
            while (!raw.empty() && static_cast<unsigned char>(raw.back()) <= 32) {
                raw.remove_suffix(1);
            }
            if (raw.find('\0') != std::string_view::npos) {
                end = TEnd::Invalid;
                return false;
            }
            if (!raw.empty()) {
                line = raw;
                return true;
            }
        }
    }
};

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

bool SameNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

int ModelCode(const std::string& line) {
    if (SameNoCase(std::string_view(line).substr(0, 3), "+ok")) {
        return 1;
    }
    if (line.size() < 3 || line.find_first_not_of("0123456789") < 3) {
        return 0;
    }
    return std::stoi(line.substr(0, 3));
}

TEnd ModelReplies(std::string_view bytes, std::vector<TReply>& replies) {
    TModelStream stream{bytes};
    TEnd end = TEnd::Closed;
    for (;;) {
        TReply reply;
        std::string line;
        stream.ReplyBytes = 0;
        if (!stream.NextLine(line, end)) {
            return end;
        }
        reply.Lines.push_back(line);
        if (line.size() >= 4 && line[3] == '-') {
            const std::string marker = line.substr(0, 3) + " ";
            for (;;) {
                if (reply.Lines.size() >= MaxReplyLines) {
                    return TEnd::Invalid;
                }
                if (!stream.NextLine(line, end)) {
                    return end;
                }
                reply.Lines.push_back(line);
                if (line.size() < 4 || SameNoCase(std::string_view(line).substr(0, 4), marker)) {
                    break;
                }
            }
        }
        reply.Code = ModelCode(reply.Lines.back());
        replies.push_back(std::move(reply));
    }
}

// A listener for the whole run: each input is one accepted connection. A local (Unix) stream
// socket, not TCP: hundreds of thousands of connections a minute would leave TCP ones waiting
// out their time until no port is free, and the reader sees the same stream of bytes.
sockaddr_un ListenerAddress() {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // Abstract (leading NUL): nothing on disk, gone with the process.
    const std::string name = "sejfko-fuzz-reply-" + std::to_string(::getpid());
    name.copy(address.sun_path + 1, sizeof address.sun_path - 2);
    return address;
}

int Listener() {
    static const int listener = [] {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_un address = ListenerAddress();
        FUZZ_CHECK(
            fd >= 0 &&
                ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
                ::listen(fd, 4) == 0,
            std::string("no local listener"));
        return fd;
    }();
    return listener;
}

int ConnectToListener() {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = ListenerAddress();
    FUZZ_CHECK(
        fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0,
        std::string("cannot connect to the local listener"));
    return fd;
}

std::string Describe(const TReply& reply) {
    std::string text = std::to_string(reply.Code);
    for (const std::string& line : reply.Lines) {
        text += " " + Quote(line);
    }
    return text;
}

}  // namespace

int FuzzFtpReply(const uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::vector<TReply> expected;
    const TEnd expectedEnd = ModelReplies(bytes, expected);

    const int listener = Listener();
    const int peer = ConnectToListener();
    std::thread sender([peer, &bytes] {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t sent =
                ::send(peer, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (sent <= 0) {
                break;  // the reader gave up and closed its side
            }
            done += static_cast<std::size_t>(sent);
        }
        ::shutdown(peer, SHUT_WR);
    });

    std::vector<TReply> replies;
    TEnd end = TEnd::Closed;
    {
        TNetTCPConnection connection;
        connection.Socket().Accept(listener);
        try {
            for (;;) {
                connection.ReadReply({});
                replies.push_back(TReply{connection.ReplyCode(), connection.ReplyLines()});
            }
        } catch (const ENetConnClosedGracefully&) {
            end = TEnd::Closed;
        } catch (const ENetInvalidReply&) {
            end = TEnd::Invalid;
        } catch (const std::exception& error) {
            FUZZ_CHECK(false, std::string("unexpected failure: ") + error.what());
        }
    }
    sender.join();
    ::close(peer);

    FUZZ_CHECK(replies.size() == expected.size() && end == expectedEnd,
               std::to_string(replies.size()) + " replies and " +
                   (end == TEnd::Closed ? "closed" : "invalid") + ", the model " +
                   std::to_string(expected.size()) + " and " +
                   (expectedEnd == TEnd::Closed ? "closed" : "invalid"));
    for (std::size_t i = 0; i < replies.size(); ++i) {
        FUZZ_CHECK(replies[i].Code == expected[i].Code && replies[i].Lines == expected[i].Lines,
                   "reply " + std::to_string(i) + ": " + Describe(replies[i]) + ", the model " +
                       Describe(expected[i]));
        for (const std::string& line : replies[i].Lines) {
            int passivePort = 0;
            if (ParsePassiveReply(line, passivePort)) {
                FUZZ_CHECK(passivePort > 0 && passivePort <= 65535,
                           "port " + std::to_string(passivePort) + " from " + Quote(line));
            }
        }
    }
    return 0;
}

}  // namespace sejfko::fuzz

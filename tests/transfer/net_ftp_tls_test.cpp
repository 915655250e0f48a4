// The TLS steps of the FTP client against the scripted server: what is sent before the
// handshake, refusals, injected clear text, a peer that breaks or stalls the handshake, a stop
// request during it; and the fingerprint texts users paste.

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <thread>

#include "platform/cancel_event.hpp"
#include "platform/tls_channel.hpp"
#include "transfer/fake_ftp_server.hpp"
#include "transfer/net_errors.hpp"
#include "transfer/net_ftp.hpp"

namespace sejfko {
namespace {

using test::TFakeFtpServer;
using test::TFakeSession;

void Prepare(TNetFTP& ftp, const TFakeFtpServer& server) {
    ftp.Host = "127.0.0.1";
    ftp.Port = server.Port();
    ftp.User = "zaloha";
    ftp.Password = "tajne";
    ftp.UseTls = true;
}

// Answers "AUTH TLS" with `reply`, waits for the client's first handshake bytes, runs `then`
// and keeps the connection until the client closes it.
TFakeFtpServer::TOverride AcceptTls(const std::string& reply, std::function<void(int fd)> then) {
    return [reply, then](TFakeSession& session, const std::string& verb, const std::string&) {
        if (verb != "AUTH") {
            return false;
        }
        session.Reply(reply);
        char hello[4096];
        if (::recv(session.Control.Fd, hello, sizeof hello, 0) > 0 && then) {
            then(session.Control.Fd);
        }
        while (::recv(session.Control.Fd, hello, sizeof hello, 0) > 0) {
        }
        return true;
    };
}

TEST(NetFtpTls, NothingButAuthTlsReachesAServerThatRefusesOrCheats) {
    struct TCase {
        const char* Name;
        TFakeFtpServer::TOverride Override;
        const char* Text;
    };
    const TCase cases[] = {
        {"refused",
         [](TFakeSession& s, const std::string& verb, const std::string&) {
             return verb == "AUTH" && s.Reply("500 AUTH not understood");
         },
         "odmítl šifrované spojení"},
        {"clear text injected behind 234",
         [](TFakeSession& s, const std::string& verb, const std::string&) {
             return verb == "AUTH" && s.Reply("234 Proceed\r\n230 Logged in");
         },
         "nešifrovaná data"},
        {"no TLS after 234",
         AcceptTls("234 Proceed", [](int fd) { ::send(fd, "220 hi\r\n", 8, MSG_NOSIGNAL); }),
         "nepodařilo navázat"},
    };
    for (const TCase& c : cases) {
        TFakeFtpServer server;
        server.Override = c.Override;
        server.Start();
        TNetFTP ftp;
        Prepare(ftp, server);
        try {
            ftp.Connect(true);
            ADD_FAILURE() << c.Name << ": connected";
        } catch (const ENetTlsError& failure) {
            EXPECT_NE(std::string(failure.what()).find(c.Text), std::string::npos)
                << c.Name << ": " << failure.what();
        }
        EXPECT_FALSE(ftp.Connected()) << c.Name;
        server.Stop();
        EXPECT_EQ(server.Transcript(), "AUTH TLS\r\n") << c.Name;
    }
}

TEST(NetFtpTls, APinThatIsNoFingerprintFailsBeforeConnecting) {
    TFakeFtpServer server;
    server.Start();
    TNetFTP ftp;
    Prepare(ftp, server);
    ftp.PinnedFingerprint = "AB:CD:EF";
    EXPECT_THROW(ftp.Connect(true), ENetTlsError);
    server.Stop();
    EXPECT_EQ(server.Sessions(), 0);
}

TEST(NetFtpTls, AStalledHandshakeEndsAtItsLimitOrAtOnceOnAStop) {
    for (const bool stop : {false, true}) {
        TCancelEvent cancel;
        TFakeFtpServer server;
        // The stop comes while the client waits for the server's half of the handshake.
        server.Override = AcceptTls("234 Proceed", [&cancel, stop](int) {
            if (stop) {
                cancel.Set();
            }
        });
        server.Start();
        TNetFTP ftp;
        Prepare(ftp, server);
        ftp.CancelEvent = &cancel;
        // Without a stop the limit ends it; with one, a limit nobody waits for.
        ftp.Timeouts.Connect = stop ? 600000 : 200;
        try {
            ftp.Connect(true);
            ADD_FAILURE() << "connected";
        } catch (const ENetSocketError& failure) {
            EXPECT_EQ(failure.ErrorCode, stop ? WsaInterrupted : WsaTimedOut);
        }
        EXPECT_FALSE(ftp.Connected());
        server.Stop();
        EXPECT_EQ(server.Transcript(), "AUTH TLS\r\n");
    }
}

TEST(Fingerprint, ParsesWhatUsersPasteAndFormatsAsOpensslPrints) {
    const std::string hex("0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef");
    const std::string colons = FormatFingerprint(hex);
    EXPECT_EQ(colons.substr(0, 12), "01:23:45:67:");
    EXPECT_EQ(colons.size(), 95u);
    struct TCase {
        std::string Text;
        bool Valid;
    };
    const TCase cases[] = {
        {hex, true},
        {colons, true},
        {" " + colons + " ", true},
        {"01-23" + hex.substr(4), true},
        {hex.substr(0, 62), false},        // too short
        {hex + "00", false},               // SHA-512 length or longer
        {hex.substr(0, 63) + "g", false},  // not hex
        {"", false},
    };
    for (const TCase& c : cases) {
        std::string parsed;
        EXPECT_EQ(ParseFingerprint(c.Text, parsed), c.Valid) << c.Text;
        if (c.Valid) {
            EXPECT_EQ(parsed, hex) << c.Text;
        }
    }
}

}  // namespace
}  // namespace sejfko

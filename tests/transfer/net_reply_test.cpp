#include <gtest/gtest.h>

#include <ostream>

#include "transfer/fake_ftp_server.hpp"
#include "transfer/net_errors.hpp"
#include "transfer/net_tcp_client.hpp"

namespace sejfko {
namespace {

using test::TFakeFtpServer;
using test::TFakeSession;

// A server that sends `bytes` on connecting and then waits for the client to close.
struct TBytesServer {
    TFakeFtpServer Server;
    explicit TBytesServer(std::string bytes) {
        Server.Script = [bytes](TFakeSession& session) {
            session.Control.Send(bytes);
            session.Control.ReadAll();
        };
        Server.Start();
    }
    explicit TBytesServer(std::function<void(TFakeSession&)> script) {
        Server.Script = std::move(script);
        Server.Start();
    }
};

void ConnectTo(TNetTCPClient& client, const TFakeFtpServer& server) {
    client.Host = "127.0.0.1";
    client.Port = server.Port();
    client.Connect();
}

struct TReplyCase {
    const char* Name;
    std::string Bytes;
    int Code;
    std::vector<std::string> Lines;
};
void PrintTo(const TReplyCase& c, std::ostream* out) {
    *out << c.Name;
}

class NetReplyTest : public testing::TestWithParam<TReplyCase> {};

TEST_P(NetReplyTest, Reads) {
    const TReplyCase& c = GetParam();
    TBytesServer server(c.Bytes);
    TNetTCPClient client;
    ConnectTo(client, server.Server);
    EXPECT_EQ(client.ReadReply({}), c.Code);
    EXPECT_EQ(client.ReplyCode(), c.Code);
    EXPECT_EQ(client.ReplyLines(), c.Lines);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NetReplyTest,
    testing::Values(
        TReplyCase{"MultiLine",
                   "220-Welcome\r\nfree text\r\n220 Ready\r\n",
                   220,
                   {"220-Welcome", "free text", "220 Ready"}},
        TReplyCase{"ShortLineEnds", "220-Welcome\r\nok\r\n220 Ready\r\n", 0, {"220-Welcome", "ok"}},
        TReplyCase{"OtherCodeDoesNotEnd",
                   "220-a\r\n221 b\r\n220 end\r\n",
                   220,
                   {"220-a", "221 b", "220 end"}},
        TReplyCase{"BlanksAndEmptyLines", "\r\n  \r\n\t 220 Ready  \r\n", 220, {"220 Ready"}},
        TReplyCase{"LineFeedOnly", "220-a\ntext\n220 c\n", 220, {"220-a", "text", "220 c"}},
        TReplyCase{"NotDigits", "2x0 odd\r\n", 0, {"2x0 odd"}},
        TReplyCase{"PlusOk", "+ok fine\r\n", 1, {"+ok fine"}},
        TReplyCase{"MinusErr", "-ERR bad\r\n", 0, {"-ERR bad"}},
        TReplyCase{"EndMarkerAnyCase", "21a-x\r\n21A y\r\n", 0, {"21a-x", "21A y"}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(NetReply, UnacceptedCodeRaisesWithTheLastLine) {
    TBytesServer server("220-Welcome\r\nok\r\n");
    TNetTCPClient client;
    ConnectTo(client, server.Server);
    try {
        client.ReadReply({220});
        FAIL();
    } catch (const ENetProtocolReplyError& error) {
        EXPECT_EQ(error.ReplyCode, 0);
        EXPECT_EQ(std::string(error.what()), "ok");
    }
}

TEST(NetReply, RepliesArrivingTogetherAreReadOneByOne) {
    TBytesServer server("200 a\r\n201-b\r\n201 c\r\n202 d");
    TNetTCPClient client;
    ConnectTo(client, server.Server);
    EXPECT_EQ(client.ReadReply({200}), 200);
    EXPECT_EQ(client.ReadReply({201}), 201);
    EXPECT_EQ(client.ReplyLines().size(), 2u);
    EXPECT_EQ(client.InputBuffer(), "202 d");
}

TEST(NetReply, ServerClosingWhileAReplyIsAwaited) {
    TBytesServer server([](TFakeSession& session) {
        session.Control.Send("220-first line\r\n220 partial");
        session.Control.Close();
    });
    TNetTCPClient client;
    ConnectTo(client, server.Server);
    try {
        client.ReadReply({220});
        FAIL();
    } catch (const ENetConnClosedGracefully& error) {
        EXPECT_EQ(std::string(error.what()), "Connection Closed Gracefully.");
    }
    EXPECT_FALSE(client.Connected());
}

TEST(NetReply, SilentServerTimesOut) {
    TBytesServer server("");
    TNetTCPClient client;
    client.Timeouts.Reply = 100;
    ConnectTo(client, server.Server);
    try {
        client.ReadReply({220});
        FAIL();
    } catch (const ENetSocketError& error) {
        EXPECT_EQ(error.ErrorCode, 10060);
        EXPECT_EQ(std::string(error.what()), "Socket Error # 10060\r\nConnection timed out.");
    }
    client.Disconnect();
}

TEST(NetReply, NulByteInAReplyLineIsRefused) {
    TBytesServer server(std::string("220 he\0llo\r\n", 12));
    TNetTCPClient client;
    ConnectTo(client, server.Server);
    EXPECT_THROW(client.ReadReply({220}), ENetInvalidReply);
    client.Disconnect();
}

// A server that sends `unit` until the client stops reading.
std::function<void(TFakeSession&)> Endless(std::string first, std::string unit) {
    return [first, unit](TFakeSession& session) {
        session.Control.Send(first);
        std::string block;
        while (block.size() < 65536) {
            block += unit;
        }
        for (int64_t sent = 0; sent < (int64_t{100} << 20); sent += block.size()) {
            if (!session.Control.Send(block)) {
                return;
            }
        }
        session.Control.ReadAll();
    };
}

TEST(NetReply, HostileRepliesAreRefusedWithinBoundedMemory) {
    struct TCase {
        const char* Name;
        std::string First;
        std::string Unit;
        const char* Message;
    };
    for (const TCase& c : {
             TCase{"endless multi-line", "220-start\r\n", "220-more text\r\n", "Reply too long."},
             TCase{"100 MB line", "220 ", "a", "Reply line too long."},
             TCase{"endless empty lines", "", "\r\n", "Reply too long."},
         }) {
        TBytesServer server(Endless(c.First, c.Unit));
        TNetTCPClient client;
        ConnectTo(client, server.Server);
        try {
            client.ReadReply({220});
            ADD_FAILURE() << c.Name;
        } catch (const ENetInvalidReply& error) {
            EXPECT_EQ(std::string(error.what()), c.Message) << c.Name;
        }
        EXPECT_LE(client.InputBuffer().size(), MaxLineLength + 65536u) << c.Name;
        client.Disconnect();
    }
}

TEST(NetReply, CommandsWithLineBreaksAreRefusedBeforeSending) {
    TFakeFtpServer server;
    server.Start();
    TNetTCPClient client;
    ConnectTo(client, server);
    EXPECT_EQ(client.ReadReply({220}), 220);
    EXPECT_THROW(client.SendCommand("user a\r\nDELE x", {331}), ENetTCPConnectionError);
    EXPECT_THROW(client.SendCommand(std::string("user a\0b", 8), {331}), ENetTCPConnectionError);
    EXPECT_EQ(client.SendCommand("user a", {331}), 331);
    client.Disconnect();
    server.Stop();
    EXPECT_EQ(server.Transcript(), "user a\r\n");
}

}  // namespace
}  // namespace sejfko

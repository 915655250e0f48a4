#include "transfer/net_socket.hpp"

#include <gtest/gtest.h>

#include "platform/socket_api.hpp"
#include "transfer/net_component.hpp"
#include "transfer/net_errors.hpp"
#include "transfer/net_stack.hpp"
#include "transfer/net_tcp_client.hpp"

namespace sejfko {
namespace {

TEST(NetErrors, MessagesCarryTheNumberAndTheFixedText) {
    EXPECT_EQ(ENetSocketError(10035).what(),
              std::string("Socket Error # 10035\r\nOperation would block. "));
    EXPECT_EQ(ENetSocketError(10060).what(),
              std::string("Socket Error # 10060\r\nConnection timed out."));
    EXPECT_EQ(ENetSocketError(10066).what(),
              std::string("Socket Error # 10066\r\nDirectory not empty"));
    // Outside the table: the first line only, and the line break.
    EXPECT_EQ(ENetSocketError(11001).what(), std::string("Socket Error # 11001\r\n"));
    EXPECT_EQ(ENetSocketError(11001).ErrorCode, 11001);
    EXPECT_EQ(std::string(ENetConnClosedGracefully().what()), "Connection Closed Gracefully.");
    EXPECT_EQ(std::string(ENetCouldNotBindSocket().what()),
              "Could not bind socket. Address and port are already in use.");
    EXPECT_EQ(std::string(ENetStackCanNotLoadWinsock("wsock32.dll").what()),
              "wsock32.dll could not be loaded.");
}

TEST(NetErrors, OperatingSystemErrorsUseTheSameNumbers) {
    EXPECT_EQ(SocketErrorFromErrno(ECONNREFUSED), 10061);
    EXPECT_EQ(SocketErrorFromErrno(ETIMEDOUT), 10060);
    EXPECT_EQ(SocketErrorFromErrno(EADDRINUSE), 10048);
    EXPECT_EQ(SocketErrorFromErrno(ECONNRESET), 10054);
    EXPECT_EQ(SocketErrorFromErrno(EPIPE), 10054);
    EXPECT_EQ(SocketErrorFromErrno(EWOULDBLOCK), 10035);
}

TEST(NetStack, DottedAddressRule) {
    for (const char* yes : {"127.0.0.1", "0.0.0.0", "255.255.255.255", "10.1.2.03"}) {
        EXPECT_TRUE(TNetStack::IsIP(yes)) << yes;
    }
    for (const char* no : {"1.2.3.256", "1.2.3.4.5", "1.2.3", "1..2.3", "a.b.c.d", "", "1.2.3.4 ",
                           "-1.2.3.4", "localhost", "1.2.3.0004"}) {
        EXPECT_FALSE(TNetStack::IsIP(no)) << no;
    }
}

TEST(NetStack, ResolvesLocalhostAndAddressesWithoutLookup) {
    EXPECT_EQ(TNetStack::ResolveHost("localhost"), "127.0.0.1");
    EXPECT_EQ(TNetStack::ResolveHost("LocalHost"), "127.0.0.1");
    EXPECT_EQ(TNetStack::ResolveHost("192.168.001.5"), "192.168.1.5");
}

TEST(NetStack, CheckForSocketErrorToleratesListedErrors) {
    EXPECT_FALSE(TNetStack::CheckForSocketError(0));
    SetLastSocketError(10035);
    EXPECT_TRUE(TNetStack::CheckForSocketError(-1, {10035, 10036}));
    try {
        TNetStack::CheckForSocketError(-1, {10036});
        FAIL();
    } catch (const ENetSocketError& error) {
        EXPECT_EQ(error.ErrorCode, 10035);
    }
}

TEST(NetSocket, BindToPortZeroReadsBackThePortGiven) {
    TNetSocketHandle handle;
    handle.AllocateSocket();
    handle.IP = "127.0.0.1";
    handle.Bind();
    EXPECT_GT(handle.Port, 0);
    EXPECT_EQ(handle.IP, "127.0.0.1");
    handle.Listen(1);

    TNetSocketHandle second;
    second.AllocateSocket();
    second.IP = "127.0.0.1";
    second.Port = handle.Port;
    EXPECT_THROW(second.Bind(), ENetCouldNotBindSocket);

    handle.CloseSocket();
    EXPECT_FALSE(handle.HandleAllocated());
    EXPECT_EQ(handle.Port, 0);
    EXPECT_THROW(handle.Readable(0), ENetConnClosedGracefully);
}

TEST(NetSocket, RefusedConnectionRaisesSocketError10061) {
    int port = 0;
    {
        // A port that was free a moment ago and has no listener now.
        TNetSocketHandle probe;
        probe.AllocateSocket();
        probe.IP = "127.0.0.1";
        probe.Bind();
        port = probe.Port;
    }
    TNetTCPClient client;
    client.Host = "127.0.0.1";
    client.Port = port;
    try {
        client.Connect();
        FAIL();
    } catch (const ENetSocketError& error) {
        EXPECT_EQ(error.ErrorCode, 10061);
        EXPECT_EQ(std::string(error.what()), "Socket Error # 10061\r\nConnection refused.");
    }
    EXPECT_FALSE(client.Socket().HandleAllocated());
}

TEST(NetComponent, WorkNestsAndCountsPast4GiB) {
    TNetComponent component;
    std::vector<std::string> events;
    component.OnWorkBegin = [&](TNetComponent*, TWorkMode mode, int64_t max) {
        events.push_back("begin " + std::to_string(mode) + " " + std::to_string(max));
    };
    component.OnWork = [&](TNetComponent*, TWorkMode, int64_t count) {
        events.push_back("work " + std::to_string(count));
    };
    component.OnWorkEnd = [&](TNetComponent*, TWorkMode) { events.push_back("end"); };
    const int64_t big = int64_t{5} << 30;
    component.DoWork(wmWrite, 7);  // no begin open: not counted
    component.BeginWork(wmWrite, big);
    component.BeginWork(wmWrite, 1);  // nested: no second begin
    component.DoWork(wmWrite, big - 1);
    component.DoWork(wmWrite, 1);
    component.EndWork(wmWrite);
    component.EndWork(wmWrite);
    component.EndWork(wmWrite);  // unbalanced end: ignored
    EXPECT_EQ(events, (std::vector<std::string>{"begin 1 5368709120", "work 5368709119",
                                                "work 5368709120", "end"}));
    EXPECT_EQ(component.WorkLevel(wmWrite), 0);
}

TEST(NetComponent, StatusTexts) {
    EXPECT_EQ(NetStatusText(hsResolving, "x.cz"), "Resolving hostname x.cz.");
    EXPECT_EQ(NetStatusText(hsConnecting, "1.2.3.4"), "Connecting to 1.2.3.4.");
    EXPECT_EQ(NetStatusText(hsConnected, ""), "Connected.");
    EXPECT_EQ(NetStatusText(hsDisconnecting, "1.2.3.4"), "Disconnecting from 1.2.3.4.");
    EXPECT_EQ(NetStatusText(hsDisconnected, ""), "Not connected.");
    EXPECT_EQ(NetStatusText(hsText, "abc"), "abc");
}

}  // namespace
}  // namespace sejfko

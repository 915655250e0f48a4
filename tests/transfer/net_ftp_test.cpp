#include "transfer/net_ftp.hpp"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <regex>
#include <thread>

#include "platform/file_system.hpp"
#include "support/temp_dir.hpp"
#include "transfer/fake_ftp_server.hpp"
#include "transfer/net_errors.hpp"

namespace sejfko {
namespace {

using test::TFakeFtpServer;
using test::TFakeSession;
using test::TTempDir;

void Prepare(TNetFTP& ftp, const TFakeFtpServer& server, bool passive = false) {
    ftp.Host = "127.0.0.1";
    ftp.Port = server.Port();
    ftp.User = "zaloha";
    ftp.Password = "tajne";
    ftp.Passive = passive;
}

// Replaces the reply to one command word.
TFakeFtpServer::TOverride ReplyTo(const std::string& verb, const std::string& reply) {
    return [verb, reply](TFakeSession& session, const std::string& v, const std::string&) {
        if (v != verb) {
            return false;
        }
        session.Reply(reply);
        return true;
    };
}

TEST(NetFtp, LoginSendsTheCommandsAsServersHaveAlwaysSeenThem) {
    TFakeFtpServer server;
    server.Start();
    TNetFTP ftp;
    Prepare(ftp, server);
    ftp.Connect(true);
    EXPECT_EQ(ftp.SystemDesc, " UNIX Type: L8");
    ftp.Disconnect();
    server.Stop();
    // No QUIT: the connection just closes.
    EXPECT_EQ(server.Transcript(), "user zaloha\r\npass tajne\r\ntype I\r\nsyst\r\n");
}

TEST(NetFtp, LoginVariants) {
    struct TCase {
        const char* Name;
        TFakeFtpServer::TOverride Override;
        std::string Transcript;
        std::string SystemDesc;
    };
    const TCase cases[] = {
        {"230 to user: no password", ReplyTo("USER", "230 Welcome"),
         "user zaloha\r\ntype I\r\nsyst\r\n", " UNIX Type: L8"},
        {"500 to syst", ReplyTo("SYST", "500 What?"),
         "user zaloha\r\npass tajne\r\ntype I\r\nsyst\r\n", "Unknown"},
    };
    for (const TCase& c : cases) {
        TFakeFtpServer server;
        server.Override = c.Override;
        server.Start();
        TNetFTP ftp;
        Prepare(ftp, server);
        ftp.Connect(true);
        EXPECT_EQ(ftp.SystemDesc, c.SystemDesc) << c.Name;
        ftp.Disconnect();
        server.Stop();
        EXPECT_EQ(server.Transcript(), c.Transcript) << c.Name;
    }
}

TEST(NetFtp, FailedLoginStepsLeaveTheClientDisconnected) {
    struct TCase {
        const char* Name;
        std::string Greeting;
        TFakeFtpServer::TOverride Override;
        int Code;
    };
    const TCase cases[] = {
        {"greeting 421", "421 Too many users", nullptr, 421},
        {"password refused", "220 Hi", ReplyTo("PASS", "530 Login incorrect"), 530},
        {"type refused", "220 Hi", ReplyTo("TYPE", "504 No binary"), 504},
        {"syst odd", "220 Hi", ReplyTo("SYST", "421 Bye"), 421},
    };
    for (const TCase& c : cases) {
        TFakeFtpServer server;
        server.Greeting = c.Greeting;
        server.Override = c.Override;
        server.Start();
        TNetFTP ftp;
        Prepare(ftp, server);
        try {
            ftp.Connect(true);
            ADD_FAILURE() << c.Name;
        } catch (const ENetProtocolReplyError& error) {
            EXPECT_EQ(error.ReplyCode, c.Code) << c.Name;
        }
        EXPECT_FALSE(ftp.Connected()) << c.Name;
    }
}

TEST(NetFtp, PortAndPassiveTexts) {
    EXPECT_EQ(PortCommandText("192.168.1.5", 5001), "PORT 192,168,1,5,19,137");
    EXPECT_EQ(PortCommandText("127.0.0.1", 255), "PORT 127,0,0,1,0,255");
    int port = 0;
    EXPECT_TRUE(ParsePassiveReply("227 Entering Passive Mode (10,0,0,1,19,137).", port));
    EXPECT_EQ(port, 5001);
    EXPECT_TRUE(ParsePassiveReply("227 =127,0,0,1,0,21", port));
    EXPECT_EQ(port, 21);
    EXPECT_TRUE(ParsePassiveReply("227 Mode 1 (1,2,3,4,0,80)", port));
    EXPECT_EQ(port, 80);
    for (const char* bad : {"227 Entering Passive Mode", "227 (1,2,3,4,5)", "227 (1,2,3,4,256,1)",
                            "227 (1,2,3,4,0,0)", "227 (1,2,3,4,5,x)"}) {
        EXPECT_FALSE(ParsePassiveReply(bad, port)) << bad;
    }
}

class NetFtpModeTest : public testing::TestWithParam<bool> {};

TEST_P(NetFtpModeTest, PutGetListAndDelete) {
    const bool passive = GetParam();
    TTempDir dir;
    std::string content(100000, 'x');
    for (std::size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>(i * 7);
    }
    const std::string local = dir.WriteFile("a.fbk", content);
    TFakeFtpServer server;
    server.Start();
    TNetFTP ftp;
    Prepare(ftp, server, passive);
    std::vector<std::string> events;
    ftp.OnWorkBegin = [&](TNetComponent*, TWorkMode mode, int64_t max) {
        events.push_back("begin " + std::to_string(mode) + " " + std::to_string(max));
    };
    ftp.OnWorkEnd = [&](TNetComponent*, TWorkMode) { events.push_back("end"); };
    ftp.Connect(true);
    ftp.Put(local, "remote.fbk");
    EXPECT_EQ(ftp.DataChannel(), nullptr);
    ftp.Get("remote.fbk", dir / "back.fbk");
    std::vector<std::string> names{"stale"};
    ftp.List(names, "*.fbk");
    ftp.Delete("remote.fbk");
    EXPECT_THROW(ftp.Delete("remote.fbk"), ENetProtocolReplyError);
    EXPECT_THROW(ftp.Get("missing.fbk", dir / "missing.fbk"), ENetProtocolReplyError);
    ftp.Disconnect();
    server.Stop();

    EXPECT_EQ(test::ReadWholeFile(dir / "back.fbk"), content);
    EXPECT_FALSE(FileExists(dir / "missing.fbk"));
    EXPECT_EQ(names, std::vector<std::string>{"remote.fbk"});
    EXPECT_EQ(events, (std::vector<std::string>{"begin 1 100000", "end", "begin 0 0", "end",
                                                "begin 0 0", "end"}));
    const std::string data = passive ? "PASV\r\n" : "PORT 127,0,0,1,[0-9]+,[0-9]+\r\n";
    EXPECT_TRUE(
        std::regex_match(server.Transcript(),
                         std::regex("user zaloha\r\npass tajne\r\ntype I\r\nsyst\r\n" + data +
                                    "STOR remote.fbk\r\n" + data + "RETR remote.fbk\r\n" + data +
                                    "nlst \\*.fbk\r\nDELE remote.fbk\r\nDELE remote.fbk\r\n" +
                                    data + "RETR missing.fbk\r\n")))
        << server.Transcript();
}

TEST_P(NetFtpModeTest, CompletionReplies) {
    struct TCase {
        const char* Name;
        std::vector<std::string> Replies;
        bool Succeeds;
    };
    const TCase cases[] = {
        {"226", {"226 Done"}, true},
        {"250", {"250 Done"}, true},
        {"225", {"225 Done"}, true},
        {"426 then 226", {"426 Connection closed; aborted", "226 Done anyway"}, true},
        {"426 then 451", {"426 Connection closed", "451 Local error"}, false},
        {"550", {"550 Cannot store"}, false},
    };
    TTempDir dir;
    const std::string local = dir.WriteFile("a.fbk", "data");
    for (const TCase& c : cases) {
        TFakeFtpServer server;
        server.Override = [&c](TFakeSession& session, const std::string& verb, const std::string&) {
            if (verb != "STOR") {
                return false;
            }
            session.Reply("150 Go");
            session.OpenData().ReadAll();
            for (const std::string& reply : c.Replies) {
                session.Reply(reply);
            }
            return true;
        };
        server.Start();
        TNetFTP ftp;
        Prepare(ftp, server, GetParam());
        ftp.Connect(true);
        if (c.Succeeds) {
            EXPECT_NO_THROW(ftp.Put(local, "a.fbk")) << c.Name;
        } else {
            EXPECT_THROW(ftp.Put(local, "a.fbk"), ENetProtocolReplyError) << c.Name;
        }
        ftp.Disconnect();
    }
}

TEST_P(NetFtpModeTest, ListingWithoutWildcardsFallsBackToABareNlst) {
    TFakeFtpServer server;
    server.RefuseWildcards = true;
    server.Files = {{"a.fbk", ""}, {"notes.txt", ""}};
    server.Start();
    TNetFTP ftp;
    Prepare(ftp, server, GetParam());
    ftp.Connect(true);
    std::vector<std::string> names;
    EXPECT_THROW(ftp.List(names, "*.fbk"), ENetProtocolReplyError);
    ftp.ListNames(names, "*.fbk");
    ftp.Disconnect();
    server.Stop();
    EXPECT_EQ(names, (std::vector<std::string>{"a.fbk", "notes.txt"}));
    const std::string data = GetParam() ? "PASV\r\n" : "PORT [0-9,]+\r\n";
    EXPECT_TRUE(std::regex_search(server.Transcript(),
                                  std::regex(data + "nlst \\*.fbk\r\n" + data + "nlst\r\n$")))
        << server.Transcript();
}

INSTANTIATE_TEST_SUITE_P(Modes, NetFtpModeTest, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Passive" : "Active"; });

TEST(NetFtp, ListingLinesEndInCrLfOrLfOnly) {
    TFakeFtpServer server;
    server.Override = [](TFakeSession& session, const std::string& verb, const std::string&) {
        if (verb != "NLST") {
            return false;
        }
        session.Reply("150 Go");
        session.OpenData().Send("a.fbk\nb.fbk\r\nc.fbk\rd.fbk");
        session.Reply("226 Done");
        return true;
    };
    server.Start();
    TNetFTP ftp;
    Prepare(ftp, server);
    ftp.Connect(true);
    std::vector<std::string> names;
    ftp.List(names, "");
    EXPECT_EQ(names, (std::vector<std::string>{"a.fbk", "b.fbk", "c.fbk", "d.fbk"}));
    ftp.Disconnect();
    server.Stop();
    EXPECT_NE(server.Transcript().find("\r\nnlst\r\n"), std::string::npos);
}

TEST(NetFtp, RefusedStoreAfterPortSendsNothingAndClosesTheListener) {
    TTempDir dir;
    const std::string local = dir.WriteFile("a.fbk", "data");
    TFakeFtpServer server;
    int listenerPort = 0;
    server.Override = [&](TFakeSession& session, const std::string& verb, const std::string&) {
        if (verb != "STOR") {
            return false;
        }
        listenerPort = session.ActivePort;
        session.Reply("550 Permission denied.");
        return true;
    };
    server.Start();
    TNetFTP ftp;
    Prepare(ftp, server);
    ftp.Connect(true);
    try {
        ftp.Put(local, "a.fbk");
        FAIL();
    } catch (const ENetProtocolReplyError& error) {
        EXPECT_EQ(error.ReplyCode, 550);
        EXPECT_EQ(std::string(error.what()), "550 Permission denied.");
    }
    EXPECT_EQ(ftp.DataChannel(), nullptr);
    ASSERT_GT(listenerPort, 0);
    const int probe = test::FakeConnect("127.0.0.1", listenerPort);
    EXPECT_LT(probe, 0) << "the listener still accepts";
    if (probe >= 0) {
        ::close(probe);
    }
    ftp.Disconnect();
    server.Stop();
    EXPECT_TRUE(server.FilesNow().empty());
}

TEST(NetFtp, MissingLocalFileFailsBeforeAnyCommand) {
    TFakeFtpServer server;
    server.Start();
    TNetFTP ftp;
    Prepare(ftp, server);
    ftp.Connect(true);
    EXPECT_THROW(ftp.Put("/nonexistent/dir/a.fbk", "a.fbk"), EOSError);
    ftp.Disconnect();
    server.Stop();
    EXPECT_EQ(server.Transcript(), "user zaloha\r\npass tajne\r\ntype I\r\nsyst\r\n");
}

TEST(NetFtp, PassiveReplyNamingAnotherHostStillConnectsToTheServer) {
    TTempDir dir;
    const std::string local = dir.WriteFile("a.fbk", "payload");
    TFakeFtpServer server;
    server.Override = [](TFakeSession& session, const std::string& verb, const std::string&) {
        session.PassiveAddress = "10,66,77,88";  // not this server
        (void)verb;
        return false;
    };
    server.Start();
    TNetFTP ftp;
    Prepare(ftp, server, true);
    ftp.Connect(true);
    ftp.Put(local, "a.fbk");
    ftp.Disconnect();
    server.Stop();
    EXPECT_EQ(server.FilesNow().at("a.fbk"), "payload");
}

TEST(NetFtp, ServerNeverConnectingInActiveModeTimesOut) {
    TTempDir dir;
    const std::string local = dir.WriteFile("a.fbk", "payload");
    TFakeFtpServer server;
    server.Override = ReplyTo("STOR", "150 Sure");
    server.Start();
    TNetFTP ftp;
    Prepare(ftp, server);
    ftp.Timeouts.Accept = 100;
    ftp.Timeouts.AcceptPoll = 20;
    ftp.Connect(true);
    try {
        ftp.Put(local, "a.fbk");
        FAIL();
    } catch (const ENetSocketError& error) {
        EXPECT_EQ(error.ErrorCode, 10060);
    }
    EXPECT_EQ(ftp.DataChannel(), nullptr);
    ftp.Disconnect();
}

// The data limit counts time without progress on the connection, across sends: a reader that
// stops is given up once the limit has passed (not once per partial send), while one that keeps
// taking a little within every limit keeps the upload alive however long it lasts.
TEST(NetFtp, UploadInactivityLimitCountsProgressAcrossSends) {
    constexpr int DataLimitMs = 2000;
    struct TCase {
        const char* Name;
        int ReceiveBuffer;
        int Pauses;  // pauses of 600 ms, each followed by taking what has arrived; -1: stop
        bool Succeeds;
    };
    const TCase cases[] = {
        {"reader that stops", 4096, -1, false},
        {"slow reader", 65536, 7, true},
    };
    for (const TCase& c : cases) {
        TTempDir dir;
        const std::string local = dir.WriteFile("a.fbk", std::string(8 << 20, 'z'));
        TFakeFtpServer server;
        server.Override = [&c](TFakeSession& session, const std::string& verb, const std::string&) {
            if (verb != "STOR") {
                return false;
            }
            session.Reply("150 Go");
            session.DataReceiveBuffer = c.ReceiveBuffer;
            test::TFakeSocket data = session.OpenData();
            char chunk[65536];
            [[maybe_unused]] ssize_t got = ::recv(data.Fd, chunk, sizeof chunk, 0);
            if (c.Pauses < 0) {
                session.Control.ReadAll();  // until the client gives up
                return true;
            }
            for (int pause = 0; pause < c.Pauses; ++pause) {
                // A slow peer, not a wait for anything.
                std::this_thread::sleep_for(std::chrono::milliseconds(600));
                while (::recv(data.Fd, chunk, sizeof chunk, MSG_DONTWAIT) > 0) {
                }
            }
            data.ReadAll();
            session.Reply("226 Done");
            return true;
        };
        server.Start();
        TNetFTP ftp;
        Prepare(ftp, server);
        ftp.Timeouts.Data = DataLimitMs;
        ftp.Connect(true);
        const auto start = std::chrono::steady_clock::now();
        int error = 0;
        try {
            ftp.Put(local, "a.fbk");
        } catch (const ENetSocketError& failure) {
            error = failure.ErrorCode;
        }
        const auto took = std::chrono::steady_clock::now() - start;
        ftp.Disconnect();
        server.Stop();
        EXPECT_EQ(error, c.Succeeds ? 0 : 10060) << c.Name;
        if (!c.Succeeds) {
            // Buffers fill at once; then the limit, once, with a margin for a busy machine (a
            // limit restarted by every partial send took three times as long).
            EXPECT_LT(took, std::chrono::milliseconds(DataLimitMs * 2)) << c.Name;
        }
    }
}

TEST(NetFtp, ConnectionDroppedHalfWayThroughAnUploadEndsTheWork) {
    TTempDir dir;
    const std::string local = dir.WriteFile("a.fbk", std::string(8 << 20, 'z'));
    TFakeFtpServer server;
    server.Override = [](TFakeSession& session, const std::string& verb, const std::string&) {
        if (verb != "STOR") {
            return false;
        }
        session.Reply("150 Go");
        test::TFakeSocket data = session.OpenData();
        char chunk[65536];
        [[maybe_unused]] ssize_t got = ::recv(data.Fd, chunk, sizeof chunk, 0);
        // Drop both connections while the client is still sending (a reset, not an orderly end).
        linger hard{1, 0};
        ::setsockopt(data.Fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        data.Close();
        session.Control.Close();
        return true;
    };
    server.Start();
    TNetFTP ftp;
    Prepare(ftp, server);
    std::vector<std::string> events;
    int64_t last = 0;
    ftp.OnWork = [&](TNetComponent*, TWorkMode, int64_t count) { last = count; };
    ftp.OnWorkBegin = [&](TNetComponent*, TWorkMode, int64_t) { events.push_back("begin"); };
    ftp.OnWorkEnd = [&](TNetComponent*, TWorkMode) { events.push_back("end"); };
    ftp.Connect(true);
    EXPECT_THROW(ftp.Put(local, "a.fbk"), ENetException);
    EXPECT_EQ(events, (std::vector<std::string>{"begin", "end"}));
    EXPECT_LT(last, int64_t{8} << 20);
    ftp.Disconnect();
}

TEST(NetFtp, AHandlerThrowingStopsTheUpload) {
    TTempDir dir;
    const std::string local = dir.WriteFile("a.fbk", std::string(1 << 20, 'z'));
    TFakeFtpServer server;
    server.Start();
    TNetFTP ftp;
    Prepare(ftp, server);
    int works = 0;
    bool ended = false;
    ftp.OnWork = [&](TNetComponent*, TWorkMode, int64_t) {
        if (++works == 3) {
            throw Exception("Terminate transfer");
        }
    };
    ftp.OnWorkEnd = [&](TNetComponent*, TWorkMode) { ended = true; };
    ftp.Connect(true);
    try {
        ftp.Put(local, "a.fbk");
        FAIL();
    } catch (const Exception& error) {
        EXPECT_EQ(std::string(error.what()), "Terminate transfer");
    }
    EXPECT_EQ(works, 3);
    EXPECT_TRUE(ended);
    ftp.Disconnect();
}

}  // namespace
}  // namespace sejfko

namespace sejfko {
namespace {

// Sends the listing `size` bytes long in lines of `line`, or nothing at all with size 0 (the
// connection stays open).
TFakeFtpServer::TOverride Listing(std::size_t size,
                                  std::string line = std::string(99, 'n') + "\n") {
    return [size, line](TFakeSession& session, const std::string& verb, const std::string&) {
        if (verb != "NLST") {
            return false;
        }
        session.Reply("150 Listing");
        test::TFakeSocket data = session.OpenData();
        if (size == 0) {
            data.ReadAll();  // until the client gives up
            return true;
        }
        std::string block;
        while (block.size() < 65536) {
            block += line;
        }
        for (std::size_t sent = 0; sent < size; sent += block.size()) {
            if (!data.Send(block)) {
                break;
            }
        }
        data.Close();
        session.Reply("226 Done");
        return true;
    };
}

TEST(NetFtp, ListingsAreBoundedInSizeAndTime) {
    for (const std::string& line : {std::string(99, 'n') + "\n", std::string("\n")}) {
        TFakeFtpServer server;
        server.Override =
            Listing(line.size() == 1 ? MaxListingLines + 10 : MaxListingBytes + 1000, line);
        server.Start();
        TNetFTP ftp;
        Prepare(ftp, server);
        ftp.Connect(true);
        std::vector<std::string> names;
        try {
            ftp.List(names, "");
            FAIL();
        } catch (const ENetInvalidReply& error) {
            EXPECT_EQ(std::string(error.what()), "Listing too long.");
        }
        ftp.Disconnect();
    }
    {
        TFakeFtpServer server;
        server.Override = Listing(0);
        server.Start();
        TNetFTP ftp;
        Prepare(ftp, server, true);
        ftp.Timeouts.Data = 100;
        ftp.Connect(true);
        std::vector<std::string> names;
        try {
            ftp.List(names, "");
            FAIL();
        } catch (const ENetSocketError& error) {
            EXPECT_EQ(error.ErrorCode, 10060);
        }
        ftp.Disconnect();
    }
}

TEST(NetFtp, ActiveDataConnectionIsTakenOnlyFromTheServer) {
    TTempDir dir;
    const std::string local = dir.WriteFile("a.fbk", "the archive");
    std::string intruderGot = "not connected";
    TFakeFtpServer server;
    server.Override = [&](TFakeSession& session, const std::string& verb, const std::string&) {
        if (verb != "STOR") {
            return false;
        }
        session.Reply("150 Go");
        // Another host (127.0.0.2 is loopback too) reaches the client's port first.
        int intruder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        ::inet_pton(AF_INET, "127.0.0.2", &from.sin_addr);
        ::bind(intruder, reinterpret_cast<sockaddr*>(&from), sizeof from);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(session.ActivePort));
        ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        if (::connect(intruder, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
            test::TFakeSocket stolen(intruder);
            intruderGot = stolen.ReadAll();  // ends when the client shuts it
        } else {
            ::close(intruder);
        }
        const std::string content = session.OpenData().ReadAll();
        {
            std::lock_guard lock(session.Server.Mutex);
            session.Server.Files["a.fbk"] = content;
        }
        session.Reply("226 Done");
        return true;
    };
    server.Start();
    TNetFTP ftp;
    Prepare(ftp, server);
    ftp.Connect(true);
    ftp.Put(local, "a.fbk");
    ftp.Disconnect();
    server.Stop();
    EXPECT_EQ(intruderGot, "");
    EXPECT_EQ(server.FilesNow().at("a.fbk"), "the archive");
}

}  // namespace
}  // namespace sejfko

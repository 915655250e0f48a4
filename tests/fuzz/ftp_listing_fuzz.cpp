// A server's name listing, sent over a passive data connection to the real client (one session
// with the scripted server, kept for the whole run): the client's entries are the listing's
// lines (ended by CR, LF or CR LF), and the archive names taken from them are exactly the bare
// "*.fbk" names among them, once each, in the retention order.

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "backup/retention.hpp"
#include "fuzz/fuzz_targets.hpp"
#include "transfer/fake_ftp_server.hpp"
#include "transfer/ftp_listing.hpp"
#include "transfer/net_errors.hpp"
#include "transfer/net_ftp.hpp"

namespace sejfko::fuzz {

namespace {

std::vector<std::string> ModelLines(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        const std::size_t end = text.find_first_of("\r\n");
        lines.emplace_back(text.substr(0, end));
        if (end == std::string_view::npos) {
            break;
        }
        text.remove_prefix(end + (text.substr(end, 2) == "\r\n" ? 2 : 1));
    }
    return lines;
}

bool ModelArchiveName(const std::string& name) {
    return name.size() > 4 && name.ends_with(".fbk") &&
           std::none_of(name.begin(), name.end(), [](char c) {
               return c == '/' || c == '\\' || static_cast<unsigned char>(c) < 32 || c == 127;
           });
}

// Tens of thousands of data connections a minute: each from one fixed listening port, so that
// the closed ones waiting out their time (TIME_WAIT) never use up the free ports the way a new
// listener per listing would.
int DataListener(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    FUZZ_CHECK(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                   ::listen(fd, 4) == 0 &&
                   ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0,
               std::string("no data listener"));
    port = ntohs(address.sin_port);
    return fd;
}

struct TSession {
    test::TFakeFtpServer Server;
    int DataPort = 0;
    test::TFakeSocket Data{DataListener(DataPort)};
    std::mutex Lock;
    std::string Listing;  // guarded by Lock
    TNetFTP Client;

    TSession() {
        Server.Override = [this](test::TFakeSession& session, const std::string& verb,
                                 const std::string&) {
            // Two replies in a row would otherwise wait for the delayed acknowledgement.
            const int on = 1;
            ::setsockopt(session.Control.Fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            if (verb == "PASV") {
                session.Reply("227 Entering Passive Mode (127,0,0,1," +
                              std::to_string(DataPort / 256) + "," +
                              std::to_string(DataPort % 256) + ")");
                return true;
            }
            if (verb != "NLST") {
                return false;
            }
            std::string listing;
            {
                std::lock_guard lock(Lock);
                listing = Listing;
            }
            session.Reply("150 Here comes the listing");
            pollfd ready{Data.Fd, POLLIN, 0};
            test::TFakeSocket data(::poll(&ready, 1, 10000) == 1
                                       ? ::accept4(Data.Fd, nullptr, nullptr, SOCK_CLOEXEC)
                                       : -1);
            data.Send(listing);
            data.Close();
            session.Reply("226 Listing sent");
            return true;
        };
        Server.Start();
        Client.Host = "127.0.0.1";
        Client.Port = Server.Port();
        Client.User = "user";
        Client.Password = "secret";
        Client.Passive = true;
    }
};

std::string ListText(const std::vector<std::string>& list) {
    std::string text;
    for (const std::string& entry : list) {
        text += "\n  " + Quote(entry);
    }
    return text;
}

}  // namespace

int FuzzFtpListing(const uint8_t* data, std::size_t size) {
    static TSession session;
    const std::string listing(reinterpret_cast<const char*>(data), size);
    {
        std::lock_guard lock(session.Lock);
        session.Listing = listing;
    }
    if (!session.Client.Connected()) {
        session.Client.Connect();
    }
    std::vector<std::string> entries;
    try {
        session.Client.ListNames(entries, ArchiveMask);
    } catch (const std::exception& error) {
        FUZZ_CHECK(false, std::string("the listing failed: ") + error.what());
    }
    const std::vector<std::string> lines = ModelLines(listing);
    FUZZ_CHECK(entries == lines, "entries:" + ListText(entries) + "\nlines:" + ListText(lines));

    const std::vector<std::string> names = RemoteArchiveNames(entries);
    std::vector<std::string> expected;
    for (const std::string& line : lines) {
        if (ModelArchiveName(line)) {
            expected.push_back(line);
        }
    }
    // Names equal but for letter case keep byte order among themselves.
    std::sort(expected.begin(), expected.end());
    expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
    SortArchiveNames(expected);
    FUZZ_CHECK(names == expected, "names:" + ListText(names) + "\nexpected:" + ListText(expected));
    for (const std::string& name : names) {
        FUZZ_CHECK(IsRemoteArchiveName(name), "not an archive name: " + Quote(name));
    }
    return 0;
}

}  // namespace sejfko::fuzz

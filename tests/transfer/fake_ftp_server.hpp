#pragma once
// A scripted FTP server for the tests, on 127.0.0.1 and a free port. It serves one control
// connection at a time from its own thread, records every byte the client sends, and answers
// like a small in-memory server unless a test's `Override` answers a line itself. Data
// connections follow the client's PORT (the server connects) or PASV (the server listens).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sejfko::test {

// A plain socket helper for the fake's side of a connection.
class TFakeSocket {
public:
    explicit TFakeSocket(int fd = -1) : Fd(fd) {}
    ~TFakeSocket() { Close(); }
    TFakeSocket(TFakeSocket&& other) noexcept : Fd(other.Fd), Buffer(std::move(other.Buffer)) {
        other.Fd = -1;
    }
    TFakeSocket& operator=(TFakeSocket&& other) noexcept {
        std::swap(Fd, other.Fd);
        std::swap(Buffer, other.Buffer);
        return *this;
    }
    void Close() {
        if (Fd >= 0) {
            ::close(Fd);
            Fd = -1;
        }
    }
    bool Send(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t sent = ::send(Fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (sent <= 0) {
                return false;
            }
            done += static_cast<std::size_t>(sent);
        }
        return true;
    }
    // One line including its CR LF; false at the end of the connection.
    bool ReadLine(std::string& line) {
        for (;;) {
            std::size_t at = Buffer.find('\n');
            if (at != std::string::npos) {
                line = Buffer.substr(0, at + 1);
                Buffer.erase(0, at + 1);
                return true;
            }
            char chunk[4096];
            ssize_t got = ::recv(Fd, chunk, sizeof chunk, 0);
            if (got <= 0) {
                return false;
            }
            Buffer.append(chunk, static_cast<std::size_t>(got));
        }
    }
    // Everything until the peer closes.
    std::string ReadAll() {
        std::string all = std::move(Buffer);
        Buffer.clear();
        char chunk[65536];
        for (;;) {
            ssize_t got = ::recv(Fd, chunk, sizeof chunk, 0);
            if (got <= 0) {
                return all;
            }
            all.append(chunk, static_cast<std::size_t>(got));
        }
    }
    int Fd;
    std::string Buffer;
};

inline int FakeListen(int& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd, 4);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

// `receiveBuffer` (bytes, 0: the system's) is fixed before connecting, so the window stays small.
inline int FakeConnect(const std::string& ip, int port, int receiveBuffer = 0) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, ip.c_str(), &address.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

class TFakeFtpServer;

// One control connection as the fake serves it.
class TFakeSession {
public:
    TFakeSession(TFakeFtpServer& server, TFakeSocket control)
        : Server(server), Control(std::move(control)) {}
    bool Reply(const std::string& text) { return Control.Send(text + "\r\n"); }
    // Opens the data connection the client asked for (PORT or PASV); invalid when it failed.
    TFakeSocket OpenData() {
        if (PassiveListener >= 0) {
            pollfd entry{PassiveListener, POLLIN, 0};
            int fd =
                ::poll(&entry, 1, 10000) == 1 ? ::accept(PassiveListener, nullptr, nullptr) : -1;
            ::close(PassiveListener);
            PassiveListener = -1;
            return TFakeSocket(fd);
        }
        return TFakeSocket(FakeConnect(ActiveIP, ActivePort, DataReceiveBuffer));
    }
    TFakeFtpServer& Server;
    TFakeSocket Control;
    std::string ActiveIP;
    int ActivePort = 0;
    std::string RenameFrom;
    int PassiveListener = -1;
    int DataReceiveBuffer = 0;  // SO_RCVBUF of an active data connection (0: the system's)
    std::string PassiveAddress = "127,0,0,1";  // what the 227 reply names
};

class TFakeFtpServer {
public:
    // Answers one received line itself (true) or leaves it to the default (false). `verb` is
    // the command word in upper case, `argument` the rest after one blank.
    using TOverride = std::function<bool(TFakeSession& session, const std::string& verb,
                                         const std::string& argument)>;

    TFakeFtpServer() {
        FListener = FakeListen(FPort);
        if (::pipe(FStopPipe) != 0) {
            FStopPipe[0] = FStopPipe[1] = -1;
        }
    }
    ~TFakeFtpServer() { Stop(); }

    // Call after setting the script.
    void Start() {
        FThread = std::thread([this] { Run(); });
    }
    void Stop() {
        if (FStopPipe[1] >= 0) {
            [[maybe_unused]] ssize_t ignored = ::write(FStopPipe[1], "x", 1);
        }
        if (FThread.joinable()) {
            FThread.join();
        }
        for (int* fd : {&FListener, &FStopPipe[0], &FStopPipe[1]}) {
            if (*fd >= 0) {
                ::close(*fd);
                *fd = -1;
            }
        }
    }
    int Port() const { return FPort; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(FPort); }

    // Every byte received on control connections, in order.
    std::string Transcript() {
        std::lock_guard lock(Mutex);
        return FTranscript;
    }
    std::map<std::string, std::string> FilesNow() {
        std::lock_guard lock(Mutex);
        return Files;
    }
    int Sessions() {
        std::lock_guard lock(Mutex);
        return FSessions;
    }

    std::string Greeting = "220 Fake FTP ready";
    bool RefuseWildcards = false;
    TOverride Override;
    // Runs instead of the greeting and the command loop.
    std::function<void(TFakeSession&)> Script;
    std::mutex Mutex;
    std::map<std::string, std::string> Files;  // guarded by Mutex

private:
    void Run() {
        for (;;) {
            pollfd entries[2] = {{FListener, POLLIN, 0}, {FStopPipe[0], POLLIN, 0}};
            if (::poll(entries, 2, -1) <= 0 || (entries[1].revents & POLLIN) != 0) {
                return;
            }
            int fd = ::accept(FListener, nullptr, nullptr);
            if (fd < 0) {
                continue;
            }
            {
                std::lock_guard lock(Mutex);
                ++FSessions;
            }
            TFakeSession session(*this, TFakeSocket(fd));
            if (Script) {
                Script(session);
            } else {
                Serve(session);
            }
            if (session.PassiveListener >= 0) {
                ::close(session.PassiveListener);
            }
        }
    }

    void Serve(TFakeSession& session) {
        if (!session.Reply(Greeting)) {
            return;
        }
        std::string line;
        while (session.Control.ReadLine(line)) {
            {
                std::lock_guard lock(Mutex);
                FTranscript += line;
            }
            std::string text = line.substr(0, line.find_last_not_of("\r\n") + 1);
            std::size_t blank = text.find(' ');
            std::string verb = text.substr(0, blank);
            std::string argument = blank == std::string::npos ? "" : text.substr(blank + 1);
            for (char& c : verb) {
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            }
            if (Override && Override(session, verb, argument)) {
                continue;
            }
            Default(session, verb, argument);
        }
    }

    void Default(TFakeSession& s, const std::string& verb, const std::string& argument) {
        if (verb == "USER") {
            s.Reply("331 Password required");
        } else if (verb == "PASS") {
            s.Reply("230 Logged in");
        } else if (verb == "TYPE") {
            s.Reply("200 Type set");
        } else if (verb == "SYST") {
            s.Reply("215 UNIX Type: L8");
        } else if (verb == "PORT") {
            int v[6] = {};
            std::sscanf(argument.c_str(), "%d,%d,%d,%d,%d,%d", &v[0], &v[1], &v[2], &v[3], &v[4],
                        &v[5]);
            s.ActiveIP = std::to_string(v[0]) + "." + std::to_string(v[1]) + "." +
                         std::to_string(v[2]) + "." + std::to_string(v[3]);
            s.ActivePort = v[4] * 256 + v[5];
            s.Reply("200 PORT ok");
        } else if (verb == "PASV") {
            int port = 0;
            s.PassiveListener = FakeListen(port);
            s.Reply("227 Entering Passive Mode (" + s.PassiveAddress + "," +
                    std::to_string(port / 256) + "," + std::to_string(port % 256) + ")");
        } else if (verb == "STOR") {
            s.Reply("150 Ok to send data");
            TFakeSocket data = s.OpenData();
            std::string content = data.ReadAll();
            {
                std::lock_guard lock(Mutex);
                Files[argument] = content;
            }
            s.Reply("226 Transfer complete");
        } else if (verb == "RETR") {
            std::string content;
            bool found = false;
            {
                std::lock_guard lock(Mutex);
                auto it = Files.find(argument);
                found = it != Files.end();
                if (found) {
                    content = it->second;
                }
            }
            if (!found) {
                s.Reply("550 No such file");
                return;
            }
            s.Reply("150 Opening data connection");
            TFakeSocket data = s.OpenData();
            data.Send(content);
            data.Close();
            s.Reply("226 Transfer complete");
        } else if (verb == "NLST") {
            if (RefuseWildcards && argument.find('*') != std::string::npos) {
                s.Reply("550 Globbing not supported");
                return;
            }
            std::string listing;
            {
                std::lock_guard lock(Mutex);
                for (const auto& [name, content] : Files) {
                    listing += name + "\r\n";
                }
            }
            s.Reply("150 Here comes the listing");
            TFakeSocket data = s.OpenData();
            data.Send(listing);
            data.Close();
            s.Reply("226 Listing sent");
        } else if (verb == "RNFR") {
            std::lock_guard lock(Mutex);
            s.RenameFrom = Files.count(argument) == 1 ? argument : "";
            s.Reply(s.RenameFrom.empty() ? "550 No such file" : "350 Ready for RNTO");
        } else if (verb == "RNTO") {
            std::lock_guard lock(Mutex);
            if (s.RenameFrom.empty()) {
                s.Reply("503 RNFR first");
                return;
            }
            Files[argument] = Files[s.RenameFrom];
            Files.erase(s.RenameFrom);
            s.RenameFrom.clear();
            s.Reply("250 Renamed");
        } else if (verb == "DELE") {
            std::lock_guard lock(Mutex);
            if (Files.erase(argument) == 1) {
                s.Reply("250 Deleted");
            } else {
                s.Reply("550 No such file");
            }
        } else {
            s.Reply("500 Unknown command");
        }
    }

    int FListener = -1;
    int FPort = 0;
    int FStopPipe[2] = {-1, -1};
    std::thread FThread;
    std::string FTranscript;  // guarded by Mutex
    int FSessions = 0;        // guarded by Mutex
};

}  // namespace sejfko::test

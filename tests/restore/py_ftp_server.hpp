#pragma once
// pyftpdlib (Debian's /usr/bin/python3) serving one directory on loopback for one user, for as
// long as the object lives. The port is read from the server's first output line, so the test
// waits on the server being ready rather than on time.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace sejfko::test {

class TPyFtpServer {
public:
    TPyFtpServer(const std::string& root, const std::string& user, const std::string& password) {
        static const char* const script = R"(
import logging, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
logging.disable(logging.CRITICAL)
authorizer = DummyAuthorizer()
authorizer.add_user(sys.argv[2], sys.argv[3], sys.argv[1], perm="elradfmw")
FTPHandler.authorizer = authorizer
server = FTPServer(("127.0.0.1", 0), FTPHandler)
print(server.socket.getsockname()[1], flush=True)
server.serve_forever()
)";
        int fds[2];
        if (::pipe(fds) != 0) {
            return;
        }
        FPid = ::fork();
        if (FPid == 0) {
            ::dup2(fds[1], 1);
            ::close(fds[0]);
            ::close(fds[1]);
            ::execl("/usr/bin/python3", "python3", "-c", script, root.c_str(), user.c_str(),
                    password.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        // The first line is the port; a server that fails to start closes the pipe instead.
        std::string line;
        char c;
        while (::read(fds[0], &c, 1) == 1 && c != '\n') {
            line += c;
        }
        ::close(fds[0]);
        Port = line.empty() ? 0 : std::stoi(line);
    }
    ~TPyFtpServer() {
        if (FPid > 0) {
            ::kill(FPid, SIGTERM);
            ::waitpid(FPid, nullptr, 0);
        }
    }
    TPyFtpServer(const TPyFtpServer&) = delete;
    TPyFtpServer& operator=(const TPyFtpServer&) = delete;

    int Port = 0;  // 0 when the server did not start

private:
    pid_t FPid = -1;
};

}  // namespace sejfko::test

#pragma once
// Real FTP servers for the integration tests, started on 127.0.0.1 and a free port through
// ftp_servers.py and stopped with the object (closing the helper's standard input ends it, so a
// crashed test leaves no server behind either). Tests run as root: the vsftpd login is a system
// user made for the tests, with a PAM service of its own (vsftpd's own one refuses users whose
// shell is not in /etc/shells).

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace sejfko::test {

enum class TServerKind { Pyftpdlib, Vsftpd };

constexpr const char* FtpTestUser = "sejfkoftp";
constexpr const char* FtpTestPassword = "Zaloha-2026";

// What a server does beyond plain FTP.
struct TServerSetup {
    // Explicit FTPS, demanded for logins and data (PEM files; pyftpdlib takes both in one).
    std::string Certificate;
    std::string Key;
    // The commands the server received, one a line in the server's own format.
    std::string Log;
};

class TRealFtpServer {
public:
    // `work` is a directory inside the test's own temporary directory (both made traversable
    // here, for vsftpd's unprivileged user); the server's login directory is `work`/home/up.
    // Started() is false (Reason() says why) when the server cannot run here.
    TRealFtpServer(TServerKind kind, const std::string& work, const TServerSetup& setup = {}) {
        ::chmod(work.substr(0, work.find_last_of('/')).c_str(), 0755);
        ::chmod(work.c_str(), 0755);
        FRoot = work + "/home/up";
        ::mkdir((work + "/home").c_str(), 0755);
        ::mkdir(FRoot.c_str(), 0755);
        std::vector<std::string> arguments = {"/usr/bin/python3",
                                              SEJFKO_SOURCE_DIR "/tests/transfer/ftp_servers.py"};
        if (kind == TServerKind::Pyftpdlib) {
            arguments.insert(arguments.end(), {"pyftpdlib", FRoot, FtpTestUser, FtpTestPassword});
            if (!setup.Log.empty() || !setup.Certificate.empty()) {
                arguments.push_back(setup.Log.empty() ? work + "/commands.log" : setup.Log);
            }
            if (!setup.Certificate.empty()) {
                const std::string combined = work + "/server.pem";
                std::ofstream(combined) << ReadText(setup.Certificate) << ReadText(setup.Key);
                arguments.push_back(combined);
            }
        } else {
            if (::access("/usr/sbin/vsftpd", X_OK) != 0 || ::geteuid() != 0) {
                FReason = "vsftpd is not installed or the tests do not run as root";
                return;
            }
            // Under a lock, and the PAM file replaced only when it differs, so that tests run in
            // parallel neither race for /etc/passwd nor see a half-written PAM file.
            if (std::system(
                    "flock /tmp/sejfko-ftp-test-user.lock sh -c '"
                    "id sejfkoftp >/dev/null 2>&1 || useradd -M -d / -s /bin/false sejfkoftp || "
                    "exit 1; echo sejfkoftp:Zaloha-2026 | chpasswd || exit 1; "
                    "f=/etc/pam.d/vsftpd-sejfko-test; printf \"auth required pam_unix.so\\n"
                    "account required pam_unix.so\\nsession required pam_unix.so\\n\" > $f.new "
                    "&& { cmp -s $f.new $f && rm $f.new || mv $f.new $f; }'") != 0) {
                FReason = "the test user cannot be created";
                return;
            }
            ::mkdir((work + "/empty").c_str(), 0755);
            [[maybe_unused]] int owned = ::chown(FRoot.c_str(), OwnerOf(), -1);
            const std::string config = work + "/vsftpd.conf";
            std::ofstream(config) << "listen=NO\nlisten_ipv6=NO\nanonymous_enable=NO\n"
                                     "local_enable=YES\nwrite_enable=YES\nlocal_umask=022\n"
                                     "local_root="
                                  << FRoot
                                  << "\nchroot_local_user=NO\npasv_enable=YES\n"
                                     "pasv_address=127.0.0.1\nport_enable=YES\n"
                                     "connect_from_port_20=NO\nsecure_chroot_dir="
                                  << work
                                  << "/empty\npam_service_name=vsftpd-sejfko-test\n"
                                     "check_shell=NO\nseccomp_sandbox=NO\n";
            std::ofstream extra(config, std::ios::app);
            if (setup.Log.empty()) {
                extra << "xferlog_enable=NO\n";
            } else {
                extra << "xferlog_enable=YES\nxferlog_std_format=NO\nlog_ftp_protocol=YES\n"
                         "vsftpd_log_file="
                      << setup.Log << "\n";
            }
            if (!setup.Certificate.empty()) {
                extra << "ssl_enable=YES\nrsa_cert_file=" << setup.Certificate
                      << "\nrsa_private_key_file=" << setup.Key
                      << "\nforce_local_logins_ssl=YES\nforce_local_data_ssl=YES\n"
                         "require_ssl_reuse=YES\nssl_ciphers=HIGH\n";
            }
            extra.close();
            arguments.insert(arguments.end(), {"vsftpd", config});
        }
        Launch(arguments);
    }
    ~TRealFtpServer() {
        if (FInput >= 0) {
            ::close(FInput);
        }
        if (FPid > 0) {
            int status = 0;
            ::waitpid(FPid, &status, 0);
        }
    }
    TRealFtpServer(const TRealFtpServer&) = delete;
    TRealFtpServer& operator=(const TRealFtpServer&) = delete;

    bool Started() const { return FPort > 0; }
    const std::string& Reason() const { return FReason; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(FPort); }
    // The login directory as seen on this machine.
    const std::string& Root() const { return FRoot; }

private:
    static std::string ReadText(const std::string& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    static uid_t OwnerOf() {
        const passwd* user = ::getpwnam(FtpTestUser);
        return user != nullptr ? user->pw_uid : static_cast<uid_t>(-1);
    }

    void Launch(const std::vector<std::string>& arguments) {
        int input[2];
        int output[2];
        if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0) {
            FReason = "pipe failed";
            return;
        }
        // Built before the fork: the child of a threaded process may not allocate.
        std::vector<char*> argv;
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        FPid = ::fork();
        if (FPid == 0) {
            ::dup2(input[0], 0);
            ::dup2(output[1], 1);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(input[0]);
        ::close(output[1]);
        FInput = input[1];
        // The helper prints the port once it listens; a generous bound, met only when broken.
        std::string line;
        pollfd entry{output[0], POLLIN, 0};
        while (line.find('\n') == std::string::npos && ::poll(&entry, 1, 30000) == 1) {
            char chunk[64];
            ssize_t got = ::read(output[0], chunk, sizeof chunk);
            if (got <= 0) {
                break;
            }
            line.append(chunk, static_cast<std::size_t>(got));
        }
        ::close(output[0]);
        FPort = std::atoi(line.c_str());
        if (FPort <= 0) {
            FReason = "the FTP server did not start";
        }
    }

    std::string FRoot;
    std::string FReason;
    pid_t FPid = -1;
    int FInput = -1;
    int FPort = 0;
};

}  // namespace sejfko::test

// Ctrl+C and SIGTERM to the real `sejfko-cli transfer` and `daemon` while the transfer waits on
// a server that does not answer: each ends within 2 s of the signal (the network limits are a
// minute and more), with the shell's status for the signal, and the archive and counter as they
// were.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "cli/cli_runner.hpp"
#include "platform/file_system.hpp"
#include "support/temp_dir.hpp"
#include "transfer/fake_ftp_server.hpp"

namespace sejfko {
namespace {

using test::TFakeFtpServer;
using test::TFakeSession;
using test::TTempDir;

const char* const Archive = "Backup_20261208_1200_full.fbk";

// Set once by the server when the client is committed to its wait.
class TLatch {
public:
    void Open() {
        {
            std::lock_guard lock(FLock);
            FOpen = true;
        }
        FChanged.notify_all();
    }
    bool WaitOpen(std::chrono::seconds bound) {
        std::unique_lock lock(FLock);
        return FChanged.wait_for(lock, bound, [this] { return FOpen; });
    }

private:
    std::mutex FLock;
    std::condition_variable FChanged;
    bool FOpen = false;
};

// A sejfko-cli process; its standard error goes to a file (a full pipe would block it).
class TCliProcess {
public:
    TCliProcess(const std::vector<std::string>& arguments, const std::string& errFile) {
        std::vector<char*> argv{const_cast<char*>(SEJFKO_CLI_PATH)};
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        Pid = ::fork();
        if (Pid == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(err, 2);
            ::execv(SEJFKO_CLI_PATH, argv.data());
            ::_exit(127);
        }
        ::close(err);
    }
    ~TCliProcess() {
        if (Pid > 0 && !FReaped) {
            ::kill(Pid, SIGKILL);
            ::waitpid(Pid, nullptr, 0);
        }
    }

    // Sends `signal`; the exit status (-1 when it did not exit by itself) and how long it took
    // from the signal. Should it not end within a minute, it is killed (status -1).
    int Stop(int signal, std::chrono::steady_clock::duration& took) {
        const int ended = static_cast<int>(::syscall(SYS_pidfd_open, Pid, 0));
        const auto start = std::chrono::steady_clock::now();
        ::kill(Pid, signal);
        pollfd entry{ended, POLLIN, 0};
        if (ended < 0 || ::poll(&entry, 1, 60000) != 1) {
            ::kill(Pid, SIGKILL);
        }
        int status = 0;
        ::waitpid(Pid, &status, 0);
        took = std::chrono::steady_clock::now() - start;
        FReaped = true;
        if (ended >= 0) {
            ::close(ended);
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    pid_t Pid = -1;

private:
    bool FReaped = false;
};

// The kernel function thread `tid` of process `pid` sleeps in ("" when unknown).
std::string SleepsIn(pid_t pid, pid_t tid) {
    return test::ReadWholeFile("/proc/" + std::to_string(pid) + "/task/" + std::to_string(tid) +
                               "/wchan");
}

// Returns once the process's main thread sleeps waiting for its socket to take data (in poll,
// or in a send that blocks), within a generous bound. `pid` 0: not known yet.
void WaitUntilItWaitsToSend(const std::atomic<pid_t>& pid) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        const pid_t process = pid.load();
        const std::string where = process > 0 ? SleepsIn(process, process) : "";
        if (where.find("poll") != std::string::npos ||
            where.find("sk_stream_wait_memory") != std::string::npos ||
            where.find("wait_woken") != std::string::npos) {
            return;
        }
        std::this_thread::yield();
    }
}

class StopCommand : public ::testing::Test {
protected:
    void SetUp() override {
        Dir.MakeDir("cfg");
        Dir.MakeDir("Temp");
        Config("Saving kind", "1");
        Config("Local temporary directory", Dir / "Temp");
        Config("Remote host", Server.Address());
        Config("Remote user", "zaloha");
        Config("Remote password", "heslo");
        Config("File count for transfer", "1");
        Dir.WriteFile(std::string("Temp/") + Archive, std::string(32 << 20, 'b'));
    }
    void TearDown() override { Server.Stop(); }

    void Config(const std::string& key, const std::string& value) {
        ASSERT_EQ(test::RunCliWith({"--config-dir", Dir / "cfg", "config", key, value}).Code, 0);
    }
    // Answers STOR with 150, then runs `then` and holds the control connection until the
    // client closes it.
    void OnStore(std::function<void(TFakeSession&)> then) {
        Server.Override = [then](TFakeSession& s, const std::string& verb, const std::string&) {
            if (verb != "STOR") {
                return false;
            }
            s.Reply("150 Go");
            then(s);
            s.Control.ReadAll();
            return true;
        };
    }
    // Starts `command`, waits for the server to open `ready`, sends `signal`; the exit status.
    int StopWhenReady(const std::string& command, int signal) {
        Server.Start();
        Process = std::make_unique<TCliProcess>(
            std::vector<std::string>{"--config-dir", Dir / "cfg", command}, Dir / "err.txt");
        ChildPid.store(Process->Pid);
        EXPECT_TRUE(Ready.WaitOpen(std::chrono::seconds(60))) << Err();
        std::chrono::steady_clock::duration took{};
        const int status = Process->Stop(signal, took);
        EXPECT_LT(took, std::chrono::seconds(2)) << Err();
        return status;
    }
    std::string Err() const { return test::ReadWholeFile(Dir / "err.txt"); }
    std::string Counter() const {
        return test::RunCliWith({"--config-dir", Dir / "cfg", "config", "File count for transfer"})
            .Out;
    }

    TTempDir Dir;
    TFakeFtpServer Server;
    TLatch Ready;
    std::unique_ptr<TCliProcess> Process;
    std::atomic<pid_t> ChildPid{0};  // what the server's thread reads of Process
};

TEST_F(StopCommand, TransferEndsOnSigintWhileTheServerNeverGreets) {
    Server.Script = [this](TFakeSession& s) {
        Ready.Open();
        s.Control.ReadAll();
    };
    EXPECT_EQ(StopWhenReady("transfer", SIGINT), 130);
    EXPECT_NE(Err().find("Přenos byl přerušen."), std::string::npos) << Err();
    EXPECT_TRUE(FileExists(Dir / "Temp" + "/" + Archive));
    EXPECT_EQ(Counter(), "1\n");
}

TEST_F(StopCommand, TransferEndsOnSigtermWhileTheServerStopsReadingMidUpload) {
    OnStore([this](TFakeSession& s) {
        s.DataReceiveBuffer = 4096;
        test::TFakeSocket data = s.OpenData();
        char chunk[65536];
        [[maybe_unused]] const ssize_t got = ::recv(data.Fd, chunk, sizeof chunk, 0);
        WaitUntilItWaitsToSend(ChildPid);
        Ready.Open();
        s.Control.ReadAll();  // the data connection stays open meanwhile
    });
    EXPECT_EQ(StopWhenReady("transfer", SIGTERM), 143);
    EXPECT_EQ(Err().find("Přenos selhal"), std::string::npos) << Err();
    EXPECT_TRUE(FileExists(Dir / "Temp" + "/" + Archive));
    EXPECT_EQ(Counter(), "1\n");
}

TEST_F(StopCommand, TransferEndsOnSigintWhileTheCompletionReplyNeverComes) {
    OnStore([this](TFakeSession& s) {
        s.OpenData().ReadAll();
        Ready.Open();
    });
    EXPECT_EQ(StopWhenReady("transfer", SIGINT), 130);
    EXPECT_TRUE(FileExists(Dir / "Temp" + "/" + Archive));
    EXPECT_EQ(Counter(), "1\n");
}

// The daemon's worker thread is joined within the bound too; a stop is its normal end.
TEST_F(StopCommand, DaemonEndsOnSigtermWhileItsTransferWaitsForTheGreeting) {
    Server.Script = [this](TFakeSession& s) {
        Ready.Open();
        s.Control.ReadAll();
    };
    EXPECT_EQ(StopWhenReady("daemon", SIGTERM), 0);
    EXPECT_NE(Err().find("další Ctrl+C ukončí okamžitě"), std::string::npos) << Err();
    EXPECT_TRUE(FileExists(Dir / "Temp" + "/" + Archive));
    EXPECT_EQ(Counter(), "1\n");
}

}  // namespace
}  // namespace sejfko

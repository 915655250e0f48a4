// `sejfko-cli run` in-process (captured output) and `sejfko-cli daemon` as a real process that is
// stopped by a signal.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "archive/backup_job.hpp"
#include "cli/cli_runner.hpp"
#include "cli/status_printer.hpp"
#include "platform/data_directory.hpp"
#include "platform/file_system.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using test::TTempDir;

class RunCommand : public ::testing::Test {
protected:
    void SetUp() override {
        SetZipEngineDirectory(SEJFKO_ZIPENGINE_DIR);
        Dir.WriteFile("tree/a.txt", "alpha\n");
        Dir.WriteFile("tree/sub/b.txt", "beta\n");
        Dir.MakeDir("cfg");
        Config("Local directory", Dir / "out");
    }
    void TearDown() override { SetZipEngineDirectory(""); }

    void Config(const std::string& key, const std::string& value) {
        ASSERT_EQ(test::RunCliWith({"--config-dir", Dir / "cfg", "config", key, value}).Code, 0);
    }
    void Select(const std::string& text) {
        Dir.WriteFile("cfg/select.txt", text);
        Config("File choose", "select.txt");  // relative to the data directory
    }
    test::TCliRun Run() { return test::RunCliWith({"--config-dir", Dir / "cfg", "run"}); }

    TTempDir Dir;
};

TEST_F(RunCommand, CompleteRunMakesOneArchive) {
    Select(Dir / "tree" + "\r\n");
    const test::TCliRun run = Run();
    EXPECT_EQ(run.Code, 0) << run.Err;
    EXPECT_EQ(run.Out, "Záloha byla úspěšně dokončena.\n");
    EXPECT_NE(run.Err.find("Sejfko - příprava"), std::string::npos) << run.Err;
    const std::vector<std::string> archives = test::EntryNames(Dir / "out");
    ASSERT_EQ(archives.size(), 1u);
    EXPECT_NE(archives[0].find("_full.fbk"), std::string::npos);
}

TEST_F(RunCommand, IncrementalRunWithNothingChangedSucceedsWithoutArchive) {
    Config("Backup kind", "1");
    Select(Dir / "tree" + "\n");
    ASSERT_EQ(Run().Code, 0);
    const test::TCliRun second = Run();
    EXPECT_EQ(second.Code, 0) << second.Err;
    EXPECT_NE(second.Out.find("nic nezměnilo"), std::string::npos) << second.Out;
    EXPECT_EQ(test::EntryNames(Dir / "out").size(), 1u);
}

// Every kind of run leaves one record; `log` shows them in order, `--json` as stored.
TEST_F(RunCommand, LogShowsEveryRunAndRestore) {
    Config("Backup kind", "1");
    Select(Dir / "tree" + "\n");
    ASSERT_EQ(Run().Code, 0);  // complete
    ASSERT_EQ(Run().Code, 0);  // nothing changed
    Dir.WriteFile("tree/c.txt", "new\n");
    ASSERT_EQ(Run().Code, 0);  // incremental
    Config("Local directory", Dir.WriteFile("blocker", "a file") + "/out");
    Dir.WriteFile("tree/d.txt", "another new file\n");
    ASSERT_EQ(Run().Code, 1);  // failed
    const test::TCliRun restore =
        test::RunCliWith({"--config-dir", Dir / "cfg", "restore", "--to", Dir / "r", Dir / "out"});
    ASSERT_EQ(restore.Code, 0) << restore.Out << restore.Err;
    const test::TCliRun log = test::RunCliWith({"--config-dir", Dir / "cfg", "log"});
    ASSERT_EQ(log.Code, 0) << log.Err;
    std::vector<std::string> kinds;
    for (const char* kind : {"úplná", "beze změn", "přírůstková", "CHYBA", "obnova"}) {
        const std::size_t at = log.Out.find(kind);
        EXPECT_NE(at, std::string::npos) << kind << "\n" << log.Out;
        kinds.push_back(std::to_string(at));
    }
    EXPECT_LT(log.Out.find("úplná"), log.Out.find("beze změn"));
    EXPECT_LT(log.Out.find("přírůstková"), log.Out.find("obnova"));
    const test::TCliRun json =
        test::RunCliWith({"--config-dir", Dir / "cfg", "log", "--last", "2", "--json"});
    ASSERT_EQ(json.Code, 0);
    EXPECT_EQ(std::count(json.Out.begin(), json.Out.end(), '\n'), 2);
    EXPECT_NE(json.Out.find("\"kind\":\"restore\""), std::string::npos) << json.Out;
    EXPECT_EQ(test::RunCliWith({"--config-dir", Dir / "cfg", "log", "--last", "x"}).Code, 2);
}

TEST_F(RunCommand, RefusesWithoutUsableSelection) {
    const test::TCliRun unset = Run();
    EXPECT_EQ(unset.Code, 1);
    EXPECT_NE(unset.Err.find("Není nastaven soubor s výběrem"), std::string::npos) << unset.Err;

    Config("File choose", Dir / "missing.txt");
    const test::TCliRun missing = Run();
    EXPECT_EQ(missing.Code, 1);
    EXPECT_NE(missing.Err.find(SelectionMissingText), std::string::npos) << missing.Err;
    EXPECT_FALSE(DirectoryExists(Dir / "out"));
}

TEST_F(RunCommand, RefusesWhileAnotherHolderHasTheDataDirectory) {
    Select(Dir / "tree" + "\n");
    TDataDirectoryLock other(Dir / "cfg");
    ASSERT_TRUE(other.TryAcquire());
    const test::TCliRun run = Run();
    EXPECT_EQ(run.Code, 1);
    EXPECT_FALSE(run.Err.empty());
    EXPECT_FALSE(DirectoryExists(Dir / "out"));
}

TEST_F(RunCommand, FailedJobFailsTheRun) {
    Select(Dir / "tree" + "\n");
    Dir.WriteFile("blocker", "a file where the destination's parent should be");
    Config("Local directory", Dir / "blocker/out");
    const test::TCliRun run = Run();
    EXPECT_EQ(run.Code, 1);
    EXPECT_NE(run.Out.find("Chyba"), std::string::npos) << run.Out;
}

// A child process with its stderr readable line by line, with a generous bound per wait.
class TDaemon {
public:
    explicit TDaemon(const std::string& configDir) {
        int pipeFds[2];
        if (::pipe(pipeFds) != 0) {
            return;
        }
        FPid = ::fork();
        if (FPid == 0) {
            ::dup2(pipeFds[1], 2);
            ::close(pipeFds[0]);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::execl(SEJFKO_CLI_PATH, SEJFKO_CLI_PATH, "--config-dir", configDir.c_str(), "daemon",
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(pipeFds[1]);
        FRead = pipeFds[0];
    }
    ~TDaemon() {
        if (FPid > 0 && !FReaped) {
            ::kill(FPid, SIGKILL);
            ::waitpid(FPid, nullptr, 0);
        }
        if (FRead >= 0) {
            ::close(FRead);
        }
    }

    // Reads until `text` has appeared in the output; false at end of output or after a minute.
    bool WaitFor(const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (Output.find(text) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd fd{FRead, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
                return false;
            }
            char buffer[4096];
            const ssize_t count = ::read(FRead, buffer, sizeof buffer);
            if (count <= 0) {
                return false;
            }
            Output.append(buffer, static_cast<std::size_t>(count));
        }
        return true;
    }

    // Sends `signal` and returns the exit code (-1 when it did not exit normally).
    int Stop(int signal) {
        ::kill(FPid, signal);
        int status = 0;
        ::waitpid(FPid, &status, 0);
        FReaped = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string Output;

private:
    pid_t FPid = -1;
    int FRead = -1;
    bool FReaped = false;
};

TEST_F(RunCommand, DaemonBacksUpWhenDueAndStopsCleanlyOnSignal) {
    Select(Dir / "tree" + "\n");  // "Last run" is 0: the first pass is due at once
    TDaemon daemon(Dir / "cfg");
    ASSERT_TRUE(daemon.WaitFor("Záloha byla úspěšně dokončena.")) << daemon.Output;
    ASSERT_TRUE(daemon.WaitFor("Další zálohování")) << daemon.Output;
    EXPECT_EQ(daemon.Stop(SIGTERM), 0);
    EXPECT_EQ(test::EntryNames(Dir / "out").size(), 1u);

    // The lock went with the process.
    TDataDirectoryLock after(Dir / "cfg");
    EXPECT_TRUE(after.TryAcquire());
}

TEST_F(RunCommand, DaemonReportsAMissingSelectionAndGoesOn) {
    Config("File choose", Dir / "missing.txt");
    TDaemon daemon(Dir / "cfg");
    ASSERT_TRUE(daemon.WaitFor(SelectionMissingText)) << daemon.Output;
    ASSERT_TRUE(daemon.WaitFor("Další zálohování")) << daemon.Output;
    EXPECT_EQ(daemon.Stop(SIGINT), 0);
}

}  // namespace
}  // namespace sejfko

// Crash points: the real `sejfko-cli run`, `transfer` and `restore` are killed (SIGKILL) at random
// moments. Whatever the moment, nothing may be torn: Options.ini and IncSelect.ini parse, every
// archive where archives are kept is whole, no temporary file stays once the next run or
// restore has finished, the next run succeeds, and every archive point still restores exactly.
//
// The moments are drawn from the length of an uninterrupted run, measured first; the seed is
// printed so that a failure can be looked at again (SEJFKO_CRASH_SEED).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "archive/zip_reader.hpp"
#include "backup/file_list.hpp"
#include "config/options.hpp"
#include "restore/py_ftp_server.hpp"
#include "restore/restore_chain.hpp"
#include "restore/restore_run.hpp"
#include "support/temp_dir.hpp"
#include "support/tree_snapshot.hpp"

namespace sejfko::test {
namespace {

using Clock = std::chrono::steady_clock;

// Starts the command line with `arguments`; kills it after `killAfter` unless it ends first.
// The exit code, or -SIGKILL when it was killed.
int RunCli(const std::vector<std::string>& arguments,
           std::chrono::milliseconds killAfter = std::chrono::milliseconds(-1)) {
    int ended[2];
    if (::pipe(ended) != 0) {
        return -1000;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ended[0]);  // the write end stays open in the child until it ends
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        std::vector<char*> argv;
        std::string program = SEJFKO_CLI_PATH;
        argv.push_back(program.data());
        std::vector<std::string> copies = arguments;
        for (std::string& argument : copies) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(ended[1]);
    bool killed = false;
    if (killAfter.count() >= 0) {
        pollfd wait{ended[0], POLLIN, 0};
        if (::poll(&wait, 1, static_cast<int>(killAfter.count())) == 0) {
            killed = ::kill(child, SIGKILL) == 0;
        }
    }
    ::close(ended[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (killed && WIFSIGNALED(status)) {
        return -SIGKILL;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> Hidden(const std::string& directory) {
    std::vector<std::string> names;
    for (const std::string& name : EntryNames(directory)) {
        if (name.front() == '.') {
            names.push_back(name);
        }
    }
    return names;
}

std::string Joined(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& name : names) {
        out += " " + Printable(name);
    }
    return out;
}

class CrashPoints : public ::testing::Test {
protected:
    void SetUp() override {
        const char* seed = std::getenv("SEJFKO_CRASH_SEED");
        Seed = seed != nullptr ? std::strtoull(seed, nullptr, 10)
                               : static_cast<uint64_t>(Clock::now().time_since_epoch().count());
        Random.seed(Seed);
        std::printf("crash points: seed %llu\n", static_cast<unsigned long long>(Seed));
        Config = Dir.MakeDir("config");
        Source = Dir.MakeDir("src");
        Out = Dir / "out";
        // Enough to take a noticeable while: many small files and a large one.
        for (int i = 0; i < 300; ++i) {
            Put("small/" + std::to_string(i % 17) + "/file " + std::to_string(i) + ".txt",
                std::string(100 + i, static_cast<char>('a' + i % 26)));
        }
        std::string large(24u << 20, '\0');
        for (char& c : large) {
            c = static_cast<char>(Random());
        }
        Put("large.bin", large);
        Dir.WriteFile("selection.txt", Source + "\n");
        Options.Load(Config);
        Options.SetFileChoose(Dir / "selection.txt");
        Options.SetBackupKind(bkIncWeek);
        // A complete day other than today, so that runs after the first are incremental.
        const time_t now = ::time(nullptr);
        std::tm local{};
        ::localtime_r(&now, &local);
        const int today = local.tm_wday == 0 ? 7 : local.tm_wday;
        Options.SetCompletelyWeekBackupDay(today % 7 + 1);
        Options.SetBackupCount(1000);
        Options.SetLocalDirectory(Out);
    }

    void Put(const std::string& relative, const std::string& content) {
        const std::string path = Dir.WriteFile("src/" + relative, content);
        Stamp += 2;
        const timespec times[2] = {{Stamp, 0}, {Stamp, 0}};
        ::utimensat(AT_FDCWD, path.c_str(), times, 0);
    }

    // Some edits, so that the next incremental run has something to archive.
    void Change() {
        for (int i = 0; i < 5; ++i) {
            const int which = static_cast<int>(Random() % 300);
            Put("small/" + std::to_string(which % 17) + "/file " + std::to_string(which) + ".txt",
                "changed " + std::to_string(Random()));
        }
        if (Random() % 3 == 0) {
            std::string large = ReadWholeFile(Source + "/large.bin");
            large[Random() % large.size()] ^= 1;
            Put("large.bin", large);
        }
    }

    std::chrono::milliseconds RandomMoment(std::chrono::milliseconds length) {
        return std::chrono::milliseconds(Random() % (length.count() * 5 / 4 + 1));
    }

    // What must hold right after a kill, before anything cleans up.
    void ExpectNothingTorn(const std::string& where) {
        TOptions reread;
        EXPECT_NO_THROW(reread.Load(Config)) << where;
        EXPECT_EQ(reread.FileChoose(), Dir / "selection.txt") << where;
        EXPECT_EQ(reread.BackupCount(), 1000) << where;
        TFileList state;
        EXPECT_NO_THROW(state.LoadFromFile(Config + "/IncSelect.ini")) << where;
        for (const std::string& directory : ArchiveHomes) {
            for (const std::string& name : EntryNames(directory)) {
                if (name.front() != '.' && name.size() > 4 &&
                    name.compare(name.size() - 4, 4, ".fbk") == 0) {
                    ExpectWhole(directory + "/" + name, where);
                }
            }
        }
    }

    static void ExpectWhole(const std::string& archive, const std::string& where) {
        try {
            TZipReader reader;
            reader.Open(archive);
            for (const TZipDirEntry& entry : reader.Entries()) {
                reader.ExtractTo(entry, [](const char*, std::size_t) {});
            }
        } catch (const std::exception& error) {
            ADD_FAILURE() << where << ": " << archive << " is torn: " << error.what();
        }
    }

    // After a finished command: no temporary file of ours anywhere a user looks.
    void ExpectNoTemporaries(const std::string& where) {
        for (const std::string& directory : ArchiveHomes) {
            EXPECT_EQ(Joined(Hidden(directory)), "") << where << " in " << directory;
        }
        EXPECT_EQ(Joined(Hidden(Config)), "") << where << " in the data directory";
    }

    // Archives made since `before`, all of the tree as it is now.
    void RecordNewArchives(const std::vector<std::string>& before) {
        const TSnapshot tree = TakeSnapshot(Source);
        for (const std::string& directory : ArchiveHomes) {
            for (const std::string& name : EntryNames(directory)) {
                std::string stamp;
                bool full = false;
                if (ParseArchiveName(name, stamp, full) && Points.count(stamp) == 0 &&
                    std::find(before.begin(), before.end(), name) == before.end()) {
                    Points[stamp] = tree;
                }
            }
        }
    }

    std::vector<std::string> AllArchives() const {
        std::vector<std::string> names;
        for (const std::string& directory : ArchiveHomes) {
            for (const std::string& name : EntryNames(directory)) {
                names.push_back(name);
            }
        }
        return names;
    }

    void ExpectEveryPointRestores() {
        const std::vector<TArchiveRef> archives = CollectArchives(ArchiveHomes);
        for (const auto& [stamp, tree] : Points) {
            const std::string target = Dir / ("restore-" + stamp);
            PrepareRestoreTarget(target, false, false);
            TRestoreOptions options;
            options.Target = target;
            TRestoreObserver observer;
            const TRestoreSummary summary =
                RestoreChain(SelectChain(archives, stamp), options, observer);
            EXPECT_TRUE(summary.Succeeded()) << stamp;
            EXPECT_EQ(CompareSnapshots(tree, TakeSnapshot(target + Source)), "") << stamp;
            std::filesystem::remove_all(target);
        }
    }

    // Runs a clean `run` and times it (the window the kills are drawn from).
    std::chrono::milliseconds TimedRun() {
        const std::vector<std::string> before = AllArchives();
        const auto start = Clock::now();
        EXPECT_EQ(RunCli({"--config-dir", Config, "run"}), 0);
        RecordNewArchives(before);
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    }

    void KillRuns(int count, std::chrono::milliseconds length) {
        for (int i = 0; i < count; ++i) {
            Change();
            const std::vector<std::string> before = AllArchives();
            const std::string where = "run killed, iteration " + std::to_string(i);
            RunCli({"--config-dir", Config, "run"}, RandomMoment(length));
            ExpectNothingTorn(where);
            RecordNewArchives(before);
            EXPECT_EQ(RunCli({"--config-dir", Config, "run"}), 0) << where;
            RecordNewArchives(before);
            ExpectNoTemporaries(where + ", after the next run");
        }
    }

    uint64_t Seed = 0;
    std::mt19937_64 Random;
    TTempDir Dir;
    std::string Config;
    std::string Source;
    std::string Out;
    std::vector<std::string> ArchiveHomes;
    std::map<std::string, TSnapshot> Points;
    std::time_t Stamp = 1735700000;
};

TEST_F(CrashPoints, KilledRunsTearNothingAndTheChainStillRestores) {
    ArchiveHomes = {Out};
    const std::chrono::milliseconds length = TimedRun();
    KillRuns(10, length);
    ExpectEveryPointRestores();
}

TEST_F(CrashPoints, KilledTransfersTearNothingOnTheServer) {
    TPyFtpServer server(Dir.MakeDir("ftp"), "zaloha", "heslo");
    ASSERT_NE(server.Port, 0) << "pyftpdlib did not start";
    Options.SetSavingKind(skRemote);
    Options.SetLocalTemporaryDirectory(Dir / "outbox");
    Options.SetRemoteHost("127.0.0.1:" + std::to_string(server.Port));
    Options.SetRemoteUser("zaloha");
    Options.SetRemotePassword("heslo");
    ArchiveHomes = {Dir / "ftp", Dir / "outbox"};
    TimedRun();
    const auto start = Clock::now();
    ASSERT_EQ(RunCli({"--config-dir", Config, "transfer"}), 0);
    const auto length = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    for (int i = 0; i < 8; ++i) {
        Change();
        TimedRun();
        const std::string where = "transfer killed, iteration " + std::to_string(i);
        RunCli({"--config-dir", Config, "transfer"}, RandomMoment(length));
        ExpectNothingTorn(where);
        EXPECT_EQ(RunCli({"--config-dir", Config, "transfer"}), 0) << where;
        ExpectNoTemporaries(where + ", after the next transfer");
        EXPECT_EQ(EntryNames(Dir / "outbox").size(), 0u) << where;
    }
    ExpectEveryPointRestores();
}

TEST_F(CrashPoints, AKilledRestoreIsCompletedByTheNextOne) {
    ArchiveHomes = {Out};
    TimedRun();
    Change();
    TimedRun();
    const std::string target = Dir / "restored";
    const auto start = Clock::now();
    ASSERT_EQ(RunCli({"restore", "--to", target, Out}), 0);
    const auto length = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    const TSnapshot expected = Points.rbegin()->second;
    for (int i = 0; i < 8; ++i) {
        std::filesystem::remove_all(target);
        const std::string where = "restore killed, iteration " + std::to_string(i);
        RunCli({"restore", "--to", target, Out}, RandomMoment(length));
        // Whatever it wrote is whole: every file there is one of the tree's, complete.
        for (const auto& [name, file] : TakeSnapshot(target + Source)) {
            if (name.find("/.") == std::string::npos && name.front() != '.') {
                EXPECT_EQ(file.Content, expected.at(name).Content) << where << ": " << name;
            }
        }
        EXPECT_EQ(RunCli({"restore", "--force", "--to", target, Out}), 0) << where;
        EXPECT_EQ(CompareSnapshots(expected, TakeSnapshot(target + Source)), "") << where;
    }
}

}  // namespace
}  // namespace sejfko::test

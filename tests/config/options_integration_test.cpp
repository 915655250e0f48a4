// Several processes on one Options.ini: each write re-reads and replaces the file under the
// cross-process lock, so no process undoes another's key, and a process killed in the middle of
// a write leaves the old or the new file, never a torn one.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "config/options.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using test::ReadWholeFile;
using test::TTempDir;

const TLocaleFormat PointLocale = TLocaleFormat::FromName("C", "C");

// Runs `body` in a child process that ends with 0 when it returns and 1 when it throws.
template <typename Body>
pid_t Spawn(Body body) {
    pid_t pid = ::fork();
    if (pid == 0) {
        int code = 0;
        try {
            body();
        } catch (...) {
            code = 1;
        }
        ::_exit(code);
    }
    return pid;
}

int WaitExitCode(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

TEST(OptionsProcesses, TwoWritersOfDifferentKeysBothKeepTheirKey) {
    TTempDir dir;
    constexpr int Rounds = 150;
    auto writer = [&dir](int which) {
        return [&dir, which] {
            TOptions o(PointLocale);
            o.Load(dir.Path());
            for (int i = 1; i <= Rounds; ++i) {
                if (which == 0) {
                    o.SetBackupCount(i);
                } else {
                    o.SetFileCountForTransfer(i);
                }
            }
        };
    };
    pid_t first = Spawn(writer(0));
    pid_t second = Spawn(writer(1));
    ASSERT_GT(first, 0);
    ASSERT_GT(second, 0);
    EXPECT_EQ(WaitExitCode(first), 0);
    EXPECT_EQ(WaitExitCode(second), 0);

    TOptions r(PointLocale);
    r.Load(dir.Path());
    EXPECT_EQ(r.BackupCount(), Rounds);
    EXPECT_EQ(r.FileCountForTransfer(), Rounds);
}

TEST(OptionsProcesses, KilledWriterLeavesAWholeFile) {
    TTempDir dir;
    const std::string head = "; keep me\n[Options]\nRemote user=novak\n";
    dir.WriteFile("Options.ini", head + "Remote host=" + std::string(3000, '0') + "\n");

    int progress[2];
    ASSERT_EQ(::pipe(progress), 0);
    pid_t child = Spawn([&] {
        ::close(progress[0]);
        TOptions o(PointLocale);
        o.Load(dir.Path());
        for (int i = 1;; ++i) {
            // Each value is one digit repeated, so a torn file shows as a mixed or short value.
            o.SetRemoteHost(std::string(3000 + static_cast<std::size_t>(i % 7) * 1000,
                                        static_cast<char>('0' + i % 10)));
            char tick = 1;
            if (::write(progress[1], &tick, 1) != 1) {
                return;
            }
        }
    });
    ASSERT_GT(child, 0);
    ::close(progress[1]);
    // Let it finish some writes, then kill it wherever it is.
    char ticks[25];
    std::size_t seen = 0;
    while (seen < sizeof ticks) {
        ssize_t count = ::read(progress[0], ticks, sizeof ticks - seen);
        ASSERT_GT(count, 0);
        seen += static_cast<std::size_t>(count);
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::close(progress[0]);

    std::string content = ReadWholeFile(dir / "Options.ini");
    ASSERT_EQ(content.rfind(head + "Remote host=", 0), 0u) << content.substr(0, 200);
    std::string value = content.substr(head.size() + 12);
    ASSERT_FALSE(value.empty());
    ASSERT_EQ(value.back(), '\n');
    value.pop_back();
    EXPECT_EQ(value, std::string(value.size(), value[0]));
    EXPECT_EQ(value.size() % 1000, 0u);

    TOptions r(PointLocale);
    r.Load(dir.Path());
    EXPECT_EQ(r.RemoteUser(), "novak");
    // Values are read up to 2047 characters.
    EXPECT_EQ(r.RemoteHost(), value.substr(0, 2047));
}

}  // namespace
}  // namespace sejfko

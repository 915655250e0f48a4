#include "platform/data_directory.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <optional>

#include "platform/fault_injection.hpp"
#include "platform/file_system.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using test::ReadWholeFile;
using test::TTempDir;

// Sets (or with nullopt unsets) an environment variable for the scope of the test.
class TScopedEnv {
public:
    TScopedEnv(const char* name, std::optional<std::string> value) : FName(name) {
        if (const char* old = std::getenv(name)) {
            FOld = old;
        }
        Set(value);
    }
    ~TScopedEnv() { Set(FOld); }

private:
    void Set(const std::optional<std::string>& value) {
        if (value) {
            ::setenv(FName, value->c_str(), 1);
        } else {
            ::unsetenv(FName);
        }
    }
    const char* FName;
    std::optional<std::string> FOld;
};

TEST(DataDirectory, FollowsXdgConfigHomeElseHome) {
    ASSERT_FALSE(FileExists(ExecutableDirectory() + "/Options.ini"));
    ASSERT_TRUE(DirectoryExists(ExecutableDirectory()));
    TScopedEnv home("HOME", "/home/jana");
    {
        TScopedEnv xdg("XDG_CONFIG_HOME", "/srv/conf/");
        EXPECT_EQ(DefaultDataDirectory(), "/srv/conf/sejfko");
    }
    {
        TScopedEnv xdg("XDG_CONFIG_HOME", "relative/conf");  // not absolute: ignored
        EXPECT_EQ(DefaultDataDirectory(), "/home/jana/.config/sejfko");
    }
    TScopedEnv xdg("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(DefaultDataDirectory(), "/home/jana/.config/sejfko");
}

TEST(DataDirectory, TemporaryDirectoryAndRelativePaths) {
    EXPECT_EQ(DefaultLocalTemporaryDirectory("/home/jana/.config/sejfko"),
              "/home/jana/.config/sejfko/Temp");
    EXPECT_EQ(DefaultLocalTemporaryDirectory("/data/"), "/data/Temp");
    EXPECT_EQ(ResolveDataPath("/data", "select.txt"), "/data/select.txt");
    EXPECT_EQ(ResolveDataPath("/data/", "sub/select.txt"), "/data/sub/select.txt");
    EXPECT_EQ(ResolveDataPath("/data", "/etc/select.txt"), "/etc/select.txt");
    EXPECT_EQ(ResolveDataPath("/data", ""), "");
}

// Runs `body` in a child process and returns its exit code.
int InChild(const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(DataDirectoryLock, OneHolderAtATimeWithinAndAcrossProcesses) {
    TTempDir dir;
    const std::string data = dir / "missing/sejfko";
    TDataDirectoryLock first(data);
    ASSERT_TRUE(first.TryAcquire()) << first.ErrorText();
    EXPECT_TRUE(first.Held());
    EXPECT_TRUE(first.TryAcquire());  // already ours
    EXPECT_EQ(ReadWholeFile(data + "/sejfko.lock"), std::to_string(::getpid()) + "\n");

    TDataDirectoryLock second(data);
    EXPECT_FALSE(second.TryAcquire());
    EXPECT_FALSE(second.Held());
    EXPECT_NE(second.ErrorText().find("už běží"), std::string::npos) << second.ErrorText();
    EXPECT_NE(second.ErrorText().find(data), std::string::npos);
    EXPECT_NE(second.ErrorText().find(std::to_string(::getpid())), std::string::npos);

    auto tryInChild = [&data] { return TDataDirectoryLock(data).TryAcquire() ? 0 : 1; };
    EXPECT_EQ(InChild(tryInChild), 1);
    first.Release();
    EXPECT_FALSE(first.Held());
    EXPECT_EQ(InChild(tryInChild), 0);

    // A holder that dies without releasing leaves nothing behind.
    EXPECT_EQ(InChild([&data] {
                  TDataDirectoryLock held(data);
                  if (!held.TryAcquire()) {
                      return 1;
                  }
                  ::_exit(0);
              }),
              0);
    EXPECT_TRUE(second.TryAcquire()) << second.ErrorText();
}

TEST(DataDirectoryLock, FailuresGiveCzechReasons) {
    TTempDir dir;
    {
        TScopedFault fault(FailUnder(dir.Path(), TFileOperation::Lock, EACCES));
        TDataDirectoryLock lock(dir.Path());
        EXPECT_FALSE(lock.TryAcquire());
        EXPECT_EQ(lock.ErrorText().rfind("Nelze zamknout datový adresář " + dir.Path(), 0), 0u)
            << lock.ErrorText();
    }
    dir.WriteFile("file", "");
    TDataDirectoryLock lock(dir / "file/sub");
    EXPECT_FALSE(lock.TryAcquire());
    EXPECT_EQ(lock.ErrorText().rfind("Nelze vytvořit datový adresář", 0), 0u) << lock.ErrorText();
}

}  // namespace
}  // namespace sejfko

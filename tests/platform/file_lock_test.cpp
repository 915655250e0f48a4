#include "platform/file_lock.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

#include "platform/fault_injection.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using test::TTempDir;

int ExitCodeOfChild(const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(TryFileLock, OneHolderWithinAndAcrossProcessesUntilItGoesOrDies) {
    TTempDir dir;
    const std::string path = dir / "instance.lock";
    auto tryInChild = [&path] {
        TTryFileLock lock(path);
        return lock.TryAcquire() ? 0 : (lock.Error() == 0 ? 1 : 2);
    };
    {
        TTryFileLock first(path);
        ASSERT_TRUE(first.TryAcquire()) << first.Error();
        EXPECT_TRUE(first.TryAcquire());  // already ours
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);

        TTryFileLock second(path);
        EXPECT_FALSE(second.TryAcquire());
        EXPECT_EQ(second.Error(), 0);  // held, not broken
        EXPECT_FALSE(second.Held());
        EXPECT_EQ(ExitCodeOfChild(tryInChild), 1);
    }
    EXPECT_EQ(ExitCodeOfChild(tryInChild), 0);

    // A holder that dies without a word leaves the lock free.
    EXPECT_EQ(ExitCodeOfChild([&path] {
                  static TTryFileLock held(path);
                  if (!held.TryAcquire()) {
                      return 1;
                  }
                  ::_exit(0);
              }),
              0);
    TTryFileLock after(path);
    EXPECT_TRUE(after.TryAcquire()) << after.Error();
}

TEST(TryFileLock, ASymlinkOrAFaultIsAnErrorNotAHolder) {
    TTempDir dir;
    dir.WriteFile("target", "");
    ASSERT_EQ(::symlink((dir / "target").c_str(), (dir / "link.lock").c_str()), 0);
    TTryFileLock link(dir / "link.lock");
    EXPECT_FALSE(link.TryAcquire());
    EXPECT_EQ(link.Error(), ELOOP);

    TScopedFault fault(FailUnder(dir.Path(), TFileOperation::Lock, EACCES));
    TTryFileLock refused(dir / "other.lock");
    EXPECT_FALSE(refused.TryAcquire());
    EXPECT_EQ(refused.Error(), EACCES);
}

}  // namespace
}  // namespace sejfko

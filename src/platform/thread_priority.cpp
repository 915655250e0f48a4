#include "platform/thread_priority.hpp"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace sejfko {

void LowerCurrentThreadPriority() {
#ifdef _WIN32
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
#elif defined(__linux__)
    // On Linux the nice value belongs to the thread (its kernel task id), not to the process.
    // The niceness scale has forty steps where Windows has seven classes; five of them are a
    // comparable "one step below normal".
    constexpr int Step = 5;
    const auto task = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, task);
    if (errno == 0) {
        const int lowered = current + Step > 19 ? 19 : current + Step;
        [[maybe_unused]] const int result = ::setpriority(PRIO_PROCESS, task, lowered);
    }
#endif
}

}  // namespace sejfko

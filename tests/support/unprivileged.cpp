#include "support/unprivileged.hpp"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sejfko::test {

int RunUnprivileged(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid < 0) {
        return -1;
    }
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(UnprivilegedGroup) != 0 ||
                                 ::setuid(UnprivilegedUser) != 0)) {
            ::_exit(255);
        }
        int code = 255;
        try {
            code = body();
        } catch (...) {
        }
        ::_exit(code);
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) == 255) {
        return -1;
    }
    return WEXITSTATUS(status);
}

}  // namespace sejfko::test

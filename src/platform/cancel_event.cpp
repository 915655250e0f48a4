#include "platform/cancel_event.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/exceptions.hpp"

#ifdef __linux__
#include <sys/eventfd.h>
#endif

namespace sejfko {

TCancelEvent::TCancelEvent() {
#ifdef __linux__
    FRead = FWrite = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (FRead < 0) {
        throw EOSError(errno, "Nelze vytvořit událost pro ukončení.");
    }
#else
    int fds[2];
    if (::pipe(fds) != 0) {
        throw EOSError(errno, "Nelze vytvořit událost pro ukončení.");
    }
    for (int fd : fds) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, O_NONBLOCK);
    }
    FRead = fds[0];
    FWrite = fds[1];
#endif
}

TCancelEvent::~TCancelEvent() {
    ::close(FRead);
    if (FWrite != FRead) {
        ::close(FWrite);
    }
}

void TCancelEvent::Set() {
    if (FSet.exchange(true)) {
        return;
    }
    // Nothing ever reads it back: the descriptor stays readable for every later wait.
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(FWrite, &one, sizeof one);
}

}  // namespace sejfko

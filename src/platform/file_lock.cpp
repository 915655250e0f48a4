#include "platform/file_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/exceptions.hpp"
#include "platform/fault_injection.hpp"
#include "platform/file_system.hpp"

namespace sejfko {

TFileLock::TFileLock(const std::string& lockPath) {
    if (int fault = InjectedFault(TFileOperation::Create, lockPath)) {
        throw EOSError(fault, lockPath + ": " + SystemErrorMessage(fault));
    }
    // Read access is all flock needs; a lock file made by root (sudo) stays usable by the user.
    FHandle = ::open(lockPath.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (FHandle < 0) {
        int error = errno;
        throw EOSError(error, lockPath + ": " + SystemErrorMessage(error));
    }
    while (::flock(FHandle, LOCK_EX) != 0) {
        if (errno != EINTR) {
            int error = errno;
            ::close(FHandle);
            FHandle = -1;
            throw EOSError(error, lockPath + ": " + SystemErrorMessage(error));
        }
    }
}

TFileLock::~TFileLock() {
    // Closing the only descriptor of the open file releases the flock.
    if (FHandle >= 0) {
        ::close(FHandle);
    }
}

TTryFileLock::TTryFileLock(std::string lockPath) : FPath(std::move(lockPath)) {}

TTryFileLock::~TTryFileLock() {
    if (FHandle >= 0) {
        ::close(FHandle);
    }
}

bool TTryFileLock::TryAcquire() {
    if (Held()) {
        return true;
    }
    if (const int fault = InjectedFault(TFileOperation::Lock, FPath)) {
        FError = fault == EWOULDBLOCK ? 0 : fault;
        return false;
    }
    FError = 0;
    const int handle = ::open(FPath.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (handle < 0) {
        FError = errno;
        return false;
    }
    // The lock belongs to this open file description: a second object in the same process
    // fails as well.
    while (::flock(handle, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) {
            continue;
        }
        FError = errno == EWOULDBLOCK ? 0 : errno;
        ::close(handle);
        return false;
    }
    FHandle = handle;
    return true;
}

}  // namespace sejfko

#include "platform/file_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

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

}  // namespace sejfko

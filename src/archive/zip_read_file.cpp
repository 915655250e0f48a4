#include "archive/zip_read_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/fault_injection.hpp"

namespace sejfko {

TZipReadFile::~TZipReadFile() {
    Close();
}

void TZipReadFile::Close() {
    if (FHandle >= 0) {
        ::close(FHandle);
        FHandle = -1;
    }
}

bool TZipReadFile::Open(const std::string& path) {
    Close();
    FPath = path;
    FSize = 0;
    FError = InjectedFault(TFileOperation::OpenRead, path);
    if (FError != 0) {
        return false;
    }
    // Devices and FIFOs are refused before opening (opening alone may block or act on a
    // device); non-blocking and checked again in case one is swapped in meanwhile.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        FError = errno;
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        FError = EINVAL;
        return false;
    }
    const int handle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (handle < 0) {
        FError = errno;
        return false;
    }
    const bool statted = ::fstat(handle, &st) == 0;
    if (!statted || !S_ISREG(st.st_mode)) {
        FError = statted ? EINVAL : errno;
        ::close(handle);
        return false;
    }
    const int flags = ::fcntl(handle, F_GETFL);
    if (flags >= 0) {
        ::fcntl(handle, F_SETFL, flags & ~O_NONBLOCK);
    }
    FHandle = handle;
    FSize = st.st_size;
    FError = 0;
    return true;
}

std::ptrdiff_t TZipReadFile::ReadAt(int64_t offset, void* buffer, std::size_t size) const {
    if (FHandle < 0 || offset < 0) {
        FError = EBADF;
        return -1;
    }
    if (const int fault = InjectedFault(TFileOperation::Read, FPath)) {
        FError = fault;
        return -1;
    }
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::pread(FHandle, out + done, size - done,
                                    static_cast<off_t>(offset + static_cast<int64_t>(done)));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            FError = errno;
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return static_cast<std::ptrdiff_t>(done);
}

}  // namespace sejfko

#include "zipengine/archive_output.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/system_error_text.hpp"

namespace sejfko::zipengine {

namespace {

constexpr size_t BUFFER_SIZE = 1 << 20;
constexpr const char* CREATE = "nelze vytvořit";
constexpr const char* WRITE = "nelze zapsat";

}  // namespace

TArchiveOutput::TArchiveOutput(std::string path) : FPath(std::move(path)) {
    // Never through a link, and never into a file that has other names: in a shared directory
    // either could have been put under the archive's name by someone else, to have the archive
    // written where they choose.
    FHandle = open(FPath.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (FHandle < 0) {
        Fail(CREATE);
    }
    struct stat st {};
    int error = 0;
    if (fstat(FHandle, &st) != 0) {
        error = errno;
    } else if (!S_ISREG(st.st_mode) || st.st_nlink != 1) {
        error = EPERM;
    } else if (ftruncate(FHandle, 0) != 0) {
        error = errno;
    }
    if (error != 0) {
        // The constructor fails, so no destructor closes the handle.
        close(FHandle);
        FHandle = -1;
        errno = error;
        Fail(CREATE);
    }
    FBuffer.reserve(BUFFER_SIZE);
}

TArchiveOutput::~TArchiveOutput() {
    if (FHandle >= 0) {
        close(FHandle);
    }
}

void TArchiveOutput::Fail(const char* what) const {
    throw EArchiveWrite("Archiv '" + FPath + "' " + what + ": " + CzechSystemErrorText(errno));
}

void TArchiveOutput::Write(const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (FBuffer.size() + size > BUFFER_SIZE) {
        Flush();
    }
    if (size >= BUFFER_SIZE) {
        size_t done = 0;
        while (done < size) {
            const ssize_t n = write(FHandle, bytes + done, size - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                Fail(WRITE);
            }
            done += static_cast<size_t>(n);
        }
    } else {
        FBuffer.insert(FBuffer.end(), bytes, bytes + size);
    }
    FOffset += size;
}

void TArchiveOutput::Flush() {
    size_t done = 0;
    while (done < FBuffer.size()) {
        const ssize_t n = write(FHandle, FBuffer.data() + done, FBuffer.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            Fail(WRITE);
        }
        done += static_cast<size_t>(n);
    }
    FBuffer.clear();
}

void TArchiveOutput::Patch(uint64_t offset, const std::vector<uint8_t>& data) {
    const uint64_t buffered = FOffset - FBuffer.size();
    if (offset >= buffered) {
        std::memcpy(FBuffer.data() + (offset - buffered), data.data(), data.size());
        return;
    }
    Flush();
    if (pwrite(FHandle, data.data(), data.size(), static_cast<off_t>(offset)) !=
        static_cast<ssize_t>(data.size())) {
        Fail(WRITE);
    }
}

void TArchiveOutput::TruncateTo(uint64_t offset) {
    Flush();
    if (ftruncate(FHandle, static_cast<off_t>(offset)) != 0 ||
        lseek(FHandle, static_cast<off_t>(offset), SEEK_SET) < 0) {
        Fail("nelze zkrátit");
    }
    FOffset = offset;
}

void TArchiveOutput::Finish() {
    Flush();
    if (fsync(FHandle) != 0) {
        Fail("nelze uložit na disk");
    }
    const int handle = FHandle;
    FHandle = -1;
    if (close(handle) != 0) {
        Fail("nelze uzavřít");
    }
}

void TArchiveOutput::Remove() {
    if (FHandle >= 0) {
        close(FHandle);
        FHandle = -1;
    }
    unlink(FPath.c_str());
}

}  // namespace sejfko::zipengine

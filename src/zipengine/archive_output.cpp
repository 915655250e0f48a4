#include "zipengine/archive_output.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sejfko::zipengine {

namespace {

constexpr size_t BUFFER_SIZE = 1 << 20;

}  // namespace

TArchiveOutput::TArchiveOutput(std::string path) : FPath(std::move(path)) {
    FHandle = open(FPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (FHandle < 0) {
        Fail("cannot create");
    }
    FBuffer.reserve(BUFFER_SIZE);
}

TArchiveOutput::~TArchiveOutput() {
    if (FHandle >= 0) {
        close(FHandle);
    }
}

void TArchiveOutput::Fail(const char* what) const {
    throw EArchiveWrite(std::string(what) + " " + FPath + ": " + std::strerror(errno));
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
                Fail("cannot write");
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
            Fail("cannot write");
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
        Fail("cannot write");
    }
}

void TArchiveOutput::TruncateTo(uint64_t offset) {
    Flush();
    if (ftruncate(FHandle, static_cast<off_t>(offset)) != 0 ||
        lseek(FHandle, static_cast<off_t>(offset), SEEK_SET) < 0) {
        Fail("cannot truncate");
    }
    FOffset = offset;
}

void TArchiveOutput::Finish() {
    Flush();
    if (fsync(FHandle) != 0) {
        Fail("cannot sync");
    }
    const int handle = FHandle;
    FHandle = -1;
    if (close(handle) != 0) {
        Fail("cannot close");
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

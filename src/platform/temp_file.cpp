#include "platform/temp_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/exceptions.hpp"
#include "platform/fault_injection.hpp"
#include "platform/file_system.hpp"

namespace sejfko {

namespace {

// An empty directory means the current one, not the root.
std::string Pattern(const std::string& directory, const std::string& prefix) {
    return (directory.empty() ? std::string() : IncludeTrailingPathDelimiter(directory)) + prefix +
           "XXXXXX";
}

[[noreturn]] void Raise(int code, const std::string& what, const std::string& directory) {
    throw EOSError(code, "Unable to create a temporary " + what + " in " +
                             (directory.empty() ? std::string(".") : directory) + ": " +
                             SystemErrorMessage(code));
}

}  // namespace

std::string CreateUniqueTempFile(const std::string& directory, const std::string& prefix) {
    std::string path = Pattern(directory, prefix);
    if (const int fault = InjectedFault(TFileOperation::Create, path)) {
        Raise(fault, "file", directory);
    }
    const int handle = ::mkostemp(path.data(), O_CLOEXEC);
    if (handle < 0) {
        Raise(errno, "file", directory);
    }
    // mkstemp's 0600 is narrowed by the umask at most; make it exact.
    ::fchmod(handle, 0600);
    ::close(handle);
    return path;
}

std::string CreatePrivateTempDirectory(const std::string& parent, const std::string& prefix) {
    std::string path = Pattern(parent, prefix);
    if (const int fault = InjectedFault(TFileOperation::MakeDirectory, path)) {
        Raise(fault, "directory", parent);
    }
    if (::mkdtemp(path.data()) == nullptr) {
        Raise(errno, "directory", parent);
    }
    ::chmod(path.c_str(), 0700);
    return path;
}

TSpool::TSpool(std::string directory, std::size_t memoryLimit)
    : FDirectory(std::move(directory)), FLimit(memoryLimit) {}

TSpool::~TSpool() {
    if (FHandle >= 0) {
        ::close(FHandle);
    }
}

void TSpool::Spill() {
    std::string path = Pattern(FDirectory, ".spool");
    if (const int fault = InjectedFault(TFileOperation::Create, path)) {
        Raise(fault, "file", FDirectory);
    }
    const int handle = ::mkostemp(path.data(), O_CLOEXEC);
    if (handle < 0) {
        Raise(errno, "file", FDirectory);
    }
    ::unlink(path.c_str());
    FHandle = handle;
}

void TSpool::Write(std::string_view bytes) {
    if (FHandle < 0 && FMemory.size() + bytes.size() <= FLimit) {
        FMemory.append(bytes);
        return;
    }
    if (FHandle < 0) {
        Spill();
        const std::string held = std::exchange(FMemory, std::string());
        Write(held);
    }
    while (!bytes.empty()) {
        const ssize_t count = ::write(FHandle, bytes.data(), bytes.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            Raise(count < 0 ? errno : ENOSPC, "file", FDirectory);
        }
        bytes.remove_prefix(static_cast<std::size_t>(count));
    }
}

std::ptrdiff_t TSpool::Read(char* buffer, std::size_t size) {
    if (FHandle < 0) {
        const std::size_t count = std::min(size, FMemory.size() - FReadPos);
        std::memcpy(buffer, FMemory.data() + FReadPos, count);
        FReadPos += count;
        return static_cast<std::ptrdiff_t>(count);
    }
    if (!FReading) {
        FReading = true;
        if (::lseek(FHandle, 0, SEEK_SET) != 0) {
            return -1;
        }
    }
    for (;;) {
        const ssize_t count = ::read(FHandle, buffer, size);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        return count;
    }
}

}  // namespace sejfko

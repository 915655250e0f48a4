#include "platform/temp_file.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

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

std::string CreateLockedTempFile(const std::string& directory, const std::string& prefix,
                                 int& handle) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string path = Pattern(directory, prefix);
        if (const int fault = InjectedFault(TFileOperation::Create, path)) {
            Raise(fault, "file", directory);
        }
        handle = ::mkostemp(path.data(), O_CLOEXEC);
        if (handle < 0) {
            Raise(errno, "file", directory);
        }
        ::fchmod(handle, 0600);
        if (LockTemporaryInUse(handle, path)) {
            return path;
        }
        ::close(handle);
    }
    handle = -1;
    Raise(EEXIST, "file", directory);
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

namespace {

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool NamesTemporary(const std::string& name, const std::string& prefix, std::size_t suffixLength) {
    if (name.size() != prefix.size() + suffixLength ||
        name.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    for (std::size_t i = prefix.size(); i < name.size(); ++i) {
        if (!std::isalnum(static_cast<unsigned char>(name[i]))) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool LockTemporaryInUse(int handle, const std::string& path) {
    // A sweep that saw the file before the lock may have deleted the name meanwhile.
    struct stat opened {};
    struct stat named {};
    return ::flock(handle, LOCK_EX) == 0 && ::fstat(handle, &opened) == 0 &&
           ::lstat(path.c_str(), &named) == 0 && SameFile(opened, named);
}

bool LockTemporaryInUseAt(int handle, int directoryHandle, const std::string& name) {
    struct stat opened {};
    struct stat named {};
    return ::flock(handle, LOCK_EX) == 0 && ::fstat(handle, &opened) == 0 &&
           ::fstatat(directoryHandle, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           SameFile(opened, named);
}

bool RemoveIfStaleAt(int directoryHandle, const std::string& name) {
    const int handle =
        ::openat(directoryHandle, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (handle < 0) {
        return false;
    }
    struct stat st {};
    bool removed = false;
    // Held while deleting, so no writer can take the name up in between.
    if (::fstat(handle, &st) == 0 && S_ISREG(st.st_mode) &&
        ::flock(handle, LOCK_EX | LOCK_NB) == 0) {
        removed = ::unlinkat(directoryHandle, name.c_str(), 0) == 0;
    }
    ::close(handle);
    return removed;
}

void RemoveStaleTemporaries(const std::string& directory, const std::string& prefix,
                            std::size_t suffixLength) {
    const int handle =
        ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle < 0) {
        return;
    }
    std::vector<std::string> candidates;
    if (DIR* listing = ::fdopendir(::dup(handle))) {
        while (const dirent* entry = ::readdir(listing)) {
            if (NamesTemporary(entry->d_name, prefix, suffixLength)) {
                candidates.emplace_back(entry->d_name);
            }
        }
        ::closedir(listing);
    }
    for (const std::string& name : candidates) {
        RemoveIfStaleAt(handle, name);
    }
    ::close(handle);
}

}  // namespace sejfko

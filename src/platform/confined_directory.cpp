#include "platform/confined_directory.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>
#include <vector>

#include "platform/exceptions.hpp"
#include "platform/fault_injection.hpp"
#include "platform/file_system.hpp"
#include "platform/temp_file.hpp"

namespace sejfko {

namespace {

constexpr std::size_t BlockSize = 4096;
constexpr std::size_t PendingLimit = 1024 * 1024;
constexpr std::size_t MaxTempStem = NAME_MAX - 10;  // "." + stem + "." + 8 letters

[[noreturn]] void Raise(int code, const std::string& path) {
    throw EOSError(code, path + ": " + SystemErrorMessage(code));
}

bool AllZero(const char* data, std::size_t size) {
    static const char zeros[BlockSize] = {};
    return std::memcmp(data, zeros, size) == 0;
}

// Splits "a/b/c" into its components; false for an empty, "." or ".." component.
bool SplitComponents(const std::string& relative, std::string& parent, std::string& name) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = relative.find('/', start);
        const std::string_view part(relative.data() + start,
                                    (end == std::string::npos ? relative.size() : end) - start);
        if (part.empty() || part == "." || part == "..") {
            return false;
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    const std::size_t slash = relative.rfind('/');
    parent = slash == std::string::npos ? std::string() : relative.substr(0, slash);
    name = relative.substr(slash == std::string::npos ? 0 : slash + 1);
    return true;
}

int OpenChild(int parent, const char* name) {
    return ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

std::string RandomLetters() {
    static std::atomic<uint64_t> counter{0};
    thread_local std::mt19937_64 generator{std::random_device{}() ^ counter.fetch_add(1)};
    static constexpr char letters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string text(8, 'x');
    for (char& c : text) {
        c = letters[generator() % (sizeof letters - 1)];
    }
    return text;
}

}  // namespace

// ---- TConfinedDirectory --------------------------------------------------------------------

TConfinedDirectory::TConfinedDirectory(const std::string& root)
    : FRootPath(ExcludeTrailingPathDelimiter(root)) {
    FRoot = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (FRoot < 0) {
        Raise(errno, root);
    }
}

TConfinedDirectory::~TConfinedDirectory() {
    if (FCachedHandle >= 0) {
        ::close(FCachedHandle);
    }
    ::close(FRoot);
}

std::string TConfinedDirectory::FullPath(const std::string& relative) const {
    if (relative.empty()) {
        return FRootPath;
    }
    return FRootPath == "/" ? "/" + relative : FRootPath + "/" + relative;
}

int TConfinedDirectory::OpenDirectory(const std::string& relative, bool create, int& error) {
    error = 0;
    {
        std::lock_guard<std::mutex> lock(FCacheLock);
        if (FCachedHandle >= 0 && FCachedPath == relative) {
            const int copy = ::fcntl(FCachedHandle, F_DUPFD_CLOEXEC, 0);
            if (copy < 0) {
                Raise(errno, FullPath(relative));
            }
            return copy;
        }
    }
    int current = ::fcntl(FRoot, F_DUPFD_CLOEXEC, 0);
    if (current < 0) {
        Raise(errno, FRootPath);
    }
    std::size_t start = 0;
    while (start < relative.size()) {
        std::size_t end = relative.find('/', start);
        if (end == std::string::npos) {
            end = relative.size();
        }
        const std::string part = relative.substr(start, end - start);
        const std::string walked = relative.substr(0, end);
        if (part.empty() || part == "." || part == "..") {
            ::close(current);
            Raise(EINVAL, FullPath(relative));
        }
        int next = OpenChild(current, part.c_str());
        if (next < 0 && errno == ENOENT && create) {
            if (const int fault = InjectedFault(TFileOperation::MakeDirectory, FullPath(walked))) {
                ::close(current);
                Raise(fault, FullPath(walked));
            }
            if (::mkdirat(current, part.c_str(), 0777) != 0 && errno != EEXIST) {
                const int code = errno;
                ::close(current);
                Raise(code, FullPath(walked));
            }
            next = OpenChild(current, part.c_str());
        }
        if (next < 0) {
            int code = errno;
            // Linux reports a symlink opened with O_NOFOLLOW | O_DIRECTORY as ENOTDIR; tell a
            // symlink (ELOOP) from a file, whatever the system says.
            struct stat st {};
            if (code == ENOTDIR &&
                ::fstatat(current, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISLNK(st.st_mode)) {
                code = ELOOP;
            }
            ::close(current);
            if (code == ENOENT && !create) {
                error = ENOENT;
                return -1;
            }
            // A symlink on the way fails here (ELOOP from O_NOFOLLOW), a file ENOTDIR.
            Raise(code, FullPath(walked));
        }
        ::close(current);
        current = next;
        start = end + 1;
    }
    std::lock_guard<std::mutex> lock(FCacheLock);
    const int copy = ::fcntl(current, F_DUPFD_CLOEXEC, 0);
    if (copy >= 0) {
        if (FCachedHandle >= 0) {
            ::close(FCachedHandle);
        }
        FCachedHandle = copy;
        FCachedPath = relative;
    }
    return current;
}

void TConfinedDirectory::MakeDirectories(const std::string& relative) {
    int error = 0;
    ::close(OpenDirectory(relative, true, error));
}

bool TConfinedDirectory::RemoveFile(const std::string& relative) {
    std::string parent;
    std::string name;
    if (!SplitComponents(relative, parent, name)) {
        Raise(EINVAL, FullPath(relative));
    }
    int error = 0;
    const int handle = OpenDirectory(parent, false, error);
    if (handle < 0) {
        return false;
    }
    if (const int fault = InjectedFault(TFileOperation::Remove, FullPath(relative))) {
        ::close(handle);
        Raise(fault, FullPath(relative));
    }
    struct stat st {};
    int code = 0;
    if (::fstatat(handle, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        code = errno;
    } else if (S_ISDIR(st.st_mode)) {
        code = EISDIR;
    } else if (::unlinkat(handle, name.c_str(), 0) != 0) {
        code = errno;
    }
    ::close(handle);
    if (code == ENOENT) {
        return false;
    }
    if (code != 0) {
        Raise(code, FullPath(relative));
    }
    return true;
}

void TConfinedDirectory::MakeSymlink(const std::string& relative, const std::string& target,
                                     const std::optional<std::timespec>& modified) {
    std::string parent;
    std::string name;
    if (!SplitComponents(relative, parent, name) || target.empty() ||
        target.find('\0') != std::string::npos) {
        Raise(EINVAL, FullPath(relative));
    }
    int error = 0;
    const int handle = OpenDirectory(parent, true, error);
    const auto fail = [&](int code) {
        ::close(handle);
        Raise(code, FullPath(relative));
    };
    std::string temp;
    for (int attempt = 0; attempt < 100 && temp.empty(); ++attempt) {
        temp = "." + name.substr(0, MaxTempStem) + "." + RandomLetters();
        const std::string tempPath = FullPath(parent.empty() ? temp : parent + "/" + temp);
        if (const int fault = InjectedFault(TFileOperation::Create, tempPath)) {
            fail(fault);
        }
        if (::symlinkat(target.c_str(), handle, temp.c_str()) != 0) {
            if (errno != EEXIST) {
                fail(errno);
            }
            temp.clear();
        }
    }
    if (temp.empty()) {
        fail(EEXIST);
    }
    const auto dropTemp = [&](int code) {
        ::unlinkat(handle, temp.c_str(), 0);
        fail(code);
    };
    if (modified) {
        const std::timespec times[2] = {{0, UTIME_NOW}, *modified};
        if (::utimensat(handle, temp.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
            dropTemp(errno);
        }
    }
    if (const int fault = InjectedFault(TFileOperation::Rename, FullPath(relative))) {
        dropTemp(fault);
    }
    if (::renameat(handle, temp.c_str(), handle, name.c_str()) != 0) {
        int code = errno;
        // A directory left empty by the chain's deletions makes way; one with entries does not.
        if ((code == EISDIR || code == ENOTEMPTY || code == EEXIST) &&
            ::unlinkat(handle, name.c_str(), AT_REMOVEDIR) == 0 &&
            ::renameat(handle, temp.c_str(), handle, name.c_str()) == 0) {
            code = 0;
        } else if (code == ENOTEMPTY || code == EEXIST) {
            code = EISDIR;
        }
        if (code != 0) {
            dropTemp(code);
        }
    }
    ::close(handle);
}

bool TConfinedDirectory::IsDirectory(const std::string& relative) {
    std::string parent;
    std::string name;
    if (!SplitComponents(relative, parent, name)) {
        return false;
    }
    int error = 0;
    int handle = -1;
    try {
        handle = OpenDirectory(parent, false, error);
    } catch (const EOSError&) {
        return false;
    }
    if (handle < 0) {
        return false;
    }
    struct stat st {};
    const bool directory =
        ::fstatat(handle, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
    ::close(handle);
    return directory;
}

void TConfinedDirectory::RemoveStaleTemporariesOf(const std::string& relative, int handle,
                                                  const std::string& stem) {
    std::lock_guard<std::mutex> lock(FStaleLock);
    auto listed = FStaleCandidates.find(relative);
    if (listed == FStaleCandidates.end()) {
        // Listed once per directory: only names shaped as a writer's temporary file are kept.
        std::vector<std::string> candidates;
        if (DIR* listing = ::fdopendir(::fcntl(handle, F_DUPFD_CLOEXEC, 0))) {
            ::rewinddir(listing);
            while (const dirent* entry = ::readdir(listing)) {
                const std::string name = entry->d_name;
                const std::size_t dot = name.rfind('.');
                if (name.size() > 10 && name.front() == '.' && dot == name.size() - 9) {
                    candidates.push_back(name);
                }
            }
            ::closedir(listing);
        }
        listed = FStaleCandidates.emplace(relative, std::move(candidates)).first;
    }
    std::vector<std::string>& candidates = listed->second;
    for (auto it = candidates.begin(); it != candidates.end();) {
        if (it->size() == stem.size() + 8 && it->compare(0, stem.size(), stem) == 0) {
            RemoveIfStaleAt(handle, *it);
            it = candidates.erase(it);
        } else {
            ++it;
        }
    }
}

// ---- TConfinedFileWriter -------------------------------------------------------------------

TConfinedFileWriter::TConfinedFileWriter(TConfinedDirectory& directory, const std::string& relative)
    : FDirectory(directory), FFullPath(directory.FullPath(relative)) {
    std::string parent;
    if (!SplitComponents(relative, parent, FName)) {
        Fail(EINVAL);
    }
    int error = 0;
    FDirHandle = directory.OpenDirectory(parent, true, error);
    const std::string stem = "." + FName.substr(0, MaxTempStem) + ".";
    for (int attempt = 0; attempt < 100 && FHandle < 0; ++attempt) {
        FTempName = stem + RandomLetters();
        const std::string tempPath =
            directory.FullPath(parent.empty() ? FTempName : parent + "/" + FTempName);
        if (const int fault = InjectedFault(TFileOperation::Create, tempPath)) {
            FTempName.clear();
            Fail(fault);
        }
        FHandle = ::openat(FDirHandle, FTempName.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (FHandle < 0 && errno != EEXIST) {
            const int code = errno;
            FTempName.clear();
            Fail(code);
        }
        // Held locked until the rename, so that a later restore can tell it from what a killed
        // one left (see RemoveStaleTemporariesOf).
        if (FHandle >= 0 && !LockTemporaryInUseAt(FHandle, FDirHandle, FTempName)) {
            ::close(FHandle);
            FHandle = -1;
        }
    }
    FParent = parent;
    if (FHandle < 0) {
        FTempName.clear();
        Fail(EEXIST);
    }
    // FPending grows as needed: most files are small, and a megabyte reserved for each would
    // cost page faults and, when writers are made on several threads, mappings per file.
    FCarry.reserve(BlockSize);
}

TConfinedFileWriter::~TConfinedFileWriter() {
    if (FHandle >= 0) {
        ::close(FHandle);
    }
    if (FLockHandle >= 0) {
        ::close(FLockHandle);
    }
    if (!FCommitted && !FTempName.empty()) {
        ::unlinkat(FDirHandle, FTempName.c_str(), 0);
    }
    if (FDirHandle >= 0) {
        ::close(FDirHandle);
    }
}

void TConfinedFileWriter::Fail(int code) const {
    Raise(code, FFullPath);
}

void TConfinedFileWriter::Write(const char* data, std::size_t size) {
    while (size > 0) {
        if (!FCarry.empty() || size < BlockSize) {
            const std::size_t take = std::min(size, BlockSize - FCarry.size());
            FCarry.append(data, take);
            data += take;
            size -= take;
            if (FCarry.size() == BlockSize) {
                TakeBlock(FCarry.data(), BlockSize);
                FCarry.clear();
            }
            continue;
        }
        TakeBlock(data, BlockSize);
        data += BlockSize;
        size -= BlockSize;
    }
}

// A block of zeros is only skipped: the file grows over it by the next write or the final
// truncate, and the file system leaves it unallocated.
void TConfinedFileWriter::TakeBlock(const char* data, std::size_t size) {
    if (AllZero(data, size)) {
        FlushPending();
        FSize += size;
        FPendingAt = FSize;
        return;
    }
    FPending.append(data, size);
    FSize += size;
    if (FPending.size() >= PendingLimit) {
        FlushPending();
    }
}

void TConfinedFileWriter::FlushPending() {
    if (FPending.empty()) {
        return;
    }
    if (const int fault = InjectedFault(TFileOperation::Write, FFullPath)) {
        Fail(fault);
    }
    const char* data = FPending.data();
    std::size_t left = FPending.size();
    uint64_t at = FPendingAt;
    while (left > 0) {
        const ssize_t count = ::pwrite(FHandle, data, left, static_cast<off_t>(at));
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            Fail(errno);
        }
        if (count == 0) {
            Fail(ENOSPC);
        }
        data += count;
        left -= static_cast<std::size_t>(count);
        at += static_cast<uint64_t>(count);
    }
    FPending.clear();
    FPendingAt = at;
    FWrittenEnd = at;
}

void TConfinedFileWriter::Prepare(unsigned mode, const std::optional<std::timespec>& modified) {
    if (FPrepared) {
        return;
    }
    if (!FCarry.empty()) {
        // The last, short block: written as it is unless it is zeros.
        const std::string tail = std::move(FCarry);
        FCarry.clear();
        TakeBlock(tail.data(), tail.size());
    }
    FlushPending();
    std::string().swap(FPending);  // a prepared file may wait a while for its rename
    // Only a file that ends in a hole has to be stretched to its size.
    if (FWrittenEnd < FSize && ::ftruncate(FHandle, static_cast<off_t>(FSize)) != 0) {
        Fail(errno);
    }
    if (::fchmod(FHandle, static_cast<mode_t>(mode & 07777)) != 0) {
        Fail(errno);
    }
    if (modified) {
        const std::timespec times[2] = {{0, UTIME_NOW}, *modified};
        if (::futimens(FHandle, times) != 0) {
            Fail(errno);
        }
    }
    // A second handle keeps the lock past the checked close, up to the rename.
    FLockHandle = ::fcntl(FHandle, F_DUPFD_CLOEXEC, 0);
    const int handle = FHandle;
    FHandle = -1;
    if (::close(handle) != 0) {
        Fail(errno);
    }
    FPrepared = true;
}

void TConfinedFileWriter::Commit(unsigned mode, const std::optional<std::timespec>& modified) {
    Prepare(mode, modified);
    if (const int fault = InjectedFault(TFileOperation::Rename, FFullPath)) {
        Fail(fault);
    }
    if (::renameat(FDirHandle, FTempName.c_str(), FDirHandle, FName.c_str()) != 0) {
        Fail(errno);
    }
    FCommitted = true;
    ::close(FLockHandle);
    FLockHandle = -1;
    FDirectory.RemoveStaleTemporariesOf(FParent, FDirHandle,
                                        "." + FName.substr(0, MaxTempStem) + ".");
}

}  // namespace sejfko

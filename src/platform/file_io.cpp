#include "platform/file_io.hpp"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/exceptions.hpp"
#include "platform/fault_injection.hpp"
#include "platform/file_system.hpp"
#include "platform/temp_file.hpp"

namespace sejfko {

namespace {

constexpr std::size_t WriteBufferSize = 64 * 1024;

// The temporary name must stay a valid file name however long the target's name is.
constexpr std::size_t MaxTempStem = NAME_MAX - 8;  // "." + stem + ".XXXXXX"

}  // namespace

// ---- TReadFile -----------------------------------------------------------------------------

TReadFile::~TReadFile() {
    Close();
}

bool TReadFile::Open(const std::string& path) {
    Close();
    FPath = path;
    FError = InjectedFault(TFileOperation::OpenRead, path);
    if (FError != 0) {
        return false;
    }
    // Refuse what is not a regular file before opening it: opening a FIFO waits for a writer,
    // and a device may never end.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        FError = errno;
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        FError = EINVAL;
        return false;
    }
    // Non-blocking so that a FIFO swapped in meanwhile cannot hang us; checked again below.
    const int handle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (handle < 0) {
        FError = errno;
        return false;
    }
    if (::fstat(handle, &st) != 0 || !S_ISREG(st.st_mode)) {
        FError = S_ISREG(st.st_mode) ? errno : EINVAL;
        ::close(handle);
        return false;
    }
    const int flags = ::fcntl(handle, F_GETFL);
    if (flags >= 0) {
        ::fcntl(handle, F_SETFL, flags & ~O_NONBLOCK);
    }
    ::posix_fadvise(handle, 0, 0, POSIX_FADV_SEQUENTIAL);
    FHandle = handle;
    FSize = st.st_size;
    return true;
}

std::ptrdiff_t TReadFile::Read(void* buffer, std::size_t size) {
    return Transfer(-1, buffer, size);
}

std::ptrdiff_t TReadFile::ReadAt(int64_t offset, void* buffer, std::size_t size) const {
    if (offset < 0) {
        FError = EINVAL;
        return -1;
    }
    return Transfer(offset, buffer, size);
}

std::ptrdiff_t TReadFile::Transfer(int64_t offset, void* buffer, std::size_t size) const {
    if (FHandle < 0) {
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
        const ssize_t count =
            offset < 0 ? ::read(FHandle, out + done, size - done)
                       : ::pread(FHandle, out + done, size - done,
                                 static_cast<off_t>(offset + static_cast<int64_t>(done)));
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            FError = errno;
            return -1;
        }
        if (count == 0) {
            break;
        }
        done += static_cast<std::size_t>(count);
    }
    return static_cast<std::ptrdiff_t>(done);
}

TFileIdentity TReadFile::Identity() const {
    return FHandle >= 0 ? GetHandleIdentity(FHandle) : TFileIdentity();
}

void TReadFile::Close() {
    if (FHandle >= 0) {
        ::close(FHandle);
        FHandle = -1;
    }
}

// ---- TAtomicFileWriter ---------------------------------------------------------------------

TAtomicFileWriter::TAtomicFileWriter(const std::string& path, unsigned mode) : FPath(path) {
    const std::string directory = ExtractFileDir(path);
    const std::string name = ExtractFileName(path);
    std::string pattern =
        directory.empty() ? std::string() : IncludeTrailingPathDelimiter(directory);
    pattern += '.';
    pattern += name.substr(0, MaxTempStem);
    pattern += ".XXXXXX";
    if (const int fault = InjectedFault(TFileOperation::Create, pattern)) {
        Fail(fault);
    }
    const std::string stem = pattern.substr(0, pattern.size() - 6);
    int handle = -1;
    for (int attempt = 0; attempt < 100 && handle < 0; ++attempt) {
        std::string candidate = stem + "XXXXXX";
        handle = ::mkostemp(candidate.data(), O_CLOEXEC);
        if (handle < 0) {
            Fail(errno);
        }
        // Held locked until the rename: a temporary file left unlocked is one a killed writer
        // left, and the next write removes it.
        if (!LockTemporaryInUse(handle, candidate)) {
            ::close(handle);
            handle = -1;
            continue;
        }
        pattern = candidate;
    }
    if (handle < 0) {
        Fail(EEXIST);
    }
    FHandle = handle;
    FTempPath = pattern;
    if (::fchmod(FHandle, static_cast<mode_t>(mode)) != 0) {
        const int code = errno;
        ::close(FHandle);
        ::unlink(FTempPath.c_str());
        FHandle = -1;
        Fail(code);
    }
    FBuffer.reserve(WriteBufferSize);
}

TAtomicFileWriter::~TAtomicFileWriter() {
    if (FHandle >= 0) {
        ::close(FHandle);
    }
    if (!FCommitted && !FTempPath.empty()) {
        ::unlink(FTempPath.c_str());
    }
}

void TAtomicFileWriter::Fail(int code) const {
    throw EOSError(code, "Unable to write to " + FPath + ": " + SystemErrorMessage(code));
}

void TAtomicFileWriter::WriteOut(const char* data, std::size_t size) {
    if (FHandle < 0) {
        Fail(EBADF);
    }
    if (const int fault = InjectedFault(TFileOperation::Write, FPath)) {
        Fail(fault);
    }
    while (size > 0) {
        const ssize_t count = ::write(FHandle, data, size);
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
        size -= static_cast<std::size_t>(count);
    }
}

void TAtomicFileWriter::Flush() {
    if (!FBuffer.empty()) {
        WriteOut(FBuffer.data(), FBuffer.size());
        FBuffer.clear();
    }
}

void TAtomicFileWriter::Write(std::string_view data) {
    if (FBuffer.size() + data.size() > WriteBufferSize) {
        Flush();
    }
    if (data.size() >= WriteBufferSize) {
        WriteOut(data.data(), data.size());
    } else {
        FBuffer.append(data);
    }
}

void TAtomicFileWriter::SetModificationTime(const std::timespec& modified) {
    FModified = modified;
    FKeepTime = true;
}

void TAtomicFileWriter::SetOwner(uint32_t owner, uint32_t group) {
    if (FHandle >= 0 &&
        ::fchown(FHandle, static_cast<uid_t>(owner), static_cast<gid_t>(group)) != 0) {
        // Only root may give a file away; the caller then owns the new file.
        [[maybe_unused]] const int ignored =
            ::fchown(FHandle, static_cast<uid_t>(-1), static_cast<gid_t>(group));
    }
}

void TAtomicFileWriter::Commit(const std::function<void()>& beforeRename) {
    if (FCommitted) {
        return;
    }
    Flush();
    if (const int fault = InjectedFault(TFileOperation::Write, FPath)) {
        Fail(fault);
    }
    if (::fsync(FHandle) != 0) {
        Fail(errno);
    }
    if (FKeepTime) {
        const timespec times[2] = {{0, UTIME_OMIT}, FModified};
        if (::futimens(FHandle, times) != 0) {
            Fail(errno);
        }
    }
    // The lock goes with the last handle: a second one keeps it past the checked close, up to
    // the rename.
    const int lockHandle = ::fcntl(FHandle, F_DUPFD_CLOEXEC, 0);
    const int handle = FHandle;
    FHandle = -1;
    const auto releaseLock = [lockHandle] {
        if (lockHandle >= 0) {
            ::close(lockHandle);
        }
    };
    if (::close(handle) != 0) {
        const int code = errno;
        releaseLock();
        Fail(code);
    }
    try {
        if (beforeRename) {
            beforeRename();
        }
        if (const int fault = InjectedFault(TFileOperation::Rename, FPath)) {
            Fail(fault);
        }
        if (::rename(FTempPath.c_str(), FPath.c_str()) != 0) {
            Fail(errno);
        }
    } catch (...) {
        releaseLock();
        throw;
    }
    FCommitted = true;
    releaseLock();
    const std::string directory = ExtractFileDir(FPath);
    SyncDirectory(directory);
    const std::string name = ExtractFileName(FPath);
    RemoveStaleTemporaries(directory, "." + name.substr(0, MaxTempStem) + ".", 6);
}

// ---- Whole files ---------------------------------------------------------------------------

std::string ReadSmallFile(const std::string& path) {
    TReadFile file;
    if (!file.Open(path)) {
        throw EOSError(file.Error(),
                       "Unable to read " + path + ": " + SystemErrorMessage(file.Error()));
    }
    std::string content;
    // Trust the size only as a hint: a file may be swapped or grow while it is read.
    content.reserve(static_cast<std::size_t>(std::min<int64_t>(file.Size(), 16 << 20)));
    char buffer[64 * 1024];
    for (;;) {
        const std::ptrdiff_t count = file.Read(buffer, sizeof buffer);
        if (count < 0) {
            throw EOSError(file.Error(),
                           "Unable to read " + path + ": " + SystemErrorMessage(file.Error()));
        }
        if (count == 0) {
            return content;
        }
        content.append(buffer, static_cast<std::size_t>(count));
    }
}

void WriteFileAtomically(const std::string& path, std::string_view content, unsigned mode) {
    TAtomicFileWriter writer(path, mode);
    writer.Write(content);
    writer.Commit();
}

bool AppendLineRotating(const std::string& path, const std::string& rotatedPath,
                        std::string_view line, std::size_t rotateSize) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (InjectedFault(TFileOperation::Write, path) != 0) {
            return false;
        }
        const int handle = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (handle < 0) {
            return false;
        }
        // One appender rotates at a time; the others then append to the new file.
        ::flock(handle, LOCK_EX);
        struct stat opened {};
        struct stat named {};
        if (::fstat(handle, &opened) != 0 || ::stat(path.c_str(), &named) != 0 ||
            opened.st_ino != named.st_ino || opened.st_dev != named.st_dev) {
            ::close(handle);  // rotated meanwhile
            continue;
        }
        if (opened.st_size > 0 &&
            static_cast<std::size_t>(opened.st_size) + line.size() > rotateSize) {
            ::rename(path.c_str(), rotatedPath.c_str());
            ::close(handle);
            continue;
        }
        const ssize_t written = ::write(handle, line.data(), line.size());
        ::close(handle);
        return written == static_cast<ssize_t>(line.size());
    }
    return false;
}

}  // namespace sejfko

// Descriptors, reads and writes, status and locks over Win32 handles.

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/win32/posix_internal.hpp"
// After <windows.h>, which the line above brings.
#include <winioctl.h>

namespace sejfko::win32 {
namespace {

std::mutex GDirectoryLock;
std::map<int, std::string>& Directories() {
    static std::map<int, std::string> directories;
    return directories;
}

constexpr int64_t EpochDifference = 116444736000000000LL;  // 1601 to 1970 in 100 ns

}  // namespace

std::wstring Widen(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    for (auto& c : wide) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return wide;
}

std::string Narrow(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), size,
                        nullptr, nullptr);
    return narrow;
}

int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_PATHNAME:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
        case ERROR_CANNOT_MAKE:
            return EACCES;
        case ERROR_SHARING_VIOLATION:
        case ERROR_BUSY:
            return EBUSY;
        case ERROR_LOCK_VIOLATION:
        case ERROR_IO_PENDING:
            return EWOULDBLOCK;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_DIR_NOT_EMPTY:
            return ENOTEMPTY;
        case ERROR_NOT_SAME_DEVICE:
            return EXDEV;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_DIRECTORY:
            return ENOTDIR;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_INVALID_HANDLE:
            return EBADF;
        case ERROR_TOO_MANY_OPEN_FILES:
            return EMFILE;
        case ERROR_CANT_RESOLVE_FILENAME:
            return ELOOP;
        case ERROR_NOT_SUPPORTED:
        case ERROR_PRIVILEGE_NOT_HELD:
            return EPERM;
        default:
            return EIO;
    }
}

int SetErrno(DWORD error) {
    errno = ErrnoOf(error);
    return -1;
}

void RememberDirectory(int fd, const std::string& path) {
    std::lock_guard lock(GDirectoryLock);
    Directories()[fd] = path;
}

void ForgetDirectory(int fd) {
    std::lock_guard lock(GDirectoryLock);
    Directories().erase(fd);
}

bool DirectoryPath(int fd, std::string& path) {
    std::lock_guard lock(GDirectoryLock);
    const auto found = Directories().find(fd);
    if (found == Directories().end()) {
        return false;
    }
    path = found->second;
    return true;
}

std::string PathAt(int dir, const char* name) {
    const std::string relative = name;
    const bool absolute = (relative.size() >= 2 && relative[1] == ':') ||
                          (!relative.empty() && (relative[0] == '/' || relative[0] == '\\'));
    if (dir == AT_FDCWD || absolute) {
        return relative;
    }
    std::string base;
    if (!DirectoryPath(dir, base)) {
        errno = EBADF;
        return {};
    }
    if (relative.empty()) {
        return base;
    }
    if (!base.empty() && base.back() != '/' && base.back() != '\\') {
        base += '\\';
    }
    return base + relative;
}

struct timespec TimespecOf(const FILETIME& time) {
    const int64_t ticks = static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) |
                                               time.dwLowDateTime) -
                          EpochDifference;
    int64_t seconds = ticks / 10000000;
    int64_t rest = ticks % 10000000;
    if (rest < 0) {
        rest += 10000000;
        --seconds;
    }
    struct timespec result {};
    result.tv_sec = static_cast<time_t>(seconds);
    result.tv_nsec = static_cast<long>(rest * 100);
    return result;
}

FILETIME FileTimeOf(const struct timespec& time) {
    const uint64_t ticks = static_cast<uint64_t>(static_cast<int64_t>(time.tv_sec) * 10000000 +
                                                 time.tv_nsec / 100 + EpochDifference);
    FILETIME result;
    result.dwLowDateTime = static_cast<DWORD>(ticks);
    result.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return result;
}

HANDLE HandleOf(int fd) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

bool NameIsLink(const std::wstring& path) {
    WIN32_FIND_DATAW data{};
    HANDLE find =
        FindFirstFileExW(path.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) {
        return false;
    }
    FindClose(find);
    return IsLinkReparse(data.dwFileAttributes, data.dwReserved0);
}

// The link kind of a handle opened on a reparse point itself.
bool HandleIsLink(HANDLE handle, DWORD attributes) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
        !GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)) {
        tag.ReparseTag = 0;
    }
    return IsLinkReparse(attributes, tag.ReparseTag);
}

}  // namespace sejfko::win32

using namespace sejfko::win32;

namespace {

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

int OpenPath(const std::string& path, int flags) {
    if (path.empty()) {
        errno = ENOENT;
        return -1;
    }
    const std::wstring wide = Widen(path);
    DWORD access = 0;
    switch (flags & O_ACCMODE) {
        case O_WRONLY:
            access = GENERIC_WRITE;
            break;
        case O_RDWR:
            access = GENERIC_READ | GENERIC_WRITE;
            break;
        default:
            access = GENERIC_READ;
    }
    DWORD disposition = OPEN_EXISTING;
    if ((flags & O_CREAT) && (flags & O_EXCL)) {
        disposition = CREATE_NEW;
    } else if ((flags & O_CREAT) && (flags & O_TRUNC)) {
        disposition = CREATE_ALWAYS;
    } else if (flags & O_CREAT) {
        disposition = OPEN_ALWAYS;
    } else if (flags & O_TRUNC) {
        disposition = TRUNCATE_EXISTING;
    }
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
    if (flags & O_DIRECTORY) {
        access = FILE_READ_ATTRIBUTES | SYNCHRONIZE;
        attributes = FILE_FLAG_BACKUP_SEMANTICS;
    }
    if (flags & O_NOFOLLOW) {
        attributes |= FILE_FLAG_OPEN_REPARSE_POINT;
    }
    HANDLE handle =
        CreateFileW(wide.c_str(), access, ShareAll, nullptr, disposition, attributes, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // Opening a directory as a file is EISDIR on POSIX.
        if (error == ERROR_ACCESS_DENIED && !(flags & O_DIRECTORY)) {
            const DWORD attrs = GetFileAttributesW(wide.c_str());
            if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY)) {
                errno = EISDIR;
                return -1;
            }
        }
        return SetErrno(error);
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandle(handle, &info)) {
        const bool isDirectory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if ((flags & O_DIRECTORY) && !isDirectory) {
            CloseHandle(handle);
            errno = ENOTDIR;
            return -1;
        }
        if ((flags & O_NOFOLLOW) &&
            (HandleIsLink(handle, info.dwFileAttributes) || (isDirectory && NameIsLink(wide)))) {
            CloseHandle(handle);
            errno = ELOOP;
            return -1;
        }
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle),
                                   _O_BINARY | ((flags & O_APPEND) ? _O_APPEND : 0));
    if (fd < 0) {
        CloseHandle(handle);
        errno = EMFILE;
        return -1;
    }
    if (flags & O_DIRECTORY) {
        RememberDirectory(fd, path);
    }
    return fd;
}

int StatHandle(HANDLE handle, struct stat* st) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) {
        return SetErrno(GetLastError());
    }
    *st = {};
    st->st_dev = info.dwVolumeSerialNumber;
    st->st_ino = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    st->st_nlink = info.nNumberOfLinks;
    st->st_size =
        static_cast<off_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    // What the file takes on the disk (less than its size where it has holes).
    FILE_STANDARD_INFO standard{};
    st->st_blocks =
        GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard)
            ? static_cast<int64_t>(standard.AllocationSize.QuadPart + 511) / 512
            : (st->st_size + 511) / 512;
    const bool readOnly = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (HandleIsLink(handle, info.dwFileAttributes)) {
        st->st_mode = S_IFLNK | 0777;
    } else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        st->st_mode = S_IFDIR | 0700;
    } else if (GetFileType(handle) == FILE_TYPE_DISK) {
        st->st_mode = S_IFREG | (readOnly ? 0400 : 0600);
    } else {
        st->st_mode = S_IFIFO | 0600;
    }
    st->st_atim = TimespecOf(info.ftLastAccessTime);
    st->st_mtim = TimespecOf(info.ftLastWriteTime);
    // Windows keeps no change time; the write time stands in (a change in place moves it).
    st->st_ctim = st->st_mtim;
    return 0;
}

int StatPath(const std::string& path, struct stat* st, bool follow) {
    if (path.empty()) {
        errno = ENOENT;
        return -1;
    }
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE handle = CreateFileW(Widen(path).c_str(), FILE_READ_ATTRIBUTES, ShareAll, nullptr,
                                OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return SetErrno(GetLastError());
    }
    const int result = StatHandle(handle, st);
    CloseHandle(handle);
    // Only a link to a directory could lead a walk elsewhere; files keep to one query.
    if (result == 0 && !follow && S_ISDIR(st->st_mode) && NameIsLink(Widen(path))) {
        st->st_mode = S_IFLNK | 0777;
    }
    return result;
}

// POSIX leaves what a write or a truncate skips over unallocated; NTFS does so only in a file
// marked sparse. Best effort: a file system without sparse files writes the zeros out.
void MakeSparseBefore(HANDLE handle, uint64_t end) {
    LARGE_INTEGER size{};
    if (GetFileSizeEx(handle, &size) && end > static_cast<uint64_t>(size.QuadPart)) {
        DWORD ignored = 0;
        DeviceIoControl(handle, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    }
}

ssize_t Transfer(int fd, void* buffer, size_t size, off_t offset, bool writing) {
    HANDLE handle = HandleOf(fd);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return -1;
    }
    if (writing) {
        MakeSparseBefore(handle, static_cast<uint64_t>(offset));
    }
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset));
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    DWORD done = 0;
    const BOOL ok = writing ? WriteFile(handle, buffer, chunk, &done, &at)
                            : ReadFile(handle, buffer, chunk, &done, &at);
    if (!ok) {
        if (!writing && GetLastError() == ERROR_HANDLE_EOF) {
            return 0;
        }
        return SetErrno(GetLastError());
    }
    return static_cast<ssize_t>(done);
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    return OpenPath(path, flags);
}

int openat(int dir, const char* path, int flags, ...) {
    const std::string full = PathAt(dir, path);
    return full.empty() ? -1 : OpenPath(full, flags);
}

int close(int fd) {
    ForgetDirectory(fd);
    return _close(fd);
}

ssize_t read(int fd, void* buffer, size_t size) {
    HANDLE handle = HandleOf(fd);
    DWORD done = 0;
    if (handle == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return -1;
    }
    if (!ReadFile(handle, buffer, static_cast<DWORD>(std::min<size_t>(size, 1u << 30)), &done,
                  nullptr)) {
        const DWORD error = GetLastError();
        return error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF ? 0 : SetErrno(error);
    }
    return static_cast<ssize_t>(done);
}

ssize_t write(int fd, const void* buffer, size_t size) {
    // The runtime's write keeps O_APPEND and the console's handling; binary mode passes bytes.
    const int done = _write(fd, buffer, static_cast<unsigned>(std::min<size_t>(size, 1u << 30)));
    return done;
}

ssize_t pread(int fd, void* buffer, size_t size, off_t offset) {
    return Transfer(fd, buffer, size, offset, false);
}

ssize_t pwrite(int fd, const void* buffer, size_t size, off_t offset) {
    return Transfer(fd, const_cast<void*>(buffer), size, offset, true);
}

off_t lseek(int fd, off_t offset, int whence) {
    return _lseeki64(fd, offset, whence);
}

int fsync(int fd) {
    HANDLE handle = HandleOf(fd);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return -1;
    }
    std::string ignored;
    if (DirectoryPath(fd, ignored)) {
        return 0;  // directory entries are flushed with the files
    }
    return FlushFileBuffers(handle) ? 0 : SetErrno(GetLastError());
}

int fdatasync(int fd) {
    return fsync(fd);
}

int sejfko_ftruncate(int fd, off_t length) {
    HANDLE handle = HandleOf(fd);
    MakeSparseBefore(handle, static_cast<uint64_t>(length));
    FILE_END_OF_FILE_INFO info{};
    info.EndOfFile.QuadPart = length;
    if (!SetFileInformationByHandle(handle, FileEndOfFileInfo, &info, sizeof info)) {
        return SetErrno(GetLastError());
    }
    return 0;
}

int dup(int fd) {
    const int copy = _dup(fd);
    std::string path;
    if (copy >= 0 && DirectoryPath(fd, path)) {
        RememberDirectory(copy, path);
    }
    return copy;
}

int fcntl(int fd, int command, ...) {
    switch (command) {
        case F_DUPFD:
        case F_DUPFD_CLOEXEC:
            return dup(fd);
        case F_GETFD:
        case F_GETFL:
            return 0;
        default:
            return 0;  // no close-on-exec or non-blocking files here
    }
}

int posix_fadvise(int, off_t, off_t, int) {
    return 0;
}

int isatty(int fd) {
    return _isatty(fd);
}
int fileno(FILE* file) {
    return _fileno(file);
}

int stat(const char* path, struct stat* st) {
    return StatPath(path, st, true);
}
int lstat(const char* path, struct stat* st) {
    return StatPath(path, st, false);
}

int fstat(int fd, struct stat* st) {
    HANDLE handle = HandleOf(fd);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return -1;
    }
    return StatHandle(handle, st);
}

int fstatat(int dir, const char* path, struct stat* st, int flags) {
    const std::string full = PathAt(dir, path);
    return full.empty() ? -1 : StatPath(full, st, (flags & AT_SYMLINK_NOFOLLOW) == 0);
}

int statvfs(const char* path, struct statvfs* st) {
    ULARGE_INTEGER available{}, total{}, free{};
    if (!GetDiskFreeSpaceExW(Widen(path).c_str(), &available, &total, &free)) {
        return SetErrno(GetLastError());
    }
    *st = {};
    st->f_bsize = st->f_frsize = 1;
    st->f_blocks = total.QuadPart;
    st->f_bfree = free.QuadPart;
    st->f_bavail = available.QuadPart;
    return 0;
}

int futimens(int fd, const struct timespec times[2]) {
    HANDLE handle = HandleOf(fd);
    FILETIME access{}, write{};
    FILETIME* accessPtr = nullptr;
    FILETIME* writePtr = nullptr;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    if (times == nullptr) {
        access = write = now;
        accessPtr = &access;
        writePtr = &write;
    } else {
        if (times[0].tv_nsec != UTIME_OMIT) {
            access = times[0].tv_nsec == UTIME_NOW ? now : FileTimeOf(times[0]);
            accessPtr = &access;
        }
        if (times[1].tv_nsec != UTIME_OMIT) {
            write = times[1].tv_nsec == UTIME_NOW ? now : FileTimeOf(times[1]);
            writePtr = &write;
        }
    }
    return SetFileTime(handle, nullptr, accessPtr, writePtr) ? 0 : SetErrno(GetLastError());
}

int utimensat(int dir, const char* path, const struct timespec times[2], int flags) {
    const std::string full = PathAt(dir, path);
    if (full.empty()) {
        return -1;
    }
    DWORD attributes = FILE_FLAG_BACKUP_SEMANTICS |
                       ((flags & AT_SYMLINK_NOFOLLOW) ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    HANDLE handle = CreateFileW(Widen(full).c_str(), FILE_WRITE_ATTRIBUTES, ShareAll, nullptr,
                                OPEN_EXISTING, attributes, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return SetErrno(GetLastError());
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
    const int result = futimens(fd, times);
    _close(fd);
    return result;
}

// Only the owner's write bit has a Windows counterpart (the read-only attribute); ownership is
// the creator's.
int fchmod(int, mode_t) {
    return 0;
}
int chmod(const char*, mode_t) {
    return 0;
}
int fchown(int, uid_t, gid_t) {
    return 0;
}

// Locks one byte far beyond any data, so that a lock (which Windows enforces on reads and writes
// of the locked range) keeps no one from reading the file, as advisory locks do not.
int flock(int fd, int operation) {
    HANDLE handle = HandleOf(fd);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return -1;
    }
    OVERLAPPED at{};
    at.Offset = 0xFFFFFFFEu;
    at.OffsetHigh = 0x7FFFFFFFu;
    if (operation & LOCK_UN) {
        return UnlockFileEx(handle, 0, 1, 0, &at) ? 0 : SetErrno(GetLastError());
    }
    DWORD flags = (operation & LOCK_EX) ? LOCKFILE_EXCLUSIVE_LOCK : 0;
    if (operation & LOCK_NB) {
        flags |= LOCKFILE_FAIL_IMMEDIATELY;
    }
    if (!LockFileEx(handle, flags, 0, 1, 0, &at)) {
        const DWORD error = GetLastError();
        errno = error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ? EWOULDBLOCK
                                                                           : ErrnoOf(error);
        return -1;
    }
    return 0;
}

uid_t getuid(void) {
    return 0;
}
uid_t geteuid(void) {
    return 0;
}

time_t timegm(struct tm* tm) {
    return _mkgmtime(tm);
}

int setenv(const char* name, const char* value, int overwrite) {
    if (!overwrite && std::getenv(name) != nullptr) {
        return 0;
    }
    return _putenv_s(name, value) == 0 ? 0 : -1;
}

int unsetenv(const char* name) {
    return _putenv_s(name, "") == 0 ? 0 : -1;
}

int chdir(const char* path) {
    return SetCurrentDirectoryW(Widen(path).c_str()) ? 0 : SetErrno(GetLastError());
}

char* strerror_r(int code, char* buffer, size_t size) {
    if (strerror_s(buffer, size, code) != 0 && size > 0) {
        buffer[0] = '\0';
    }
    return buffer;
}

}  // extern "C"

// Names: listing, creating, renaming and deleting, over Win32's UTF-16 interfaces.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>

#include "platform/win32/posix_internal.hpp"

using namespace sejfko::win32;

struct SejfkoDir {
    std::string Path;
    HANDLE Find = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAW Data{};
    bool HaveData = false;
    int Fd = -1;  // the descriptor fdopendir took over, closed with the listing
    dirent Entry{};
};

namespace {

bool StartListing(SejfkoDir& dir) {
    const std::wstring pattern =
        Widen(dir.Path) +
        (dir.Path.empty() || dir.Path.back() == '/' || dir.Path.back() == '\\' ? L"*" : L"\\*");
    dir.Find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &dir.Data, FindExSearchNameMatch,
                                nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (dir.Find == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) {  // an empty root has no "." entry
            dir.HaveData = false;
            return true;
        }
        SetErrno(error == ERROR_INVALID_NAME ? ERROR_DIRECTORY : error);
        return false;
    }
    dir.HaveData = true;
    return true;
}

// Replaces the last `count` X of `pattern` by letters and digits.
bool FillPattern(char* pattern) {
    static thread_local std::mt19937_64 random{
        std::random_device{}() ^ (static_cast<uint64_t>(GetCurrentProcessId()) << 32) ^
        GetTickCount64()};
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    const size_t length = std::strlen(pattern);
    if (length < 6 || std::strcmp(pattern + length - 6, "XXXXXX") != 0) {
        errno = EINVAL;
        return false;
    }
    for (size_t i = length - 6; i < length; ++i) {
        pattern[i] = letters[random() % (sizeof letters - 1)];
    }
    return true;
}

int RemovePath(const std::string& path, bool directory) {
    const std::wstring wide = Widen(path);
    if (directory) {
        return RemoveDirectoryW(wide.c_str()) ? 0 : SetErrno(GetLastError());
    }
    if (DeleteFileW(wide.c_str())) {
        return 0;
    }
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        errno = EISDIR;
        return -1;
    }
    if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_READONLY)) {
        // POSIX deletes read-only files in a writable directory.
        SetFileAttributesW(wide.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
        if (DeleteFileW(wide.c_str())) {
            return 0;
        }
    }
    return SetErrno(error);
}

int RenamePath(const std::string& from, const std::string& to) {
    if (MoveFileExW(Widen(from).c_str(), Widen(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return 0;
    }
    return SetErrno(GetLastError());
}

int MakeDirectory(const std::string& path) {
    return CreateDirectoryW(Widen(path).c_str(), nullptr) ? 0 : SetErrno(GetLastError());
}

}  // namespace

extern "C" {

int unlink(const char* path) {
    return RemovePath(path, false);
}
int rmdir(const char* path) {
    return RemovePath(path, true);
}

int unlinkat(int dir, const char* path, int flags) {
    const std::string full = PathAt(dir, path);
    return full.empty() ? -1 : RemovePath(full, (flags & AT_REMOVEDIR) != 0);
}

int sejfko_rename(const char* from, const char* to) {
    return RenamePath(from, to);
}

int renameat(int fromDir, const char* from, int toDir, const char* to) {
    const std::string source = PathAt(fromDir, from);
    const std::string target = PathAt(toDir, to);
    return source.empty() || target.empty() ? -1 : RenamePath(source, target);
}

int mkdir(const char* path, mode_t) {
    return MakeDirectory(path);
}

int mkdirat(int dir, const char* path, mode_t) {
    const std::string full = PathAt(dir, path);
    return full.empty() ? -1 : MakeDirectory(full);
}

int mkstemp(char* pattern) {
    return mkostemp(pattern, 0);
}

int mkostemp(char* pattern, int flags) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (!FillPattern(pattern)) {
            return -1;
        }
        const int fd = open(pattern, O_RDWR | O_CREAT | O_EXCL | (flags & O_APPEND), 0600);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    errno = EEXIST;
    return -1;
}

char* mkdtemp(char* pattern) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (!FillPattern(pattern)) {
            return nullptr;
        }
        if (MakeDirectory(pattern) == 0) {
            return pattern;
        }
        if (errno != EEXIST) {
            return nullptr;
        }
    }
    return nullptr;
}

int access(const char* path, int mode) {
    return faccessat(AT_FDCWD, path, mode, 0);
}

int faccessat(int dir, const char* path, int mode, int) {
    const std::string full = PathAt(dir, path);
    if (full.empty()) {
        return -1;
    }
    const DWORD attributes = GetFileAttributesW(Widen(full).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return SetErrno(GetLastError());
    }
    if ((mode & W_OK) && (attributes & FILE_ATTRIBUTE_READONLY) &&
        !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        errno = EACCES;
        return -1;
    }
    return 0;
}

// No symlinks are made or read in this build: Windows gives them to privileged users only.
ssize_t readlink(const char*, char*, size_t) {
    errno = EINVAL;
    return -1;
}
ssize_t readlinkat(int, const char*, char*, size_t) {
    errno = EINVAL;
    return -1;
}
int symlink(const char*, const char*) {
    errno = EPERM;
    return -1;
}
int symlinkat(const char*, int, const char*) {
    errno = EPERM;
    return -1;
}

DIR* fdopendir(int fd) {
    auto* dir = new SejfkoDir;
    if (!DirectoryPath(fd, dir->Path)) {
        errno = EBADF;
        delete dir;
        return nullptr;
    }
    if (!StartListing(*dir)) {
        delete dir;
        return nullptr;
    }
    dir->Fd = fd;
    return dir;
}

DIR* opendir(const char* path) {
    const int fd = open(path, O_RDONLY | O_DIRECTORY);
    if (fd < 0) {
        return nullptr;
    }
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        const int error = errno;
        close(fd);
        errno = error;
    }
    return dir;
}

struct dirent* readdir(DIR* dir) {
    while (dir->HaveData) {
        const std::string name = Narrow(dir->Data.cFileName);
        const DWORD attributes = dir->Data.dwFileAttributes;
        const DWORD tag = dir->Data.dwReserved0;
        dir->HaveData = FindNextFileW(dir->Find, &dir->Data) != 0;
        if (name == "." || name == "..") {
            continue;
        }
        std::memset(&dir->Entry, 0, sizeof dir->Entry);
        std::strncpy(dir->Entry.d_name, name.c_str(), sizeof dir->Entry.d_name - 1);
        dir->Entry.d_type = IsLinkReparse(attributes, tag)            ? DT_LNK
                            : (attributes & FILE_ATTRIBUTE_DIRECTORY) ? DT_DIR
                                                                      : DT_REG;
        return &dir->Entry;
    }
    return nullptr;
}

void rewinddir(DIR* dir) {
    if (dir->Find != INVALID_HANDLE_VALUE) {
        FindClose(dir->Find);
        dir->Find = INVALID_HANDLE_VALUE;
    }
    StartListing(*dir);
}

int closedir(DIR* dir) {
    if (dir->Find != INVALID_HANDLE_VALUE) {
        FindClose(dir->Find);
    }
    if (dir->Fd >= 0) {
        close(dir->Fd);
    }
    delete dir;
    return 0;
}

int dirfd(DIR* dir) {
    return dir->Fd;
}

}  // extern "C"

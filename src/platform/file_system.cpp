#include "platform/file_system.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/exceptions.hpp"
#include "platform/fault_injection.hpp"
#include "platform/file_io.hpp"
#include "platform/system_error_text.hpp"

namespace sejfko {

namespace {

TEntryKind KindOf(mode_t mode) {
    if (S_ISREG(mode)) {
        return TEntryKind::Regular;
    }
    if (S_ISDIR(mode)) {
        return TEntryKind::Directory;
    }
    if (S_ISLNK(mode)) {
        return TEntryKind::Symlink;
    }
    return TEntryKind::Other;
}

TEntryKind KindOfDirentType(unsigned char type) {
    switch (type) {
        case DT_REG:
            return TEntryKind::Regular;
        case DT_DIR:
            return TEntryKind::Directory;
        case DT_LNK:
            return TEntryKind::Symlink;
        default:
            return TEntryKind::Other;
    }
}

[[noreturn]] void RaiseOSError(int code, const std::string& message) {
    throw EOSError(code, message + ": " + SystemErrorMessage(code));
}

// The path itself or, when it does not exist yet, its nearest existing parent, so that questions
// about the volume can be answered for a destination that is still to be created. Empty when
// nothing on the way exists (or cannot be examined).
std::string NearestExisting(const std::string& path) {
    std::string current = path.empty() ? std::string(".") : path;
    struct stat st {};
    for (;;) {
        if (::stat(current.c_str(), &st) == 0) {
            return current;
        }
        if (errno != ENOENT && errno != ENOTDIR) {
            return {};
        }
        std::string parent = ExtractFileDir(ExcludeTrailingPathDelimiter(current));
        if (parent.empty()) {
            parent = ".";
        }
        if (parent == current) {
            return {};
        }
        current = std::move(parent);
    }
}

void CopyAcrossVolumes(const std::string& source, const std::string& target) {
    TReadFile input;
    if (!input.Open(source)) {
        RaiseOSError(input.Error(), "Unable to read " + source);
    }
    struct stat st {};
    if (::stat(source.c_str(), &st) != 0) {
        RaiseOSError(errno, "Unable to read " + source);
    }
    TAtomicFileWriter output(target, st.st_mode & 07777);
    output.SetModificationTime(st.st_mtim);
    std::string buffer(1 << 20, '\0');
    for (;;) {
        const std::ptrdiff_t count = input.Read(buffer.data(), buffer.size());
        if (count < 0) {
            RaiseOSError(input.Error(), "Unable to read " + source);
        }
        if (count == 0) {
            break;
        }
        output.Write(std::string_view(buffer.data(), static_cast<std::size_t>(count)));
    }
    output.Commit();
}

}  // namespace

std::string SystemErrorMessage(int code) {
    return CzechSystemErrorText(code);
}

void SyncDirectory(const std::string& directory) {
    const int handle =
        ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle >= 0) {
        ::fsync(handle);
        ::close(handle);
    }
}

TFileStatus GetFileStatus(const std::string& path, bool follow) {
    TFileStatus status;
    struct stat st {};
    const int result = follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
    if (result != 0) {
        status.Error = errno;
        return status;
    }
    status.Kind = KindOf(st.st_mode);
    status.Size = st.st_size;
    status.ModifiedSeconds = st.st_mtime;
    status.Device = st.st_dev;
    return status;
}

bool TFileStatus::Gone() const {
    return Kind == TEntryKind::Missing && (Error == ENOENT || Error == ENOTDIR);
}

bool FileExists(const std::string& path) {
    return GetFileStatus(path).Kind == TEntryKind::Regular;
}

bool DirectoryExists(const std::string& path) {
    return GetFileStatus(path).Kind == TEntryKind::Directory;
}

bool ListDirectory(const std::string& path, std::vector<TDirectoryEntry>& entries, int* error) {
    entries.clear();
    auto fail = [error](int code) {
        if (error != nullptr) {
            *error = code;
        }
        return false;
    };
    if (const int fault = InjectedFault(TFileOperation::ListDirectory, path)) {
        return fail(fault);
    }
    DIR* directory = ::opendir(path.c_str());
    if (directory == nullptr) {
        return fail(errno);
    }
    const int handle = ::dirfd(directory);
    int readError = 0;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(directory);
        if (entry == nullptr) {
            readError = errno;
            break;
        }
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
            continue;
        }
        TDirectoryEntry item;
        item.Name = name;
        struct stat st {};
        if (::fstatat(handle, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) {
                continue;  // vanished since the directory was read
            }
            // Listed but not searchable: the name and kind are all we know.
            item.Kind = item.Target = KindOfDirentType(entry->d_type);
            entries.push_back(std::move(item));
            continue;
        }
        item.Kind = item.Target = KindOf(st.st_mode);
        if (item.Kind == TEntryKind::Symlink) {
            item.LinkSize = st.st_size;
            item.LinkModifiedSeconds = st.st_mtime;
            struct stat target {};
            if (::fstatat(handle, name, &target, 0) == 0) {
                item.Target = KindOf(target.st_mode);
                item.Size = target.st_size;
                item.ModifiedSeconds = target.st_mtime;
            } else {
                item.Target = TEntryKind::Missing;
            }
        } else {
            item.Size = st.st_size;
            item.ModifiedSeconds = st.st_mtime;
        }
        entries.push_back(std::move(item));
    }
    ::closedir(directory);
    if (readError != 0) {
        entries.clear();
        return fail(readError);
    }
    // std::string compares through char_traits<char>, i.e. memcmp: unsigned bytes, no locale.
    std::sort(entries.begin(), entries.end(),
              [](const TDirectoryEntry& a, const TDirectoryEntry& b) { return a.Name < b.Name; });
    return true;
}

bool ReadSymlink(const std::string& path, std::string& target, int* error) {
    // Link targets are short (4 KiB on Linux at most); the buffer grows for systems that differ.
    constexpr std::size_t limit = 1 << 20;
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
        if (length < 0) {
            if (error != nullptr) {
                *error = errno;
            }
            return false;
        }
        if (static_cast<std::size_t>(length) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(length));
            target = std::move(buffer);
            return true;
        }
        if (buffer.size() >= limit) {
            if (error != nullptr) {
                *error = ENAMETOOLONG;
            }
            return false;
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string IncludeTrailingPathDelimiter(const std::string& path) {
    if (!path.empty() && IsPathDelimiter(path.back())) {
        return path;
    }
    return path + PathDelimiter;
}

std::string ExcludeTrailingPathDelimiter(const std::string& path) {
    if (path.size() > 1 && IsPathDelimiter(path.back())) {
        return path.substr(0, path.size() - 1);
    }
    return path;
}

std::string ExtractFileDir(const std::string& path) {
    const std::size_t slash = path.find_last_of(PathDelimiters);
    if (slash == std::string::npos) {
        return {};
    }
    if (slash == 0) {
        return std::string(1, PathDelimiter);
    }
    return path.substr(0, slash);
}

std::string ExtractFileName(const std::string& path) {
    const std::size_t slash = path.find_last_of(PathDelimiters);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int64_t FreeSpace(const std::string& path) {
    const std::string existing = NearestExisting(path);
    struct statvfs vfs {};
    if (existing.empty() || ::statvfs(existing.c_str(), &vfs) != 0) {
        return -1;
    }
    const uint64_t unit = vfs.f_frsize != 0 ? vfs.f_frsize : vfs.f_bsize;
    return static_cast<int64_t>(static_cast<uint64_t>(vfs.f_bavail) * unit);
}

void ForceDirectories(const std::string& path) {
    const std::string directory = ExcludeTrailingPathDelimiter(path);
    if (directory.empty()) {
        throw EOSError(ENOENT, "Unable to create directory: the path is empty");
    }
    const TFileStatus status = GetFileStatus(directory);
    if (status.Kind == TEntryKind::Directory) {
        return;
    }
    if (status.Kind != TEntryKind::Missing) {
        RaiseOSError(ENOTDIR, "Unable to create directory " + directory);
    }
    const std::string parent = ExtractFileDir(directory);
    if (!parent.empty() && parent != directory) {
        ForceDirectories(parent);
    }
    if (const int fault = InjectedFault(TFileOperation::MakeDirectory, directory)) {
        RaiseOSError(fault, "Unable to create directory " + directory);
    }
    if (::mkdir(directory.c_str(), 0700) != 0) {
        const int code = errno;
        if (code == EEXIST && DirectoryExists(directory)) {
            return;  // made by someone else meanwhile
        }
        RaiseOSError(code, "Unable to create directory " + directory);
    }
}

bool DeleteFile(const std::string& path, int* error) {
    int code = InjectedFault(TFileOperation::Remove, path);
    if (code == 0 && ::unlink(path.c_str()) != 0) {
        code = errno;
    }
    if (code != 0) {
        if (error != nullptr) {
            *error = code;
        }
        return false;
    }
    return true;
}

void MoveFile(const std::string& source, const std::string& target) {
    int code = InjectedFault(TFileOperation::Rename, target);
    if (code == 0) {
        if (::rename(source.c_str(), target.c_str()) == 0) {
            SyncDirectory(ExtractFileDir(target));
            return;
        }
        code = errno;
    }
    if (code != EXDEV) {
        RaiseOSError(code, "Unable to move " + source + " to " + target);
    }
    CopyAcrossVolumes(source, target);
    int removeError = 0;
    if (!DeleteFile(source, &removeError)) {
        RaiseOSError(removeError, "Unable to remove " + source + " after copying it to " + target);
    }
}

}  // namespace sejfko

#include "platform/file_identity.hpp"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_system.hpp"

namespace sejfko {

namespace {

constexpr int MaxLinks = 40;

int64_t Nanoseconds(const timespec& time) {
    return static_cast<int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

TFileIdentity IdentityOf(const struct stat& st) {
    TFileIdentity identity;
    identity.Exists = true;
    identity.Device = static_cast<uint64_t>(st.st_dev);
    identity.Inode = static_cast<uint64_t>(st.st_ino);
    identity.Size = static_cast<int64_t>(st.st_size);
    identity.ModifiedNs = Nanoseconds(st.st_mtim);
    identity.ChangedNs = Nanoseconds(st.st_ctim);
    identity.Mode = static_cast<uint32_t>(st.st_mode & 07777);
    identity.Owner = static_cast<uint32_t>(st.st_uid);
    identity.Group = static_cast<uint32_t>(st.st_gid);
    return identity;
}

}  // namespace

bool TFileIdentity::operator==(const TFileIdentity& other) const {
    if (!Exists || !other.Exists) {
        return Exists == other.Exists;
    }
    return Device == other.Device && Inode == other.Inode && Size == other.Size &&
           ModifiedNs == other.ModifiedNs && ChangedNs == other.ChangedNs;
}

TFileIdentity GetFileIdentity(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return {};
    }
    return IdentityOf(st);
}

TFileIdentity GetHandleIdentity(int handle) {
    struct stat st {};
    if (::fstat(handle, &st) != 0) {
        return {};
    }
    return IdentityOf(st);
}

std::string FollowSymlinks(const std::string& path) {
    std::string current = path;
    for (int link = 0; link < MaxLinks; ++link) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return current;
        }
        char target[PATH_MAX];
        const ssize_t length = ::readlink(current.c_str(), target, sizeof target);
        if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target) {
            return path;
        }
        std::string next(target, static_cast<std::size_t>(length));
        if (next.front() != PathDelimiter) {
            const std::string directory = ExtractFileDir(current);
            next = directory.empty() ? next : IncludeTrailingPathDelimiter(directory) + next;
        }
        current = std::move(next);
    }
    return path;
}

bool WritableByCaller(const std::string& path) {
    return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

bool NamesNothing(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) != 0 &&
           (errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG);
}

}  // namespace sejfko

#pragma once
// What a path names at one moment, for code that must notice when a file it read has been
// replaced or changed by someone else since (another process, an editor), and whether the caller
// may change a file at all (the directory being writable is not enough).

#include <cstdint>
#include <string>

namespace sejfko {

// The file a path named when it was looked at: the same value again means the same content
// (files are replaced by rename, which makes a new inode; a change in place moves the change
// time). A missing or unexaminable path has Exists false.
struct TFileIdentity {
    bool Exists = false;
    uint64_t Device = 0;
    uint64_t Inode = 0;
    int64_t Size = 0;
    int64_t ModifiedNs = 0;
    int64_t ChangedNs = 0;
    uint32_t Mode = 0;  // permission bits
    uint32_t Owner = 0;
    uint32_t Group = 0;

    bool operator==(const TFileIdentity& other) const;
};

// stat of the path, symlinks followed.
TFileIdentity GetFileIdentity(const std::string& path);
// fstat of an open descriptor (TReadFile::Identity).
TFileIdentity GetHandleIdentity(int handle);

// The path a write to `path` should replace: `path` itself, or, when it is a symlink (or a chain
// of them), the file the last link names (which need not exist yet). A relative link target is
// taken relative to the link's directory. Loops and chains longer than 40 links give `path`.
std::string FollowSymlinks(const std::string& path);

// True when the caller's effective user may write the existing file (its mode, its owner, a
// read-only mount); false also when it cannot be found out.
bool WritableByCaller(const std::string& path);

// True when nothing exists under the path (ENOENT or ENOTDIR on the way, or a name too long
// to exist; a dangling symlink names nothing). A path that cannot be examined for another reason
// (no access) is not missing.
bool NamesNothing(const std::string& path);

}  // namespace sejfko

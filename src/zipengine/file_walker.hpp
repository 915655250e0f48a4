#pragma once
// Expands the command's file patterns into the files to archive, in archive order, handing each
// to the caller as it is found: nothing of a file is kept here once it is handed on (only the
// names of the directories being walked), so a tree of millions of files costs what its deepest
// path of directories costs. No file is opened here.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace sejfko::zipengine {

struct TWalkItem {
    std::string Path;        // as found: the pattern's directory joined with the names
    std::string StoredName;  // the name inside the archive
    uint64_t Size = 0;
    dev_t Device = 0;
    ino_t Inode = 0;
    // A symlink, stored as the link itself: its target text, never followed.
    bool Link = false;
    const std::string* Password = nullptr;  // set by the batch: the data is encrypted with it
    uint32_t Name = 0;                      // set by the batch: its index in TStoredNames
};

// `*` matches any run of bytes, `?` one byte; "*.*" matches every name, dot or not.
bool WildMatch(std::string_view pattern, std::string_view name);

struct TWalkOptions {
    bool IncludeHidden = false;  // names starting with "." (files and directories)
    bool JunkDirs = false;       // store the file name only
    std::vector<std::string> Excludes;
    // The archive being written, never taken in (it may sit inside the tree).
    dev_t SkipDevice = 0;
    ino_t SkipInode = 0;
    // Called for every spec and every directory entry looked at; may throw to end the walk (a tree
    // the size of a whole disk takes minutes).
    std::function<void()> OnEntry;
    // Every file to archive, in archive order (the item may be moved from). Stored names are not
    // checked here: two files may come with the same one.
    std::function<void(TWalkItem&)> OnFile;
    // A literal spec that names nothing (any more), so the caller reports it.
    std::function<void(const std::string&)> OnMissing;
};

class TFileWalker {
public:
    explicit TFileWalker(TWalkOptions options);

    // A file, a directory (all its files) or a pattern in the last component. Depth first, each
    // directory in byte order of names. The spec itself is followed when it is a symlink; a
    // symlink met in a directory is taken as a link (whatever it points to, dangling too) and
    // never followed; FIFOs, sockets and devices are left out.
    // A `literal` spec is one exact path: "*" and "?" are ordinary bytes in it, and when it
    // names no file or directory it is left out and reported (the caller found it, so its
    // absence means it vanished). With `asLink` too, a symlink there is taken as a link; what
    // is no longer a link is taken as a file when it is one, else left out and reported.
    void AddSpec(std::string_view spec, bool recurse, const char* rootDir, bool literal = false,
                 bool asLink = false);

private:
    void WalkDirectory(const std::string& dir, std::string_view pattern, bool recurse,
                       const std::string& root);
    void AddFile(const std::string& path, const struct stat& st, const std::string& root,
                 bool link = false);
    bool Excluded(const std::string& path, std::string_view name) const;
    std::string StoredName(const std::string& path, const std::string& root) const;

    TWalkOptions FOptions;
};

}  // namespace sejfko::zipengine

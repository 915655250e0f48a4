#pragma once
// File-system queries and operations. Paths are byte strings in the platform's form ("/" on
// POSIX). All operations pass through the fault-injection seam.

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace sejfko {

#ifdef _WIN32
constexpr char PathDelimiter = '\\';
// Both separate on Windows; "/" is the form inside archives.
constexpr const char* PathDelimiters = "\\/";
#else
constexpr char PathDelimiter = '/';
constexpr const char* PathDelimiters = "/";
#endif

constexpr bool IsPathDelimiter(char c) {
    return c == PathDelimiter || c == '/';
}

// A path that names the same file whatever the current directory ("/x"; "C:\\x" or "\\\\srv\\x"
// on Windows).
inline bool IsAbsolutePath(const std::string& path) {
#ifdef _WIN32
    if (path.size() >= 3 && path[1] == ':' && IsPathDelimiter(path[2])) {
        return true;
    }
#endif
    return !path.empty() && IsPathDelimiter(path.front());
}

// `path` with "/" for every separator: what the engine's walk and the archive's names use.
inline std::string PortableSeparators(std::string path) {
    for (char& c : path) {
        if (IsPathDelimiter(c)) {
            c = '/';
        }
    }
    return path;
}

enum class TEntryKind { Missing, Regular, Directory, Symlink, Other };

struct TFileStatus {
    TEntryKind Kind = TEntryKind::Missing;
    int64_t Size = 0;
    std::time_t ModifiedSeconds = 0;  // st_mtime
    uint64_t Device = 0;
    int Error = 0;  // errno of the failed query when Kind is Missing

    // Nothing is there: the name (or a directory on its way) does not exist, as opposed to a
    // path that could not be looked at.
    bool Gone() const;
};

// lstat / stat: `follow` resolves a symlink to what it names.
TFileStatus GetFileStatus(const std::string& path, bool follow = true);
bool FileExists(const std::string& path);       // a regular file (symlinks followed)
bool DirectoryExists(const std::string& path);  // a directory (symlinks followed)

struct TDirectoryEntry {
    std::string Name;
    TEntryKind Kind = TEntryKind::Other;  // of the entry itself
    // For a Symlink: what it points to (Missing when dangling); otherwise equal to Kind.
    TEntryKind Target = TEntryKind::Other;
    int64_t Size = 0;                 // of the target for symlinks
    std::time_t ModifiedSeconds = 0;  // of the target for symlinks
    // Of a Symlink itself (lstat): the length of its target text and its own time.
    int64_t LinkSize = 0;
    std::time_t LinkModifiedSeconds = 0;
};

// Every entry but "." and "..", dot-files included, sorted by name byte for byte. False when
// the directory cannot be listed (errno value in `error`).
bool ListDirectory(const std::string& path, std::vector<TDirectoryEntry>& entries,
                   int* error = nullptr);

// The target text of the symlink `path`, never followed. False (errno in `error`, EINVAL when
// `path` is no symlink) when it cannot be read.
bool ReadSymlink(const std::string& path, std::string& target, int* error = nullptr);

// `path` with one trailing separator (none added when it has one already).
std::string IncludeTrailingPathDelimiter(const std::string& path);
// `path` without its one trailing separator; the root "/" stays "/".
std::string ExcludeTrailingPathDelimiter(const std::string& path);
// Directory part without the trailing separator ("/a/b.txt" -> "/a"; "/b.txt" -> "/";
// "b.txt" -> "").
std::string ExtractFileDir(const std::string& path);
std::string ExtractFileName(const std::string& path);

// Bytes free for the caller on the volume holding `path`, or its nearest existing parent
// (statvfs); -1 when unknown.
int64_t FreeSpace(const std::string& path);

// Creates the directory and its missing parents (mode 0700 for the ones created). Throws
// EOSError, also when the path exists as something other than a directory (ENOTDIR).
void ForceDirectories(const std::string& path);
// Deletes a file; false (errno in `error`, ENOENT when there was nothing to delete) on failure,
// true when it is gone.
bool DeleteFile(const std::string& path, int* error = nullptr);
// Moves a file, replacing the target: rename, or across volumes copy + fsync + rename into
// place + delete the source. The copy keeps the permission bits and the modification time.
// Throws EOSError; on failure the source is untouched and the target is either untouched or the
// complete copy.
void MoveFile(const std::string& source, const std::string& target);

// Flushes the directory's entries to disk (after a rename into it). Best effort: some file
// systems refuse fsync on a directory.
void SyncDirectory(const std::string& directory);

// The text for an errno value, in Czech (thread-safe).
std::string SystemErrorMessage(int code);

}  // namespace sejfko

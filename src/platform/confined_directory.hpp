#pragma once
// Writing and deleting inside one directory tree without ever leaving it. Every path is walked
// component by component from an open handle of the root, and no symlink is followed on the way
// (a symlink planted by an earlier write, or one that was there before, cannot redirect a later
// write or deletion outside the tree). Used by the restore, whose paths come from archives.
//
// Relative paths use "/" between components; an empty component, "." or ".." is refused with
// EINVAL (callers validate first, this is the last line). Every failure throws EOSError whose
// Code is the errno value: ELOOP or ENOTDIR when a parent is a symlink or not a directory.
// Operations pass through the fault-injection seam with the full path (root + "/" + relative):
// MakeDirectory, Create (temporary file), Write, Rename (target), Remove.
//
// One TConfinedDirectory may be used from several threads; each writer from one thread.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sejfko {

class TConfinedDirectory {
public:
    // Opens `root`, which must exist as a directory (symlinks to it are followed, once).
    explicit TConfinedDirectory(const std::string& root);
    ~TConfinedDirectory();
    TConfinedDirectory(const TConfinedDirectory&) = delete;
    TConfinedDirectory& operator=(const TConfinedDirectory&) = delete;

    const std::string& Root() const { return FRootPath; }
    std::string FullPath(const std::string& relative) const;

    // Creates the directory and its missing parents (mode 0777 less the umask).
    void MakeDirectories(const std::string& relative);
    // Deletes a file or symlink (never what a symlink points to). True when something was
    // deleted, false when there was nothing (a missing parent included). EISDIR for a directory.
    bool RemoveFile(const std::string& relative);
    // Creates the symlink `relative` with the text `target` (any text: it is never followed
    // here) and, when given, its own modification time, replacing a file or symlink there, or an
    // empty directory; EISDIR when a directory with entries stands there. Made under a temporary
    // name and renamed into place (fault-injection seam: Create, Rename).
    void MakeSymlink(const std::string& relative, const std::string& target,
                     const std::optional<std::timespec>& modified);
    // True when a directory (not a symlink to one) stands at `relative`.
    bool IsDirectory(const std::string& relative);

    // A new handle of the directory `relative` ("" = the root), created with its parents when
    // `create`; the caller closes it. -1 with ENOENT kept in `error` when missing and not created.
    int OpenDirectory(const std::string& relative, bool create, int& error);

    // Deletes, in the directory `relative` (open as `handle`), the temporary files named `stem`
    // and 8 letters that no writer holds: what a killed restore left of the file the caller has
    // just written. Only such names go, so nothing of the user's is touched.
    void RemoveStaleTemporariesOf(const std::string& relative, int handle, const std::string& stem);

private:
    int FRoot = -1;
    std::string FRootPath;
    // The last directory opened: restores write many files into one directory in a row.
    std::mutex FCacheLock;
    std::string FCachedPath;
    int FCachedHandle = -1;
    std::mutex FStaleLock;
    std::map<std::string, std::vector<std::string>> FStaleCandidates;  // by directory
};

// One file written below a TConfinedDirectory: into a hidden temporary file in the target's
// directory, renamed over the target by Commit. Aligned 4 KiB blocks of zeros are skipped, so
// long zero runs become holes (sparse files stay sparse). Destroying an uncommitted writer
// removes the temporary file; the target is then untouched.
class TConfinedFileWriter {
public:
    TConfinedFileWriter(TConfinedDirectory& directory, const std::string& relative);
    ~TConfinedFileWriter();
    TConfinedFileWriter(const TConfinedFileWriter&) = delete;
    TConfinedFileWriter& operator=(const TConfinedFileWriter&) = delete;

    void Write(const char* data, std::size_t size);
    // Sets the permission bits and, when given, the modification time, then renames into place.
    void Commit(unsigned mode, const std::optional<std::timespec>& modified);
    // Everything of Commit but the rename: writes what is held, sets the mode and the time and
    // closes the data handle. A restore does this on the thread that wrote the data and leaves
    // only the rename, in order, to another; Commit after Prepare renames (its arguments are
    // then not used again).
    void Prepare(unsigned mode, const std::optional<std::timespec>& modified);
    uint64_t Size() const { return FSize; }

private:
    void TakeBlock(const char* data, std::size_t size);
    void FlushPending();
    [[noreturn]] void Fail(int code) const;

    TConfinedDirectory& FDirectory;
    std::string FFullPath;
    std::string FName;
    std::string FTempName;
    std::string FParent;
    int FDirHandle = -1;
    int FHandle = -1;
    int FLockHandle = -1;
    bool FCommitted = false;
    bool FPrepared = false;
    uint64_t FSize = 0;
    std::string FCarry;    // the start of a block that is not complete yet
    std::string FPending;  // data to write at FPendingAt
    uint64_t FPendingAt = 0;
    uint64_t FWrittenEnd = 0;  // end of the data written so far
};

}  // namespace sejfko

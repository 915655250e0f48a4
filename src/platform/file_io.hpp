#pragma once
// Reading and writing files through the fault-injection seam. Only regular files are opened for
// reading: a FIFO, socket or device would block or never end, so they are refused without being
// opened.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>

#include "platform/file_identity.hpp"

namespace sejfko {

// A file open for reading, sequentially or at given offsets; closed on destruction.
class TReadFile {
public:
    TReadFile() = default;
    ~TReadFile();
    TReadFile(const TReadFile&) = delete;
    TReadFile& operator=(const TReadFile&) = delete;

    // False (errno value in Error()) when the file is missing, unreadable or not a regular file
    // (EINVAL then). Symlinks to regular files are read through. Fault seam: OpenRead.
    bool Open(const std::string& path);
    // Fills the buffer as far as the file goes: bytes read (0 at the end), or -1 on a read error
    // (Error() tells). Fault seam: Read.
    std::ptrdiff_t Read(void* buffer, std::size_t size);
    // Reads up to `size` bytes at `offset` without moving the position, short only at the end
    // of the file: bytes read, or -1 on a read error (Error() tells). Fault seam: Read.
    std::ptrdiff_t ReadAt(int64_t offset, void* buffer, std::size_t size) const;
    void Close();
    bool IsOpen() const { return FHandle >= 0; }
    int Error() const { return FError; }
    // Size at the time of opening.
    int64_t Size() const { return FSize; }
    // The open file as it is now (not the path: a file renamed over it meanwhile is not seen).
    TFileIdentity Identity() const;
    const std::string& Path() const { return FPath; }

private:
    std::ptrdiff_t Transfer(int64_t offset, void* buffer, std::size_t size) const;

    int FHandle = -1;
    mutable int FError = 0;
    int64_t FSize = 0;
    std::string FPath;
};

// Writes a file so that readers only ever see the old or the new content: the data goes into a
// hidden temporary file beside the target, is flushed to disk and renamed over the target by
// Commit. Destroying an uncommitted writer removes the temporary file. Every failure throws
// EOSError naming the target path. Fault seam: Create with the temporary file's path (it lies in
// the target's directory), Write with the target path for writes and the flush to disk, Rename
// with the target path.
class TAtomicFileWriter {
public:
    // mode: permission bits of the new file (0600 for files with secrets or state).
    explicit TAtomicFileWriter(const std::string& path, unsigned mode = 0600);
    ~TAtomicFileWriter();
    TAtomicFileWriter(const TAtomicFileWriter&) = delete;
    TAtomicFileWriter& operator=(const TAtomicFileWriter&) = delete;

    void Write(std::string_view data);
    // The modification time the file gets at Commit (otherwise the time of writing).
    void SetModificationTime(const std::timespec& modified);
    // Gives the new file this owner and group, as far as the caller may (best effort).
    void SetOwner(uint32_t owner, uint32_t group);
    // `beforeRename` runs once the data is on disk, right before the rename; an exception from
    // it leaves the target untouched (and the writer uncommitted).
    void Commit(const std::function<void()>& beforeRename = {});
    const std::string& TemporaryPath() const { return FTempPath; }

private:
    void Flush();
    void WriteOut(const char* data, std::size_t size);
    [[noreturn]] void Fail(int code) const;
    std::string FPath;
    std::string FTempPath;
    int FHandle = -1;
    std::string FBuffer;
    bool FCommitted = false;
    bool FKeepTime = false;
    std::timespec FModified{};
};

// Whole-file conveniences for files the caller knows to be small (settings, lists): the whole
// content is held in memory. ReadSmallFile throws EOSError.
std::string ReadSmallFile(const std::string& path);
// Atomic replace, as TAtomicFileWriter.
void WriteFileAtomically(const std::string& path, std::string_view content, unsigned mode = 0600);

// Appends `line` (a complete line) to `path` with one write, so that lines of processes
// appending at once never mix. When the file would grow past `rotateSize`, it is first renamed
// to `rotatedPath` (replacing an older one). Mode 0600 for a new file. False when it cannot be
// written.
bool AppendLineRotating(const std::string& path, const std::string& rotatedPath,
                        std::string_view line, std::size_t rotateSize);

}  // namespace sejfko

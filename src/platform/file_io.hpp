#pragma once
// Reading and writing files through the fault-injection seam. Only regular files are opened for
// reading: a FIFO, socket or device would block or never end, so they are refused without being
// opened.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sejfko {

// A file open for sequential reading; closed on destruction.
class TReadFile {
public:
    TReadFile() = default;
    ~TReadFile();
    TReadFile(const TReadFile&) = delete;
    TReadFile& operator=(const TReadFile&) = delete;

    // False (errno value in Error()) when the file is missing, unreadable or not a regular file
    // (EINVAL then).
    bool Open(const std::string& path);
    // Bytes read (0 at the end), or -1 on a read error (Error() tells).
    std::ptrdiff_t Read(void* buffer, std::size_t size);
    void Close();
    int Error() const { return FError; }
    // Size at the time of opening.
    int64_t Size() const { return FSize; }

private:
    int FHandle = -1;
    int FError = 0;
    int64_t FSize = 0;
    std::string FPath;
};

// Writes a file so that readers only ever see the old or the new content: the data goes into a
// hidden temporary file beside the target, is flushed to disk and renamed over the target by
// Commit. Destroying an uncommitted writer removes the temporary file. Every failure throws
// EOSError naming the target path.
class TAtomicFileWriter {
public:
    // mode: permission bits of the new file (0600 for files with secrets or state).
    explicit TAtomicFileWriter(const std::string& path, unsigned mode = 0600);
    ~TAtomicFileWriter();
    TAtomicFileWriter(const TAtomicFileWriter&) = delete;
    TAtomicFileWriter& operator=(const TAtomicFileWriter&) = delete;

    void Write(std::string_view data);
    void Commit();
    const std::string& TemporaryPath() const { return FTempPath; }

private:
    void Flush();
    std::string FPath;
    std::string FTempPath;
    int FHandle = -1;
    std::string FBuffer;
    bool FCommitted = false;
};

// Whole-file conveniences for small files. ReadSmallFile throws EOSError.
std::string ReadSmallFile(const std::string& path);
// Atomic replace, as TAtomicFileWriter.
void WriteFileAtomically(const std::string& path, std::string_view content, unsigned mode = 0600);

}  // namespace sejfko

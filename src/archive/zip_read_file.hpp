#pragma once
// Positioned reads of an archive file. The platform's TReadFile reads only sequentially, and a
// zip archive is read from its end first, so the reader keeps its own descriptor here. It goes
// through the same fault seam (OpenRead when opening, Read for every read) and, like TReadFile,
// refuses anything that is not a regular file without blocking on it.

#include <cstddef>
#include <cstdint>
#include <string>

namespace sejfko {

class TZipReadFile {
public:
    TZipReadFile() = default;
    ~TZipReadFile();
    TZipReadFile(const TZipReadFile&) = delete;
    TZipReadFile& operator=(const TZipReadFile&) = delete;

    // False with the errno value in Error() when the file is missing, unreadable or not a
    // regular file (EINVAL).
    bool Open(const std::string& path);
    // Reads up to `size` bytes at `offset`, short only at the end of the file: bytes read, or -1
    // on a read error (Error() tells).
    std::ptrdiff_t ReadAt(int64_t offset, void* buffer, std::size_t size) const;
    void Close();
    bool IsOpen() const { return FHandle >= 0; }
    int Error() const { return FError; }
    // Size at the time of opening.
    int64_t Size() const { return FSize; }
    const std::string& Path() const { return FPath; }

private:
    int FHandle = -1;
    mutable int FError = 0;
    int64_t FSize = 0;
    std::string FPath;
};

}  // namespace sejfko

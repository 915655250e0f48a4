#pragma once
// The archive file being written: buffered appends, patches of bytes already written, and
// truncation back to an earlier offset (to drop an entry whose file failed part-way). Every
// failure throws EArchiveWrite; the caller removes the partial archive.

#include <sys/types.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace sejfko::zipengine {

class EArchiveWrite : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TArchiveOutput {
public:
    // Creates or truncates `path` with mode 0600.
    explicit TArchiveOutput(std::string path);
    ~TArchiveOutput();
    TArchiveOutput(const TArchiveOutput&) = delete;
    TArchiveOutput& operator=(const TArchiveOutput&) = delete;

    uint64_t Offset() const { return FOffset; }

    void Write(const void* data, size_t size);
    void Write(const std::vector<uint8_t>& data) { Write(data.data(), data.size()); }
    // Overwrites bytes at an earlier offset.
    void Patch(uint64_t offset, const std::vector<uint8_t>& data);
    void TruncateTo(uint64_t offset);
    // Flushes, syncs and closes.
    void Finish();
    // Closes (if open) and deletes the file.
    void Remove();

private:
    void Flush();
    void Fail(const char* what) const;

    std::string FPath;
    int FHandle = -1;
    uint64_t FOffset = 0;
    std::vector<uint8_t> FBuffer;
};

}  // namespace sejfko::zipengine

// The checksum streams the file through a fixed buffer, so memory stays bounded whatever the
// file's size.

#include <memory>
#include <string>

#include "archive/crc32.hpp"
#include "backup/file_scan.hpp"
#include "platform/file_io.hpp"
#include "platform/file_system.hpp"

namespace sejfko {

namespace {

// Large enough that the per-call overhead vanishes, small enough to stay in the L2 cache.
constexpr std::size_t ChunkSize = 256 * 1024;

}  // namespace

void LinkCrc32(const std::string& path, uint32_t& crc, uint16_t& error) {
    crc = 0;
    error = 1;
    try {
        std::string target;
        if (ReadSymlink(path, target)) {
            crc = ~Crc32(0, target.data(), target.size());
            error = 0;
        }
    } catch (...) {
        // Never throws, as FileCrc32.
    }
}

void FileCrc32(const std::string& fileName, uint32_t& crc, uint16_t& error,
               const TQueryAbort& query) {
    crc = 0;
    error = 1;
    try {
        TReadFile file;
        if (!file.Open(fileName)) {
            return;
        }
        // One buffer per thread: small files do not pay for a fresh allocation each.
        thread_local std::unique_ptr<char[]> buffer;
        if (!buffer) {
            buffer = std::make_unique<char[]>(ChunkSize);
        }
        uint32_t sum = 0;
        // The caller asks once per file before it; within the file, before every chunk that
        // follows a full one (so a small file costs no extra question).
        bool ask = false;
        for (;;) {
            if (ask && query) {
                bool abort = false;
                query(abort);
                if (abort) {
                    return;
                }
            }
            const std::ptrdiff_t got = file.Read(buffer.get(), ChunkSize);
            if (got < 0) {
                return;
            }
            if (got == 0) {
                break;
            }
            sum = Crc32(sum, buffer.get(), static_cast<std::size_t>(got));
            ask = static_cast<std::size_t>(got) == ChunkSize;
        }
        crc = sum;
        error = 0;
    } catch (...) {
        // Never throws: whatever goes wrong means the file could not be read.
    }
}

}  // namespace sejfko

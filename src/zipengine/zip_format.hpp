#pragma once
// Byte layout of the zip records the engine writes (local header, central directory entry, end
// records with their Zip64 forms). Pure functions: no I/O, so the layout is testable alone.

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace sejfko::zipengine {

using TBytes = std::vector<uint8_t>;

constexpr uint16_t zmStored = 0;
constexpr uint16_t zmDeflated = 8;
// A 32-bit size or offset field at or above this value moves into the Zip64 extra field.
constexpr uint64_t ZIP32_LIMIT = 0xFFFFFFFFu;
constexpr uint64_t ZIP16_LIMIT = 0xFFFFu;

struct TZipEntry {
    std::string Name;  // stored name, "/" separators
    uint16_t Method = zmStored;
    uint32_t Crc = 0;
    uint64_t CompressedSize = 0;
    uint64_t Size = 0;
    uint64_t LocalOffset = 0;
    uint32_t Mode = 0;        // st_mode, goes to the high half of the external attributes
    int64_t MTime = 0;        // seconds since the epoch
    bool LocalZip64 = false;  // the local header carries a Zip64 extra field with both sizes
    // AES-256 in the AE-2 form: the headers say method 99 and carry Method in the 0x9901 extra
    // field; Crc is 0 and the sizes count the salt, verification value and code.
    bool Encrypted = false;
};

// Names that are valid UTF-8 with a byte >= 0x80 carry general-purpose bit 11; invalid ones are
// stored as bytes without it.
bool IsValidUtf8(std::string_view text);
uint16_t NameFlags(std::string_view name);

// MS-DOS time (low 16 bits) and date (high 16 bits) of a local time, clamped to 1980..2107.
uint32_t DosDateTime(std::time_t when);

// The local header. With LocalZip64 both sizes live in a Zip64 extra field right after the name,
// so LocalCrcOffset / LocalSizesOffset tell where a later patch goes.
TBytes LocalHeader(const TZipEntry& entry);
// Offsets, from the start of the local header, of the CRC and of the two sizes (compressed first).
constexpr size_t LocalCrcOffset() {
    return 14;
}
size_t LocalSizesOffset(const TZipEntry& entry);
// The CRC and size fields exactly as LocalHeader writes them, for patching in place.
TBytes LocalCrcAndSizes(const TZipEntry& entry);
// The two 64-bit sizes of the local Zip64 extra field (original first), at LocalSizesOffset.
TBytes LocalZip64Sizes(const TZipEntry& entry);

TBytes CentralHeader(const TZipEntry& entry);
// End of central directory (with Zip64 end record and locator when count, size or offset need
// them). `endOffset` is where these records start.
TBytes EndRecords(uint64_t count, uint64_t centralOffset, uint64_t centralSize, uint64_t endOffset);

}  // namespace sejfko::zipengine

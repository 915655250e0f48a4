#pragma once
// CRC-32 (ISO 3309 / ITU-T V.42, as zip uses it), for archive entries and whole files.

#include <cstddef>
#include <cstdint>

namespace sejfko {

// CRC-32 of a buffer, continuing from `crc` (0 to start).
uint32_t Crc32(uint32_t crc, const void* data, std::size_t size);

}  // namespace sejfko

#pragma once
// The entries of the central directory, kept as fixed records until the archive's end: the
// names live once, in the batch's TStoredNames, and each record points at its name. 48 bytes an
// entry instead of a TZipEntry and its string.

#include <cstdint>

#include "zipengine/archive_output.hpp"
#include "zipengine/block_vector.hpp"
#include "zipengine/stored_names.hpp"
#include "zipengine/zip_format.hpp"

namespace sejfko::zipengine {

class TCentralDirectory {
public:
    // `entry` as written; its name is stored name `name` of `names`.
    void Add(const TZipEntry& entry, uint32_t name);
    size_t Count() const { return FRecords.size(); }
    // The central headers and the end records, at the output's end.
    void Write(TArchiveOutput& output, const TStoredNames& names) const;

private:
    struct TRecord {
        uint64_t CompressedSize;
        uint64_t Size;
        uint64_t LocalOffset;
        int64_t MTime;
        uint32_t Name;
        uint32_t Crc;
        uint32_t Mode;
        uint16_t Method;
        bool LocalZip64;
        bool Encrypted;
    };

    TBlockVector<TRecord> FRecords;
};

}  // namespace sejfko::zipengine

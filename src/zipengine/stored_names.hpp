#pragma once
// The stored names of a batch, each with the file that took it: an arena of name bytes, a fixed
// record per name and an open-addressing index over them. About 60 bytes per name plus the name
// itself, with no allocation per name, so a million names cost tens of megabytes.

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "zipengine/block_vector.hpp"

namespace sejfko::zipengine {

class TStoredNames {
public:
    enum class EAdd {
        Added,      // the name is new; `index` tells which it is
        SameFile,   // the same file took it before
        OtherFile,  // another file took it before
    };

    // What the walk found under a name: enough to open and write the file later.
    struct TFile {
        uint64_t Device = 0;
        uint64_t Inode = 0;
        uint64_t Size = 0;
        uint32_t Prefix = 0;     // the file's path is this prefix (batch's list) + the name
        bool WholePath = false;  // the prefix is the whole path (the name is not its end)
        bool Link = false;       // stored as the link itself
        uint16_t Password = 0;   // 1 + the index of the batch's password it is encrypted with
    };

    EAdd Add(std::string_view name, dev_t device, ino_t inode, uint32_t& index);
    bool Find(std::string_view name, uint32_t& index) const;
    std::string_view Name(uint32_t index) const;
    TFile& File(uint32_t index) { return FRecords[index].File; }
    size_t Count() const { return FRecords.size(); }

private:
    struct TRecord {
        uint32_t Block;
        uint32_t Offset;
        uint32_t Length;
        uint32_t Hash;
        TFile File;
    };

    std::string_view Store(std::string_view name, TRecord& record);
    void Grow();

    std::vector<std::unique_ptr<char[]>> FBlocks;
    std::vector<size_t> FBlockSizes;
    size_t FUsed = 0;  // bytes used in the last block
    TBlockVector<TRecord> FRecords;
    std::vector<uint32_t> FSlots;  // record index + 1; 0 is free
};

}  // namespace sejfko::zipengine

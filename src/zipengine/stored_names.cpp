#include "zipengine/stored_names.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace sejfko::zipengine {

namespace {

constexpr size_t BLOCK_SIZE = 1u << 20;
constexpr size_t FIRST_SLOTS = 1u << 10;

uint64_t HashName(std::string_view name) {
    // FNV-1a; names are short, and the index only needs the bytes spread.
    uint64_t hash = 0xcbf29ce484222325ull;
    for (const char c : name) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
    }
    return hash ^ (hash >> 32);
}

}  // namespace

bool TStoredNames::Find(std::string_view name, uint32_t& index) const {
    if (FSlots.empty()) {
        return false;
    }
    const auto hash = static_cast<uint32_t>(HashName(name));
    const size_t mask = FSlots.size() - 1;
    for (size_t slot = hash & mask; FSlots[slot] != 0; slot = (slot + 1) & mask) {
        if (FRecords[FSlots[slot] - 1].Hash == hash && Name(FSlots[slot] - 1) == name) {
            index = FSlots[slot] - 1;
            return true;
        }
    }
    return false;
}

TStoredNames::EAdd TStoredNames::Add(std::string_view name, dev_t device, ino_t inode,
                                     uint32_t& index) {
    if (FRecords.size() * 2 >= FSlots.size()) {
        Grow();
    }
    if (Find(name, index)) {
        const TFile& file = FRecords[index].File;
        return file.Device == static_cast<uint64_t>(device) &&
                       file.Inode == static_cast<uint64_t>(inode)
                   ? EAdd::SameFile
                   : EAdd::OtherFile;
    }
    if (FRecords.size() >= UINT32_MAX - 1) {
        throw std::length_error("Příliš mnoho souborů pro jeden archiv");
    }
    const auto hash = static_cast<uint32_t>(HashName(name));
    TRecord record{0, 0, static_cast<uint32_t>(name.size()), hash, TFile{}};
    record.File.Device = static_cast<uint64_t>(device);
    record.File.Inode = static_cast<uint64_t>(inode);
    Store(name, record);
    index = static_cast<uint32_t>(FRecords.size());
    FRecords.push_back(record);
    const size_t mask = FSlots.size() - 1;
    size_t slot = hash & mask;
    while (FSlots[slot] != 0) {
        slot = (slot + 1) & mask;
    }
    FSlots[slot] = index + 1;
    return EAdd::Added;
}

std::string_view TStoredNames::Name(uint32_t index) const {
    const TRecord& record = FRecords[index];
    return {FBlocks[record.Block].get() + record.Offset, record.Length};
}

std::string_view TStoredNames::Store(std::string_view name, TRecord& record) {
    if (FBlocks.empty() || FUsed + name.size() > FBlockSizes.back()) {
        // A name longer than a block gets a block of its own.
        const size_t size = std::max(BLOCK_SIZE, name.size());
        FBlocks.push_back(std::make_unique<char[]>(size));
        FBlockSizes.push_back(size);
        FUsed = 0;
    }
    char* at = FBlocks.back().get() + FUsed;
    std::memcpy(at, name.data(), name.size());
    record.Block = static_cast<uint32_t>(FBlocks.size() - 1);
    record.Offset = static_cast<uint32_t>(FUsed);
    FUsed += name.size();
    return {at, name.size()};
}

void TStoredNames::Grow() {
    std::vector<uint32_t> slots(FSlots.empty() ? FIRST_SLOTS : FSlots.size() * 2, 0);
    const size_t mask = slots.size() - 1;
    for (size_t i = 0; i < FRecords.size(); ++i) {
        size_t slot = FRecords[i].Hash & mask;
        while (slots[slot] != 0) {
            slot = (slot + 1) & mask;
        }
        slots[slot] = static_cast<uint32_t>(i + 1);
    }
    FSlots = std::move(slots);
}

}  // namespace sejfko::zipengine

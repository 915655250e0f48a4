#include "restore/path_picks.hpp"

#include <stdexcept>

namespace sejfko {

namespace {

uint32_t HashPath(std::string_view path) {
    // FNV-1a; the index only needs the bytes spread.
    uint64_t hash = 0xcbf29ce484222325ull;
    for (const char c : path) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
    }
    return static_cast<uint32_t>(hash ^ (hash >> 32));
}

}  // namespace

std::size_t TPathPicks::Probe(std::string_view path, uint32_t hash) const {
    const std::size_t mask = FSlots.size() - 1;
    std::size_t slot = hash & mask;
    while (FSlots[slot] != 0) {
        const TRecord& record = FRecords[FSlots[slot] - 1];
        if (record.Hash == hash && std::string_view(record.Key, record.Length) == path) {
            break;
        }
        slot = (slot + 1) & mask;
    }
    return slot;
}

void TPathPicks::Rehash(std::size_t slots) {
    FSlots.assign(slots, 0);
    const std::size_t mask = slots - 1;
    for (std::size_t i = 0; i < FRecords.size(); ++i) {
        std::size_t slot = FRecords[i].Hash & mask;
        while (FSlots[slot] != 0) {
            slot = (slot + 1) & mask;
        }
        FSlots[slot] = static_cast<uint32_t>(i + 1);
    }
}

void TPathPicks::Reserve(std::size_t more) {
    const std::size_t records = FRecords.size() + more;
    if (records >= UINT32_MAX / 2) {
        throw std::length_error("too many paths");
    }
    FRecords.reserve(records);
    // At most half the slots taken: probes stay short.
    std::size_t slots = FSlots.empty() ? 1024 : FSlots.size();
    while (slots < 2 * records) {
        slots *= 2;
    }
    if (slots != FSlots.size()) {
        Rehash(slots);
    }
}

void TPathPicks::Set(std::string_view path, TPick pick) {
    if (path.size() > UINT32_MAX) {
        throw std::length_error("path too long");
    }
    if (2 * (FRecords.size() + 1) > FSlots.size()) {
        Reserve(FRecords.size() + 1);
    }
    const uint32_t hash = HashPath(path);
    const std::size_t slot = Probe(path, hash);
    if (FSlots[slot] != 0) {
        TRecord& record = FRecords[FSlots[slot] - 1];
        FLive += record.Pick.Archive == Erased ? 1 : 0;
        record.Key = path.data();
        record.Pick = pick;
        return;
    }
    FRecords.push_back(TRecord{path.data(), static_cast<uint32_t>(path.size()), hash, pick});
    FSlots[slot] = static_cast<uint32_t>(FRecords.size());
    ++FLive;
}

void TPathPicks::Erase(std::string_view path) {
    if (FSlots.empty()) {
        return;
    }
    const std::size_t slot = Probe(path, HashPath(path));
    if (FSlots[slot] != 0) {
        TRecord& record = FRecords[FSlots[slot] - 1];
        FLive -= record.Pick.Archive == Erased ? 0 : 1;
        record.Pick.Archive = Erased;
    }
}

bool TPathPicks::Contains(std::string_view path) const {
    if (FSlots.empty()) {
        return false;
    }
    const std::size_t slot = Probe(path, HashPath(path));
    return FSlots[slot] != 0 && FRecords[FSlots[slot] - 1].Pick.Archive != Erased;
}

void TPathPicks::Clear() {
    FRecords = {};
    FSlots = {};
    FLive = 0;
}

}  // namespace sejfko

// Records live in slots that are never moved while the list is in use: a deleted record leaves a
// dead slot behind, so deleting is O(log n) instead of shifting everything after it. A Fenwick
// tree over the live flags maps a logical index to its slot and back. When more than half the
// slots are dead they are squeezed out in one O(n) pass, which keeps every operation O(log n)
// amortised and memory proportional to the live records.
//
// A state may hold a million records, so they are kept compact: the names in large chunks that
// never move (freed as soon as all their names are deleted), a slot as a small fixed record, and
// the name index as one open-addressed table of slot numbers and hashes (linear probing, deletion
// by shifting back, no tombstones). Slots of one name are
// chained in ascending order from the one the table holds, so the first is the first match a
// linear scan would find.

#include "backup/file_list.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "backup/file_list_format.hpp"
#include "platform/file_io.hpp"

namespace sejfko {

namespace {

constexpr std::size_t NameChunkSize = 1 << 20;
constexpr int32_t NoSlot = -1;
constexpr uint32_t NoChunk = UINT32_MAX;         // a deleted slot
constexpr uint32_t EmptyChunk = UINT32_MAX - 1;  // a slot whose name is empty

struct TNameRef {
    uint32_t Chunk = NoChunk;
    uint32_t Offset = 0;
};

// Append-only storage of names whose bytes never move once written. Each chunk counts its live
// names, and one whose names are all deleted is freed at once: a state consumed in order (as a
// run does) gives its memory back while the new one grows.
class TNameArena {
public:
    TNameRef Store(std::string_view name) {
        if (name.empty()) {
            return {EmptyChunk, 0};
        }
        if (FChunks.empty() || name.size() > FChunks.back().Size - FChunks.back().Used) {
            if (!FChunks.empty() && FChunks.back().Live == 0) {
                Free(FChunks.back());
            }
            const std::size_t size = std::max(NameChunkSize, name.size());
            FChunks.push_back(TChunk{std::make_unique<char[]>(size), size, 0, 0});
            FAllocated += size;
        }
        TChunk& chunk = FChunks.back();
        std::memcpy(chunk.Bytes.get() + chunk.Used, name.data(), name.size());
        const TNameRef ref{static_cast<uint32_t>(FChunks.size() - 1),
                           static_cast<uint32_t>(chunk.Used)};
        chunk.Used += name.size();
        ++chunk.Live;
        FLive += name.size();
        return ref;
    }

    const char* At(TNameRef ref) const {
        return ref.Chunk == EmptyChunk ? nullptr : FChunks[ref.Chunk].Bytes.get() + ref.Offset;
    }

    void Release(TNameRef ref, std::size_t length) {
        if (ref.Chunk == EmptyChunk) {
            return;
        }
        TChunk& chunk = FChunks[ref.Chunk];
        FLive -= length;
        // The last chunk is still being filled: it goes when the next one is opened.
        if (--chunk.Live == 0 && ref.Chunk + 1 != FChunks.size()) {
            Free(chunk);
        }
    }

    // True when most of what is held belongs to deleted names.
    bool Sparse() const { return FAllocated > 2 * NameChunkSize && FLive * 2 < FAllocated; }

    void Clear() {
        FChunks.clear();
        FAllocated = 0;
        FLive = 0;
    }

private:
    struct TChunk {
        std::unique_ptr<char[]> Bytes;
        std::size_t Size;
        std::size_t Used;
        uint32_t Live;
    };

    void Free(TChunk& chunk) {
        FAllocated -= chunk.Size;
        chunk.Bytes.reset();
        chunk.Size = chunk.Used = 0;
    }

    std::vector<TChunk> FChunks;  // a freed chunk keeps its place, so references stay valid
    std::size_t FAllocated = 0;
    std::size_t FLive = 0;
};

struct TSlot {
    TNameRef Name;  // Chunk NoChunk: deleted
    uint32_t Length = 0;
    int32_t Stamp = 0;
    uint32_t Crc = 0;
    int32_t NextSame = NoSlot;  // the next live slot of the same name
    int32_t LastSame = NoSlot;  // in the first slot of a name: the last one of its chain
};

// The index keeps each name's hash beside its slot, so a probe that meets another name costs no
// visit to the slot and its name, and growing or shifting the table hashes nothing again.
struct TIndexEntry {
    int32_t Slot = NoSlot;
    uint32_t Hash = 0;
};

// Eight bytes a step, each folded in by a multiplication; the final mix spreads every input bit
// over the low bits the table uses.
uint32_t HashOf(std::string_view name) {
    uint64_t h = 0x9E3779B97F4A7C15ULL ^ name.size();
    const char* p = name.data();
    std::size_t left = name.size();
    for (; left >= 8; p += 8, left -= 8) {
        uint64_t word = 0;
        std::memcpy(&word, p, 8);
        h = (h ^ word) * 0xFF51AFD7ED558CCDULL;
        h ^= h >> 32;
    }
    uint64_t word = 0;
    if (left > 0) {
        std::memcpy(&word, p, left);
    }
    h = (h ^ word) * 0xC4CEB9FE1A85EC53ULL;
    h ^= h >> 29;
    h *= 0xFF51AFD7ED558CCDULL;
    h ^= h >> 32;
    return static_cast<uint32_t>(h);
}

}  // namespace

class TFileList::TImpl {
public:
    int Count() const { return FLiveCount; }

    int Add(std::string_view name, int32_t stamp, uint32_t crc) {
        const auto slot = static_cast<int32_t>(FSlots.size());
        TSlot record;
        record.Name = FNames.Store(name);
        record.Length = static_cast<uint32_t>(name.size());
        record.Stamp = stamp;
        record.Crc = crc;
        FSlots.push_back(record);
        TreeAppend(1);
        ++FLiveCount;
        if ((FIndexUsed + 1) * 2 > FIndex.size()) {
            Rehash(std::max<std::size_t>(64, FIndex.size() * 2));
        }
        const uint32_t hash = HashOf(name);
        Link(Find(name, hash), slot, hash);
        return FLiveCount - 1;
    }

    TFileItem At(int index) const {
        const TSlot& slot = FSlots[SlotOf(index)];
        return TFileItem{std::string(NameOf(slot)), slot.Stamp, slot.Crc};
    }

    int IndexOf(std::string_view name) const {
        if (FIndex.empty()) {
            return -1;
        }
        const int32_t slot = FIndex[Find(name, HashOf(name))].Slot;
        return slot == NoSlot ? -1 : Prefix(slot) - 1;
    }

    bool TakeFirst(std::string_view name, int32_t& stamp, uint32_t& crc) {
        if (FIndex.empty()) {
            return false;
        }
        const std::size_t position = Find(name, HashOf(name));
        const int32_t slot = FIndex[position].Slot;
        if (slot == NoSlot) {
            return false;
        }
        stamp = FSlots[slot].Stamp;
        crc = FSlots[slot].Crc;
        Remove(slot, position);
        return true;
    }

    void Delete(int index) {
        const int32_t slot = SlotOf(index);
        const std::string_view name = NameOf(FSlots[slot]);
        Remove(slot, Find(name, HashOf(name)));
    }

    template <typename TVisit>
    void ForEach(TVisit visit) const {
        TFileItem item;
        for (const TSlot& slot : FSlots) {
            if (slot.Name.Chunk != NoChunk) {
                item.Name.assign(NameOf(slot));
                item.Stamp = slot.Stamp;
                item.Crc = slot.Crc;
                visit(item);
            }
        }
    }

    void Clear() {
        FNames.Clear();
        FSlots.clear();
        FSlots.shrink_to_fit();
        FTree.clear();
        FTree.shrink_to_fit();
        FIndex.clear();
        FIndex.shrink_to_fit();
        FIndexUsed = 0;
        FLiveCount = 0;
    }

private:
    std::string_view NameOf(const TSlot& slot) const { return {FNames.At(slot.Name), slot.Length}; }

    std::size_t Mask() const { return FIndex.size() - 1; }

    // Deletes `slot`, whose name's first slot the index holds at `position`.
    void Remove(int32_t slot, std::size_t position) {
        const int32_t head = FIndex[position].Slot;
        if (head == slot) {
            const int32_t next = FSlots[slot].NextSame;
            if (next != NoSlot) {
                FIndex[position].Slot = next;
                FSlots[next].LastSame = FSlots[slot].LastSame;
            } else {
                RemoveAt(position);
            }
        } else {
            int32_t before = head;
            while (FSlots[before].NextSame != slot) {
                before = FSlots[before].NextSame;
            }
            FSlots[before].NextSame = FSlots[slot].NextSame;
            if (FSlots[head].LastSame == slot) {
                FSlots[head].LastSame = before;
            }
        }
        FNames.Release(FSlots[slot].Name, FSlots[slot].Length);
        FSlots[slot] = TSlot{};
        TreeAdd(slot, -1);
        --FLiveCount;
        if (FLiveCount == 0) {
            Clear();
        } else if (FSlots.size() > 64 && static_cast<std::size_t>(FLiveCount) * 2 < FSlots.size()) {
            Compact();
        }
    }

    // Puts `slot`, the newest of its name, into the index at `position` (from Find).
    void Link(std::size_t position, int32_t slot, uint32_t hash) {
        const int32_t head = FIndex[position].Slot;
        if (head == NoSlot) {
            FIndex[position] = TIndexEntry{slot, hash};
            FSlots[slot].LastSame = slot;
            ++FIndexUsed;
        } else {
            FSlots[FSlots[head].LastSame].NextSame = slot;
            FSlots[head].LastSame = slot;
        }
    }

    // The position holding `name`'s first slot, or the empty position where it would go.
    std::size_t Find(std::string_view name, uint32_t hash) const {
        std::size_t position = hash & Mask();
        for (;; position = (position + 1) & Mask()) {
            const TIndexEntry& entry = FIndex[position];
            if (entry.Slot == NoSlot ||
                (entry.Hash == hash && NameOf(FSlots[entry.Slot]) == name)) {
                return position;
            }
        }
    }

    // Empties `position`, moving later entries of the probe run back so that none is cut off.
    void RemoveAt(std::size_t position) {
        std::size_t hole = position;
        std::size_t next = (hole + 1) & Mask();
        while (FIndex[next].Slot != NoSlot) {
            const std::size_t home = FIndex[next].Hash & Mask();
            // Movable when its home does not lie cyclically in (hole, next].
            if (((next - home) & Mask()) >= ((next - hole) & Mask())) {
                FIndex[hole] = FIndex[next];
                hole = next;
            }
            next = (next + 1) & Mask();
        }
        FIndex[hole] = TIndexEntry{};
        --FIndexUsed;
    }

    void Rehash(std::size_t capacity) {
        std::vector<TIndexEntry> old = std::move(FIndex);
        FIndex.assign(std::bit_ceil(capacity), TIndexEntry{});
        for (const TIndexEntry& entry : old) {
            if (entry.Slot != NoSlot) {
                std::size_t position = entry.Hash & Mask();
                while (FIndex[position].Slot != NoSlot) {
                    position = (position + 1) & Mask();
                }
                FIndex[position] = entry;
            }
        }
    }

    // Fenwick tree, 1-based: FTree[i] sums the live flags of slots (i - lowbit(i), i].
    static int LowBit(int i) { return i & -i; }

    void TreeAppend(int value) {
        const int i = static_cast<int>(FTree.size()) + 1;
        int sum = value;
        for (int step = 1; step < LowBit(i); step <<= 1) {
            sum += FTree[i - step - 1];
        }
        FTree.push_back(sum);
    }

    void TreeAdd(int slot, int delta) {
        for (int i = slot + 1; i <= static_cast<int>(FTree.size()); i += LowBit(i)) {
            FTree[i - 1] += delta;
        }
    }

    // Live records in slots 0..slot.
    int Prefix(int slot) const {
        int sum = 0;
        for (int i = slot + 1; i > 0; i -= LowBit(i)) {
            sum += FTree[i - 1];
        }
        return sum;
    }

    // The slot of the index-th live record (index already checked).
    int SlotOf(int index) const {
        const int size = static_cast<int>(FTree.size());
        int high = 1;
        while (high * 2 <= size) {
            high *= 2;
        }
        int position = 0;
        int remaining = index + 1;
        for (int step = high; step > 0; step >>= 1) {
            const int next = position + step;
            if (next <= size && FTree[next - 1] < remaining) {
                position = next;
                remaining -= FTree[next - 1];
            }
        }
        // `position` is the last 1-based position whose prefix falls short: the answer is the
        // next one, which as a 0-based slot is `position` itself.
        return position;
    }

    // Squeezes the dead slots out in place, in order (so each name's chain stays ascending), and
    // rebuilds the tree and the index for the live ones. The names stay where they are unless
    // most of their chunks' bytes are dead; then they move into fresh chunks.
    void Compact() {
        std::size_t live = 0;
        for (const TSlot& slot : FSlots) {
            if (slot.Name.Chunk != NoChunk) {
                TSlot& kept = FSlots[live++];
                kept = slot;
                kept.NextSame = kept.LastSame = NoSlot;
            }
        }
        FSlots.resize(live);
        FSlots.shrink_to_fit();
        if (FNames.Sparse()) {
            TNameArena names;
            for (TSlot& slot : FSlots) {
                slot.Name = names.Store(NameOf(slot));
            }
            FNames = std::move(names);
        }
        FTree.clear();
        FTree.shrink_to_fit();
        FTree.reserve(live);
        FIndex.assign(std::bit_ceil(std::max<std::size_t>(64, live * 4)), TIndexEntry{});
        FIndexUsed = 0;
        for (std::size_t i = 0; i < live; ++i) {
            TreeAppend(1);
            const std::string_view name = NameOf(FSlots[i]);
            const uint32_t hash = HashOf(name);
            Link(Find(name, hash), static_cast<int32_t>(i), hash);
        }
        FLiveCount = static_cast<int>(live);
    }

    TNameArena FNames;
    std::vector<TSlot> FSlots;
    std::vector<int> FTree;
    std::vector<TIndexEntry> FIndex;  // size a power of two
    std::size_t FIndexUsed = 0;
    int FLiveCount = 0;
};

TFileList::TFileList() : FImpl(std::make_unique<TImpl>()) {}

TFileList::~TFileList() = default;

int TFileList::Add(std::string_view name, int32_t stamp, uint32_t crc) {
    return FImpl->Add(name, stamp, crc);
}

void TFileList::GetItem(int index, TFileItem& item) const {
    if (index < 0 || index >= FImpl->Count()) {
        throw EFileListRangeError("File item index is out of range");
    }
    item = FImpl->At(index);
}

int TFileList::IndexOf(std::string_view name) const {
    return FImpl->IndexOf(name);
}

bool TFileList::TakeFirst(std::string_view name, int32_t& stamp, uint32_t& crc) {
    return FImpl->TakeFirst(name, stamp, crc);
}

int TFileList::Count() const {
    return FImpl->Count();
}

void TFileList::Delete(int index) {
    if (index < 0 || index >= FImpl->Count()) {
        throw EListError(ListIndexMessage(index));
    }
    FImpl->Delete(index);
}

void TFileList::Clear() {
    FImpl->Clear();
}

bool TFileList::LoadFromFile(const std::string& fileName) {
    Clear();
    if (!ReadFileListRecords(fileName, [this](const std::string& name, int32_t stamp,
                                              uint32_t crc) { FImpl->Add(name, stamp, crc); })) {
        return false;
    }
    return Count() > 0;
}

void TFileList::SaveToFile(const std::string& fileName) const {
    TAtomicFileWriter writer(fileName);
    std::string record;
    FImpl->ForEach([&](const TFileItem& item) {
        if (FormatFileListRecord(item, record)) {
            writer.Write(record);
        }
    });
    writer.Commit();
}

}  // namespace sejfko

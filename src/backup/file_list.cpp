// Records live in slots that are never moved while the list is in use: a deleted record leaves a
// dead slot behind, so deleting is O(log n) instead of shifting everything after it. A Fenwick
// tree over the live flags maps a logical index to its slot and back. When more than half the
// slots are dead they are squeezed out in one O(n) pass, which keeps every operation O(log n)
// amortised and memory proportional to the live records.
//
// A state may hold a million records, so they are kept compact: the names in large chunks that
// never move, a slot as a small fixed record, and the name index as one open-addressed table of
// slot numbers (linear probing, deletion by shifting back, no tombstones). Slots of one name are
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

// Append-only storage of names whose bytes never move once written.
class TNameArena {
public:
    std::string_view Store(std::string_view name) {
        if (name.size() > FFree) {
            const std::size_t size = std::max(NameChunkSize, name.size());
            FChunks.push_back(std::make_unique<char[]>(size));
            FNext = FChunks.back().get();
            FFree = size;
        }
        if (!name.empty()) {
            std::memcpy(FNext, name.data(), name.size());
        }
        const std::string_view stored(FNext, name.size());
        FNext += name.size();
        FFree -= name.size();
        return stored;
    }

    void Clear() {
        FChunks.clear();
        FNext = nullptr;
        FFree = 0;
    }

private:
    std::vector<std::unique_ptr<char[]>> FChunks;
    char* FNext = nullptr;
    std::size_t FFree = 0;
};

struct TSlot {
    const char* Name = nullptr;  // in the arena; null = deleted
    uint32_t Length = 0;
    int32_t Stamp = 0;
    uint32_t Crc = 0;
    int32_t NextSame = NoSlot;  // the next live slot of the same name
    int32_t LastSame = NoSlot;  // in the first slot of a name: the last one of its chain
};

uint32_t HashOf(std::string_view name) {
    return static_cast<uint32_t>(std::hash<std::string_view>{}(name));
}

}  // namespace

class TFileList::TImpl {
public:
    int Count() const { return FLiveCount; }

    int Add(std::string_view name, int32_t stamp, uint32_t crc) {
        const auto slot = static_cast<int32_t>(FSlots.size());
        TSlot record;
        const std::string_view stored = FNames.Store(name);
        record.Name = stored.empty() ? EmptyName : stored.data();
        record.Length = static_cast<uint32_t>(stored.size());
        record.Stamp = stamp;
        record.Crc = crc;
        FSlots.push_back(record);
        TreeAppend(1);
        ++FLiveCount;
        if ((FIndexUsed + 1) * 2 > FIndex.size()) {
            Rehash(std::max<std::size_t>(64, FIndex.size() * 2));
        }
        Link(Find(name), slot);
        return FLiveCount - 1;
    }

    TFileItem At(int index) const {
        const TSlot& slot = FSlots[SlotOf(index)];
        return TFileItem{std::string(NameOf(slot)), slot.Stamp, slot.Crc};
    }

    int IndexOf(const std::string& name) const {
        if (FIndex.empty()) {
            return -1;
        }
        const int32_t slot = FIndex[Find(name)];
        return slot == NoSlot ? -1 : Prefix(slot) - 1;
    }

    void Delete(int index) {
        const int32_t slot = SlotOf(index);
        const std::size_t position = Find(NameOf(FSlots[slot]));
        const int32_t head = FIndex[position];
        if (head == slot) {
            const int32_t next = FSlots[slot].NextSame;
            if (next != NoSlot) {
                FIndex[position] = next;
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
        FSlots[slot] = TSlot{};
        TreeAdd(slot, -1);
        --FLiveCount;
        if (FLiveCount == 0) {
            Clear();
        } else if (FSlots.size() > 64 && static_cast<std::size_t>(FLiveCount) * 2 < FSlots.size()) {
            Compact();
        }
    }

    template <typename TVisit>
    void ForEach(TVisit visit) const {
        TFileItem item;
        for (const TSlot& slot : FSlots) {
            if (slot.Name != nullptr) {
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
    static constexpr char EmptyName[1] = {0};

    static std::string_view NameOf(const TSlot& slot) { return {slot.Name, slot.Length}; }

    std::size_t Mask() const { return FIndex.size() - 1; }

    // Puts `slot`, the newest of its name, into the index at `position` (from Find).
    void Link(std::size_t position, int32_t slot) {
        const int32_t head = FIndex[position];
        if (head == NoSlot) {
            FIndex[position] = slot;
            FSlots[slot].LastSame = slot;
            ++FIndexUsed;
        } else {
            FSlots[FSlots[head].LastSame].NextSame = slot;
            FSlots[head].LastSame = slot;
        }
    }

    // The position holding `name`'s first slot, or the empty position where it would go.
    std::size_t Find(std::string_view name) const {
        std::size_t position = HashOf(name) & Mask();
        while (FIndex[position] != NoSlot && NameOf(FSlots[FIndex[position]]) != name) {
            position = (position + 1) & Mask();
        }
        return position;
    }

    // Empties `position`, moving later entries of the probe run back so that none is cut off.
    void RemoveAt(std::size_t position) {
        std::size_t hole = position;
        std::size_t next = (hole + 1) & Mask();
        while (FIndex[next] != NoSlot) {
            const std::size_t home = HashOf(NameOf(FSlots[FIndex[next]])) & Mask();
            // Movable when its home does not lie cyclically in (hole, next].
            if (((next - home) & Mask()) >= ((next - hole) & Mask())) {
                FIndex[hole] = FIndex[next];
                hole = next;
            }
            next = (next + 1) & Mask();
        }
        FIndex[hole] = NoSlot;
        --FIndexUsed;
    }

    void Rehash(std::size_t capacity) {
        std::vector<int32_t> old = std::move(FIndex);
        FIndex.assign(std::bit_ceil(capacity), NoSlot);
        for (const int32_t slot : old) {
            if (slot != NoSlot) {
                FIndex[Find(NameOf(FSlots[slot]))] = slot;
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

    // Rebuilds everything from the live records: names into fresh chunks, slots renumbered in
    // the same order (so each name's chain stays ascending).
    void Compact() {
        std::vector<TSlot> live;
        live.reserve(static_cast<std::size_t>(FLiveCount));
        TNameArena names;
        for (const TSlot& slot : FSlots) {
            if (slot.Name != nullptr) {
                TSlot copy = slot;
                const std::string_view stored = names.Store(NameOf(slot));
                copy.Name = stored.empty() ? EmptyName : stored.data();
                copy.NextSame = copy.LastSame = NoSlot;
                live.push_back(copy);
            }
        }
        const std::size_t capacity = FIndex.size();
        Clear();
        FNames = std::move(names);
        FSlots = std::move(live);
        FTree.reserve(FSlots.size());
        FIndex.assign(capacity, NoSlot);
        for (std::size_t i = 0; i < FSlots.size(); ++i) {
            TreeAppend(1);
            Link(Find(NameOf(FSlots[i])), static_cast<int32_t>(i));
        }
        FLiveCount = static_cast<int>(FSlots.size());
    }

    TNameArena FNames;
    std::vector<TSlot> FSlots;
    std::vector<int> FTree;
    std::vector<int32_t> FIndex;  // slot numbers, NoSlot = empty; size a power of two
    std::size_t FIndexUsed = 0;
    int FLiveCount = 0;
};

TFileList::TFileList() : FImpl(std::make_unique<TImpl>()) {}

TFileList::~TFileList() = default;

int TFileList::Add(const std::string& name, int32_t stamp, uint32_t crc) {
    return FImpl->Add(name, stamp, crc);
}

void TFileList::GetItem(int index, TFileItem& item) const {
    if (index < 0 || index >= FImpl->Count()) {
        throw EFileListRangeError("File item index is out of range");
    }
    item = FImpl->At(index);
}

int TFileList::IndexOf(const std::string& name) const {
    return FImpl->IndexOf(name);
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
    if (!ReadFileListRecords(fileName, [this](std::string name, int32_t stamp, uint32_t crc) {
            FImpl->Add(name, stamp, crc);
        })) {
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

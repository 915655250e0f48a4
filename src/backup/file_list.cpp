// Records live in slots that are never moved while the list is in use: a deleted record leaves a
// dead slot behind, so deleting is O(log n) instead of shifting everything after it. A Fenwick
// tree over the live flags maps a logical index to its slot and back; the name index maps each
// name to its live slots in ascending order, so its first slot is the first match a linear scan
// would find. When more than half the slots are dead they are squeezed out in one O(n) pass,
// which keeps every operation O(log n) amortised and memory proportional to the live records.

#include "backup/file_list.hpp"

#include <string_view>
#include <unordered_map>
#include <vector>

#include "backup/file_list_format.hpp"
#include "platform/file_io.hpp"

namespace sejfko {

namespace {

// Slots of one name, ascending. Names are nearly always unique, so the first slot is kept
// inline and the vector stays unallocated.
struct TNameSlots {
    int First = 0;
    std::vector<int> Rest;
};

}  // namespace

class TFileList::TImpl {
public:
    int Count() const { return FLiveCount; }

    int Add(std::string name, int32_t stamp, uint32_t crc) {
        const int slot = static_cast<int>(FSlots.size());
        auto item = std::make_unique<TFileItem>();
        item->Name = std::move(name);
        item->Stamp = stamp;
        item->Crc = crc;
        // The key views the record's own string, which stays put for the record's lifetime.
        auto [it, inserted] =
            FByName.try_emplace(std::string_view(item->Name), TNameSlots{slot, {}});
        if (!inserted) {
            it->second.Rest.push_back(slot);
        }
        FSlots.push_back(std::move(item));
        TreeAppend(1);
        ++FLiveCount;
        return FLiveCount - 1;
    }

    const TFileItem& At(int index) const { return *FSlots[SlotOf(index)]; }

    int IndexOf(const std::string& name) const {
        const auto it = FByName.find(std::string_view(name));
        if (it == FByName.end()) {
            return -1;
        }
        return Prefix(it->second.First) - 1;
    }

    void Delete(int index) {
        const int slot = SlotOf(index);
        auto it = FByName.find(std::string_view(FSlots[slot]->Name));
        TNameSlots& slots = it->second;
        if (slots.First == slot) {
            if (slots.Rest.empty()) {
                FByName.erase(it);
            } else {
                slots.First = slots.Rest.front();
                slots.Rest.erase(slots.Rest.begin());
                // The key views the name of the record going away: re-seat it on the new first.
                auto node = FByName.extract(it);
                node.key() = std::string_view(FSlots[slots.First]->Name);
                FByName.insert(std::move(node));
            }
        } else {
            std::erase(slots.Rest, slot);
        }
        FSlots[slot].reset();
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
        for (const auto& item : FSlots) {
            if (item) {
                visit(*item);
            }
        }
    }

    void Clear() {
        FByName.clear();
        FSlots.clear();
        FTree.clear();
        FLiveCount = 0;
    }

private:
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

    void Compact() {
        std::vector<int> newSlot(FSlots.size(), -1);
        std::size_t live = 0;
        for (std::size_t slot = 0; slot < FSlots.size(); ++slot) {
            if (FSlots[slot]) {
                newSlot[slot] = static_cast<int>(live);
                FSlots[live++] = std::move(FSlots[slot]);
            }
        }
        FSlots.resize(live);
        FSlots.shrink_to_fit();
        // Renumbering keeps each name's slots ascending, as the order of records is unchanged.
        for (auto& [name, slots] : FByName) {
            slots.First = newSlot[slots.First];
            for (int& slot : slots.Rest) {
                slot = newSlot[slot];
            }
        }
        FTree.clear();
        FTree.reserve(live);
        for (std::size_t i = 0; i < live; ++i) {
            TreeAppend(1);
        }
    }

    std::vector<std::unique_ptr<TFileItem>> FSlots;  // null = deleted
    std::vector<int> FTree;
    std::unordered_map<std::string_view, TNameSlots> FByName;
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
            FImpl->Add(std::move(name), stamp, crc);
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

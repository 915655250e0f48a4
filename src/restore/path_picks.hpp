#pragma once
// Where the final version of each restored path comes from: a map from path to (archive, entry)
// for a chain of a million entries. Fixed 24-byte records and an open-addressing index of
// 4-byte slots, no allocation per path; the keys are views into storage the caller keeps alive
// (the archives' directories, or its own list of renamed paths).

#include <cstdint>
#include <string_view>
#include <vector>

namespace sejfko {

struct TPick {
    uint32_t Archive = 0;
    uint32_t Entry = 0;
};

class TPathPicks {
public:
    // Room for `more` paths beyond those held, so that adding them moves nothing.
    void Reserve(std::size_t more);
    // The path's pick is now `pick` (its key now viewing `path`).
    void Set(std::string_view path, TPick pick);
    void Erase(std::string_view path);
    bool Contains(std::string_view path) const;
    std::size_t Size() const { return FLive; }

    // Calls fn(path, pick) for every path held, in no particular order.
    template <typename TFn>
    void ForEach(TFn fn) const {
        for (const TRecord& record : FRecords) {
            if (record.Pick.Archive != Erased) {
                fn(std::string_view(record.Key, record.Length), record.Pick);
            }
        }
    }

    // Gives the memory back.
    void Clear();

private:
    static constexpr uint32_t Erased = UINT32_MAX;
    struct TRecord {
        const char* Key;
        uint32_t Length;
        uint32_t Hash;
        TPick Pick;  // Archive == Erased: no longer held (the slot stays, for the probes)
    };

    // The slot that holds `path`, or the free slot where it would go.
    std::size_t Probe(std::string_view path, uint32_t hash) const;
    void Rehash(std::size_t slots);

    std::vector<TRecord> FRecords;
    std::vector<uint32_t> FSlots;  // record index + 1; 0 is free
    std::size_t FLive = 0;
};

}  // namespace sejfko

#pragma once
// An append-only array of records in blocks of 1 MiB: growing never copies, so the peak stays at
// the records' size, and blocks that large are mapped on their own by the allocator and handed
// back to the system when the batch ends (a deque's small nodes stay in the heap).

#include <cstddef>
#include <memory>
#include <type_traits>
#include <vector>

namespace sejfko::zipengine {

template <typename T>
class TBlockVector {
    static_assert(std::is_trivially_copyable_v<T>);
    static constexpr size_t PER_BLOCK = (1u << 20) / sizeof(T);

public:
    void push_back(const T& value) {
        if (FSize == FBlocks.size() * PER_BLOCK) {
            FBlocks.push_back(std::make_unique_for_overwrite<T[]>(PER_BLOCK));
        }
        FBlocks[FSize / PER_BLOCK][FSize % PER_BLOCK] = value;
        ++FSize;
    }
    T& operator[](size_t index) { return FBlocks[index / PER_BLOCK][index % PER_BLOCK]; }
    const T& operator[](size_t index) const {
        return FBlocks[index / PER_BLOCK][index % PER_BLOCK];
    }
    size_t size() const { return FSize; }

private:
    std::vector<std::unique_ptr<T[]>> FBlocks;
    size_t FSize = 0;
};

}  // namespace sejfko::zipengine

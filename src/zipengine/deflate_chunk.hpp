#pragma once
// One piece of a file's data, compressed independently. Pieces of one file joined in order form
// a single valid deflate stream: every piece but the last ends without the final-block bit and is
// padded to a byte boundary with an empty stored block. Safe to call from any thread.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

struct libdeflate_compressor;

namespace sejfko::zipengine {

// An allocator whose resize() leaves new bytes uninitialised: the buffers of a job are filled
// right after they grow, and zeroing them first cost a few percent of the engine's time.
template <typename T>
struct TNoInitAllocator : std::allocator<T> {
    TNoInitAllocator() = default;
    template <typename U>
    TNoInitAllocator(const TNoInitAllocator<U>&) noexcept {}
    template <typename U>
    struct rebind {
        using other = TNoInitAllocator<U>;
    };
    template <typename U>
    void construct(U* place) noexcept {
        ::new (static_cast<void*>(place)) U;
    }
    template <typename U, typename... TArgs>
    void construct(U* place, TArgs&&... args) {
        ::new (static_cast<void*>(place)) U(std::forward<TArgs>(args)...);
    }
};
using TBuffer = std::vector<uint8_t, TNoInitAllocator<uint8_t>>;

// The libdeflate level (1..12) used for the command's level 1..9.
int DeflateLevel(int commandLevel);

// One thread's compressors, one per level, kept for the whole batch: allocating one costs more
// than compressing a small file. Not thread-safe: each thread has its own.
class TCompressors {
public:
    // Null when memory is short.
    libdeflate_compressor* Get(int level);

private:
    struct TFree {
        void operator()(libdeflate_compressor* compressor) const;
    };
    std::array<std::unique_ptr<libdeflate_compressor, TFree>, 13> FCache;
};

// Compresses `size` bytes at libdeflate level `level` into `output` (replaced). With `last` false
// the result is joinable (see above). Returns false only when the compressor cannot be had.
bool CompressChunk(TCompressors& compressors, const uint8_t* data, size_t size, int level,
                   bool last, TBuffer& output);
// The same with compressors of its own (tests, one-off use).
bool CompressChunk(const std::vector<uint8_t>& input, int level, bool last,
                   std::vector<uint8_t>& output);

// Clears the final-block bit of a complete raw deflate stream and appends an empty stored block,
// so that another stream may follow. Returns false when `data` is not a complete deflate stream.
bool MakeJoinable(std::vector<uint8_t>& data);
bool MakeJoinable(TBuffer& data);

}  // namespace sejfko::zipengine

#include "zipengine/deflate_chunk.hpp"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <memory>

namespace sejfko::zipengine {

void TCompressors::TFree::operator()(libdeflate_compressor* compressor) const {
    libdeflate_free_compressor(compressor);
}

libdeflate_compressor* TCompressors::Get(int level) {
    auto& slot = FCache.at(static_cast<size_t>(level));
    if (!slot) {
        slot.reset(libdeflate_alloc_compressor(level));
    }
    return slot.get();
}

int DeflateLevel(int commandLevel) {
    // Measured on a mixed corpus: each of libdeflate's levels 1..7 buys size for its time, and 7
    // is already smaller than zlib's level 9. Level 8 saves 0.2% more for 60% more time and 10
    // saves 1.5% for five times the time, which would lose the default's speed, so 8 and 9 stay
    // at 7.
    static constexpr std::array<int, 10> map = {0, 1, 2, 3, 4, 5, 6, 7, 7, 7};
    return map.at(static_cast<size_t>(std::clamp(commandLevel, 1, 9)));
}

bool CompressChunk(TCompressors& compressors, const uint8_t* data, size_t size, int level,
                   bool last, TBuffer& output) {
    libdeflate_compressor* compressor = compressors.Get(level);
    if (compressor == nullptr) {
        return false;
    }
    output.resize(libdeflate_deflate_compress_bound(compressor, size) + 8);
    const size_t written =
        libdeflate_deflate_compress(compressor, data, size, output.data(), output.size());
    output.resize(written);
    return written != 0 && (last || MakeJoinable(output));
}

bool CompressChunk(const std::vector<uint8_t>& input, int level, bool last,
                   std::vector<uint8_t>& output) {
    TCompressors compressors;
    TBuffer buffer;
    const bool done = CompressChunk(compressors, input.data(), input.size(), level, last, buffer);
    output.assign(buffer.begin(), buffer.end());
    return done;
}

namespace {

template <typename TVector>
bool MakeVectorJoinable(TVector& data) {
    if (data.empty()) {
        return false;
    }
    z_stream stream{};
    if (inflateInit2(&stream, -15) != Z_OK) {
        return false;
    }
    stream.next_in = data.data();
    stream.avail_in = static_cast<uInt>(data.size());
    // Where the header of the block being decoded starts: its first bit is the final-block bit.
    size_t finalByte = 0;
    uint8_t finalMask = 1;
    std::array<uint8_t, 1 << 16> scratch{};
    int result = Z_OK;
    int unused = 0;
    for (;;) {
        stream.next_out = scratch.data();
        stream.avail_out = scratch.size();
        result = inflate(&stream, Z_BLOCK);
        if (result != Z_OK) {
            break;
        }
        if ((stream.data_type & 128) == 0) {
            continue;
        }
        // At a block boundary: after the final block, the unused bits of its last byte (the
        // end of stream reports none, having skipped to the byte); after any other block, the
        // next block's header starts at the first unused bit.
        if ((stream.data_type & 64) != 0) {
            unused = stream.data_type & 7;
        } else {
            const int bits = stream.data_type & 7;
            const size_t consumed = data.size() - stream.avail_in;
            if (bits != 0) {
                finalByte = consumed - 1;
                finalMask = static_cast<uint8_t>(0x100 >> bits);
            } else {
                finalByte = consumed;
                finalMask = 1;
            }
        }
    }
    const bool complete = result == Z_STREAM_END && stream.avail_in == 0;
    inflateEnd(&stream);
    if (!complete || finalByte >= data.size()) {
        return false;
    }
    data[finalByte] &= static_cast<uint8_t>(~finalMask);
    // An empty stored block: three zero header bits, padding to the byte, then LEN 0, NLEN ~0.
    data.back() &= static_cast<uint8_t>(0xFF >> unused);
    if (unused < 3) {
        data.push_back(0);
    }
    for (const uint8_t b : {0x00, 0x00, 0xFF, 0xFF}) {
        data.push_back(b);
    }
    return true;
}

}  // namespace

bool MakeJoinable(std::vector<uint8_t>& data) {
    return MakeVectorJoinable(data);
}

bool MakeJoinable(TBuffer& data) {
    return MakeVectorJoinable(data);
}

}  // namespace sejfko::zipengine

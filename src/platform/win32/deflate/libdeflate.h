#pragma once
// The few libdeflate functions the engine and the checksums use, over zlib: Debian ships zlib,
// not libdeflate, for Windows. Same contracts: whole-buffer raw deflate (one final block run),
// 0 when the output does not fit; CRC-32 continued from a previous value.

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <new>

struct libdeflate_compressor {
    int level;
};

inline libdeflate_compressor* libdeflate_alloc_compressor(int level) {
    return new (std::nothrow) libdeflate_compressor{level < 1 ? 1 : (level > 9 ? 9 : level)};
}

inline void libdeflate_free_compressor(libdeflate_compressor* compressor) { delete compressor; }

inline size_t libdeflate_deflate_compress_bound(libdeflate_compressor*, size_t size) {
    // zlib's deflateBound for raw streams, with room for the stored-block fallback.
    return size + (size >> 12) + (size >> 14) + (size >> 25) + 64;
}

inline size_t libdeflate_deflate_compress(libdeflate_compressor* compressor, const void* in,
                                          size_t inSize, void* out, size_t outSize) {
    z_stream stream{};
    if (deflateInit2(&stream, compressor->level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
        return 0;
    }
    stream.next_in = static_cast<Bytef*>(const_cast<void*>(in));
    stream.next_out = static_cast<Bytef*>(out);
    // zlib counts in 32 bits: feed pieces of at most 1 GiB.
    size_t left = inSize;
    size_t room = outSize;
    int status = Z_OK;
    while (true) {
        const uInt feed = static_cast<uInt>(left < (1u << 30) ? left : (1u << 30));
        const uInt space = static_cast<uInt>(room < (1u << 30) ? room : (1u << 30));
        stream.avail_in = feed;
        stream.avail_out = space;
        status = deflate(&stream, feed == left ? Z_FINISH : Z_NO_FLUSH);
        left -= feed - stream.avail_in;
        room -= space - stream.avail_out;
        if (status != Z_OK || room == 0) {
            break;
        }
    }
    const size_t written = outSize - room;
    deflateEnd(&stream);
    return status == Z_STREAM_END ? written : 0;
}

inline uint32_t libdeflate_crc32(uint32_t crc, const void* data, size_t size) {
    const auto* bytes = static_cast<const Bytef*>(data);
    uLong value = crc;
    while (size > 0) {
        const uInt piece = static_cast<uInt>(size < (1u << 30) ? size : (1u << 30));
        value = crc32(value, bytes, piece);
        bytes += piece;
        size -= piece;
    }
    return static_cast<uint32_t>(value);
}

#include "zipengine/zip_format.hpp"

#include <algorithm>
#include <limits>

#include "archive/aes_zip.hpp"

namespace sejfko::zipengine {

namespace {

constexpr uint16_t VERSION_MADE_BY = (3 << 8) | 63;  // Unix, APPNOTE 6.3
constexpr uint16_t FLAG_UTF8 = 1 << 11;

void Put16(TBytes& out, uint64_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(TBytes& out, uint64_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, (value >> 16) & 0xFFFF);
}

void Put64(TBytes& out, uint64_t value) {
    Put32(out, value & 0xFFFFFFFFu);
    Put32(out, value >> 32);
}

uint16_t VersionNeeded(const TZipEntry& entry, bool zip64) {
    if (entry.Encrypted) {
        return 51;  // APPNOTE: AES encryption
    }
    if (zip64) {
        return 45;
    }
    return entry.Method == zmDeflated ? 20 : 10;
}

// Extended timestamp with the modification time only; the same form in both headers.
void PutTimestamp(TBytes& out, int64_t mtime) {
    constexpr int64_t lo = std::numeric_limits<int32_t>::min();
    constexpr int64_t hi = std::numeric_limits<int32_t>::max();
    Put16(out, 0x5455);
    Put16(out, 5);
    out.push_back(1);
    Put32(out, static_cast<uint32_t>(static_cast<int32_t>(std::clamp(mtime, lo, hi))));
}

uint16_t Flags(const TZipEntry& entry) {
    return NameFlags(entry.Name) | (entry.Encrypted ? 1 : 0);
}

uint16_t HeaderMethod(const TZipEntry& entry) {
    return entry.Encrypted ? aeszip::MethodAes : entry.Method;
}

size_t AesFieldSize(const TZipEntry& entry) {
    return entry.Encrypted ? 4 + aeszip::ExtraDataSize : 0;
}

void PutAesField(TBytes& out, const TZipEntry& entry) {
    if (!entry.Encrypted) {
        return;
    }
    Put16(out, aeszip::ExtraId);
    Put16(out, aeszip::ExtraDataSize);
    Put16(out, aeszip::VendorAe2);
    out.push_back('A');
    out.push_back('E');
    out.push_back(aeszip::Strength256);
    Put16(out, entry.Method);
}

uint64_t Field32(uint64_t value) {
    return value >= ZIP32_LIMIT ? ZIP32_LIMIT : value;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<uint8_t>(text[i]);
        size_t more = 0;
        uint32_t code = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
            code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            code = c & 0x07;
        } else {
            return false;
        }
        if (i + more >= text.size()) {
            return false;
        }
        for (size_t k = 1; k <= more; ++k) {
            const auto t = static_cast<uint8_t>(text[i + k]);
            if ((t & 0xC0) != 0x80) {
                return false;
            }
            code = (code << 6) | (t & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if ((more == 2 && code < 0x800) || (more == 3 && code < 0x10000) || code > 0x10FFFF ||
            (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += more + 1;
    }
    return true;
}

uint16_t NameFlags(std::string_view name) {
    const bool ascii =
        std::all_of(name.begin(), name.end(), [](char c) { return (c & 0x80) == 0; });
    return !ascii && IsValidUtf8(name) ? FLAG_UTF8 : 0;
}

uint32_t DosDateTime(std::time_t when) {
    std::tm tm{};
    if (localtime_r(&when, &tm) == nullptr || tm.tm_year < 80) {
        return (1u << 5 | 1u) << 16;  // 1980-01-01 00:00
    }
    if (tm.tm_year > 207) {
        tm = std::tm{};
        tm.tm_year = 207;
        tm.tm_mon = 11;
        tm.tm_mday = 31;
        tm.tm_hour = 23;
        tm.tm_min = 59;
        tm.tm_sec = 58;
    }
    const uint32_t date =
        static_cast<uint32_t>((tm.tm_year - 80) << 9 | (tm.tm_mon + 1) << 5 | tm.tm_mday);
    const uint32_t time =
        static_cast<uint32_t>(tm.tm_hour << 11 | tm.tm_min << 5 | std::min(tm.tm_sec, 59) / 2);
    return date << 16 | time;
}

TBytes LocalCrcAndSizes(const TZipEntry& entry) {
    TBytes out;
    Put32(out, entry.Crc);
    if (entry.LocalZip64) {
        Put32(out, ZIP32_LIMIT);
        Put32(out, ZIP32_LIMIT);
    } else {
        Put32(out, entry.CompressedSize);
        Put32(out, entry.Size);
    }
    return out;
}

TBytes LocalZip64Sizes(const TZipEntry& entry) {
    TBytes out;
    Put64(out, entry.Size);
    Put64(out, entry.CompressedSize);
    return out;
}

size_t LocalSizesOffset(const TZipEntry& entry) {
    return 30 + entry.Name.size() + 4;
}

TBytes LocalHeader(const TZipEntry& entry) {
    TBytes out;
    out.reserve(30 + entry.Name.size() + 29);
    const uint32_t dos = DosDateTime(static_cast<std::time_t>(entry.MTime));
    Put32(out, 0x04034b50);
    Put16(out, VersionNeeded(entry, entry.LocalZip64));
    Put16(out, Flags(entry));
    Put16(out, HeaderMethod(entry));
    Put32(out, dos);
    const TBytes fields = LocalCrcAndSizes(entry);
    out.insert(out.end(), fields.begin(), fields.end());
    Put16(out, entry.Name.size());
    Put16(out, (entry.LocalZip64 ? 20 : 0) + 9 + AesFieldSize(entry));
    out.insert(out.end(), entry.Name.begin(), entry.Name.end());
    if (entry.LocalZip64) {
        // APPNOTE: the local Zip64 field holds the original size first, then the compressed.
        Put16(out, 0x0001);
        Put16(out, 16);
        const TBytes sizes = LocalZip64Sizes(entry);
        out.insert(out.end(), sizes.begin(), sizes.end());
    }
    PutTimestamp(out, entry.MTime);
    PutAesField(out, entry);
    return out;
}

TBytes CentralHeader(const TZipEntry& entry) {
    TBytes zip64;
    if (entry.Size >= ZIP32_LIMIT) {
        Put64(zip64, entry.Size);
    }
    if (entry.CompressedSize >= ZIP32_LIMIT) {
        Put64(zip64, entry.CompressedSize);
    }
    if (entry.LocalOffset >= ZIP32_LIMIT) {
        Put64(zip64, entry.LocalOffset);
    }
    TBytes out;
    out.reserve(46 + entry.Name.size() + 9 + 4 + zip64.size());
    Put32(out, 0x02014b50);
    Put16(out, VERSION_MADE_BY);
    Put16(out, VersionNeeded(entry, !zip64.empty() || entry.LocalZip64));
    Put16(out, Flags(entry));
    Put16(out, HeaderMethod(entry));
    Put32(out, DosDateTime(static_cast<std::time_t>(entry.MTime)));
    Put32(out, entry.Crc);
    Put32(out, Field32(entry.CompressedSize));
    Put32(out, Field32(entry.Size));
    Put16(out, entry.Name.size());
    Put16(out, (zip64.empty() ? 0 : 4 + zip64.size()) + 9 + AesFieldSize(entry));
    Put16(out, 0);  // comment
    Put16(out, 0);  // disk
    Put16(out, 0);  // internal attributes
    Put32(out, static_cast<uint64_t>(entry.Mode) << 16);
    Put32(out, Field32(entry.LocalOffset));
    out.insert(out.end(), entry.Name.begin(), entry.Name.end());
    if (!zip64.empty()) {
        Put16(out, 0x0001);
        Put16(out, zip64.size());
        out.insert(out.end(), zip64.begin(), zip64.end());
    }
    PutTimestamp(out, entry.MTime);
    PutAesField(out, entry);
    return out;
}

TBytes EndRecords(uint64_t count, uint64_t centralOffset, uint64_t centralSize,
                  uint64_t endOffset) {
    TBytes out;
    const bool zip64 =
        count >= ZIP16_LIMIT || centralOffset >= ZIP32_LIMIT || centralSize >= ZIP32_LIMIT;
    if (zip64) {
        Put32(out, 0x06064b50);
        Put64(out, 44);
        Put16(out, VERSION_MADE_BY);
        Put16(out, 45);
        Put32(out, 0);
        Put32(out, 0);
        Put64(out, count);
        Put64(out, count);
        Put64(out, centralSize);
        Put64(out, centralOffset);
        Put32(out, 0x07064b50);
        Put32(out, 0);
        Put64(out, endOffset);
        Put32(out, 1);
    }
    Put32(out, 0x06054b50);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, std::min(count, ZIP16_LIMIT));
    Put16(out, std::min(count, ZIP16_LIMIT));
    Put32(out, Field32(centralSize));
    Put32(out, Field32(centralOffset));
    Put16(out, 0);
    return out;
}

}  // namespace sejfko::zipengine

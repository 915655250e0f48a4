#pragma once
// What the zip reader's parts share: record signatures and sizes, little-endian field access and
// the one place where its error messages are worded.

#include <cstdint>
#include <cstring>
#include <string>

namespace sejfko::zipread {

constexpr uint32_t LocalHeaderSignature = 0x04034b50;
constexpr uint32_t CentralHeaderSignature = 0x02014b50;
constexpr uint32_t EndSignature = 0x06054b50;
constexpr uint32_t Zip64EndSignature = 0x06064b50;
constexpr uint32_t Zip64LocatorSignature = 0x07064b50;

constexpr std::size_t LocalHeaderSize = 30;
constexpr std::size_t CentralHeaderSize = 46;
constexpr std::size_t EndSize = 22;
constexpr std::size_t Zip64EndSize = 56;
constexpr std::size_t Zip64LocatorSize = 20;
constexpr std::size_t MaxCommentSize = 0xFFFF;

constexpr uint16_t Zip64ExtraId = 0x0001;
constexpr uint16_t ExtendedTimestampId = 0x5455;

inline uint16_t Get16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t Get32(const unsigned char* p) {
    return static_cast<uint32_t>(Get16(p)) | (static_cast<uint32_t>(Get16(p + 2)) << 16);
}
inline uint64_t Get64(const unsigned char* p) {
    return static_cast<uint64_t>(Get32(p)) | (static_cast<uint64_t>(Get32(p + 4)) << 32);
}
inline const unsigned char* Bytes(const char* p) {
    return reinterpret_cast<const unsigned char*>(p);
}

// Throw EZipReadError with the message for `code`; `detail` says what exactly is wrong.
[[noreturn]] void FailArchive(int code, const std::string& archive, const std::string& detail);
[[noreturn]] void FailEntry(int code, const std::string& archive, const std::string& entry,
                            const std::string& detail);
// The text of an errno value, for messages.
std::string SystemErrorText(int error);

}  // namespace sejfko::zipread

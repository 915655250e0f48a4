#pragma once
// Reading zip archives (PKWARE APPNOTE): the central directory, Zip64 included, and the data of
// single entries with their CRC-32 checked. Used to re-read an archive just written, and by the
// `list` and `verify` commands.
//
// Any bytes may be handed in: a damaged or hostile archive ends in EZipReadError, never in a
// crash, a huge allocation or an endless loop. Memory stays bounded: the directory is streamed
// through a fixed buffer (only the entries themselves are kept), entry data through fixed
// buffers, whatever the sizes (entries over 4 GiB too).
//
// Error codes (EZipReadError::Code), each with a Czech message naming the archive and, for the
// data of an entry, the entry:
//   10103  the archive cannot be opened or read (missing, not a regular file, I/O error)
//   10201  no end-of-central-directory record: not a zip archive, or cut off at its end
//   10202  the central directory is damaged or cut off, or spans several disks
//   10203  a Zip64 record, locator or extra field is missing or damaged
//   11013  the data of an entry cannot be read: bad local header, cut off, damaged compressed
//          data, encrypted, or a compression method other than stored (0) and deflate (8)
//   11015  the data of an entry does not match its directory entry: CRC-32 or size, or (when
//          encrypted) its authentication code: the data was damaged or changed
//   11016  the passwords given do not fit an encrypted entry
//   11017  an entry is encrypted and no password was given
//
// Encrypted entries (AES, the AE-1 and AE-2 forms: aes_zip.hpp) are read with the passwords
// given by SetPasswords; the password verification value tells a wrong password at once, and the
// authentication code over the encrypted data is checked as the data streams through: a
// mismatch fails the entry (11015) before ExtractTo returns, so a caller that commits only after
// ExtractTo returned never keeps data that does not authenticate.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/exceptions.hpp"
#include "platform/file_io.hpp"

namespace sejfko {

class EZipReadError : public Exception {
public:
    EZipReadError(int code, const std::string& message) : Exception(message), Code(code) {}
    int Code;
};

// One central directory entry, sizes and offset already taken from Zip64 fields.
// Fields are ordered to leave no padding: a restore holds one per entry of every archive of its
// chain, a million of them for a large tree. Entry comments are skipped (nothing shows them).
struct TZipDirEntry {
    std::string Name;  // bytes as stored ("/" separators; UTF-8 when Utf8)
    uint64_t CompressedSize = 0;
    uint64_t UncompressedSize = 0;
    uint64_t LocalHeaderOffset = 0;
    // Seconds since the epoch: from the extended timestamp (0x5455) when it has one, else from
    // the DOS stamp read as local time; empty when neither is a valid time.
    std::optional<int64_t> ModifiedUnix;
    uint32_t DosDateTime = 0;  // MS-DOS packed, date in the high 16 bits
    uint32_t Crc32 = 0;
    uint32_t ExternalAttributes = 0;
    uint16_t VersionMadeBy = 0;
    uint16_t VersionNeeded = 0;
    uint16_t Flags = 0;
    uint16_t Method = 0;
    uint16_t InternalAttributes = 0;
    // From the AES extra field (0x9901): vendor version (1 AE-1, 2 AE-2; 0 when there is none),
    // strength (1..3 for AES-128/192/256) and the compression method of the data.
    uint16_t AesVersion = 0;
    uint16_t AesMethod = 0;
    uint8_t AesStrength = 0;
    bool Utf8 = false;  // general purpose bit 11

    bool IsDirectory() const { return !Name.empty() && Name.back() == '/'; }
    // A symbolic link as POSIX zip tools store one: made on Unix, type S_IFLNK in the high half
    // of the external attributes; its data is the link's target text.
    bool IsSymlink() const {
        return (VersionMadeBy >> 8) == 3 && ((ExternalAttributes >> 16) & 0170000) == 0120000;
    }
    bool IsEncrypted() const { return (Flags & 1) != 0; }
};

// The longest link target taken from an archive (what Linux allows).
constexpr std::size_t MaxLinkTarget = 4095;

// Receives an entry's uncompressed data, chunk by chunk in order.
using TZipDataSink = std::function<void(const char* data, std::size_t size)>;

class TZipReader {
public:
    TZipReader() = default;
    TZipReader(const TZipReader&) = delete;
    TZipReader& operator=(const TZipReader&) = delete;

    // Opens the archive and reads its whole central directory. Throws EZipReadError (10103,
    // 10201, 10202, 10203); the reader is then closed and holds no entries.
    void Open(const std::string& path);
    void Close();
    bool IsOpen() const;

    const std::string& Path() const { return FPath; }
    const std::vector<TZipDirEntry>& Entries() const { return FEntries; }
    // The entries, moved out (the reader holds none afterwards): a directory of a million
    // entries is then never held twice.
    std::vector<TZipDirEntry> TakeEntries() { return std::move(FEntries); }
    // The archive comment (bytes as stored).
    const std::string& Comment() const { return FComment; }

    // The passwords tried, in order, for encrypted entries (the one whose verification value
    // fits is taken). Kept until replaced; Close does not forget them.
    void SetPasswords(std::vector<std::string> passwords) { FPasswords = std::move(passwords); }
    // True when at least one entry is encrypted.
    bool HasEncryptedEntries() const;
    // Checks that a password fits the encrypted `entry` without reading its data. Throws
    // EZipReadError 11016, 11017 (or 11013, 10103 for an entry that cannot be read).
    void CheckPassword(const TZipDirEntry& entry) const;

    // Streams the uncompressed data of `entry` (one of Entries()) to `sink`, then checks its
    // size and CRC-32 against the directory. Throws EZipReadError 11013 or 11015 (or 10103 on
    // an I/O error); whatever `sink` throws passes through. The data seen by `sink` before a
    // failure is not to be trusted.
    void ExtractTo(const TZipDirEntry& entry, const TZipDataSink& sink) const;
    // The same through `file`, a handle of this archive that OpenSameArchive gave: one per
    // thread, so that several threads may extract at once (the reader's own handle keeps one
    // error value and belongs to one thread at a time).
    void ExtractTo(const TZipDirEntry& entry, const TZipDataSink& sink,
                   const TReadFile& file) const;
    // Opens `file` as another handle of the archive this reader has open. Throws EZipReadError
    // 10103 when it cannot be opened or is no longer the file the directory was read from.
    void OpenSameArchive(TReadFile& file) const;
    // The target text of a link entry, read through ExtractTo (so checked alike, and throwing
    // alike). Empty when no link can be made of it: empty, longer than MaxLinkTarget, or holding
    // a NUL byte.
    std::string ReadLinkTarget(const TZipDirEntry& entry) const;

private:
    std::string FPath;
    std::vector<TZipDirEntry> FEntries;
    std::string FComment;
    std::vector<std::string> FPasswords;
    TReadFile FFile;
};

}  // namespace sejfko

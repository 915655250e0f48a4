// Reading the central directory. The archive is read from its end: the end-of-central-directory
// record (after at most 64 KiB of comment), the Zip64 locator just before it and the Zip64 record
// it points to, then the directory itself, streamed through one fixed buffer. Every offset and
// count taken from the file is checked against what the file can hold before it is used, so a
// hostile count never becomes a huge allocation and a hostile offset never a read outside.

#include <algorithm>
#include <string>
#include <vector>

#include "archive/aes_zip.hpp"
#include "archive/zip_read_format.hpp"
#include "archive/zip_reader.hpp"
#include "platform/date_time.hpp"
#include "platform/dos_time.hpp"

namespace sejfko {

using namespace zipread;

namespace {

constexpr std::size_t DirectoryBufferSize = 64 * 1024;

// Reads exactly `size` bytes at `offset`; a short read is the damage `code` describes.
void ReadExact(const TReadFile& file, int64_t offset, void* buffer, std::size_t size, int code,
               const char* what) {
    const std::ptrdiff_t got = file.ReadAt(offset, buffer, size);
    if (got < 0) {
        FailArchive(10103, file.Path(), SystemErrorText(file.Error()));
    }
    if (static_cast<std::size_t>(got) != size) {
        FailArchive(code, file.Path(), what);
    }
}

struct TEndOfDirectory {
    uint64_t Count = 0;
    uint64_t Size = 0;
    uint64_t Offset = 0;
    uint64_t End = 0;  // where the directory must end: the Zip64 record or the end record
    std::string Comment;
};

// Position of the end record within `tail`, or -1. A comment may itself contain the signature,
// so a record whose comment reaches exactly the end of the file wins over one that merely fits.
std::ptrdiff_t FindEndRecord(const std::string& tail) {
    std::ptrdiff_t fitting = -1;
    for (std::ptrdiff_t at = static_cast<std::ptrdiff_t>(tail.size() - EndSize); at >= 0; --at) {
        const unsigned char* p = Bytes(tail.data() + at);
        if (Get32(p) != EndSignature) {
            continue;
        }
        const std::size_t end = static_cast<std::size_t>(at) + EndSize + Get16(p + 20);
        if (end == tail.size()) {
            return at;
        }
        if (end < tail.size() && fitting < 0) {
            fitting = at;
        }
    }
    return fitting;
}

void ReadZip64End(const TReadFile& file, uint64_t locatorAt, TEndOfDirectory& end) {
    unsigned char locator[Zip64LocatorSize];
    ReadExact(file, static_cast<int64_t>(locatorAt), locator, sizeof locator, 10203,
              "lokátor je zkrácený");
    if (Get32(locator + 16) > 1) {
        FailArchive(10202, file.Path(), "archiv je rozdělen na více svazků");
    }
    const uint64_t recordAt = Get64(locator + 8);
    if (recordAt > locatorAt || locatorAt - recordAt < Zip64EndSize) {
        FailArchive(10203, file.Path(), "záznam leží mimo archiv");
    }
    unsigned char record[Zip64EndSize];
    ReadExact(file, static_cast<int64_t>(recordAt), record, sizeof record, 10203,
              "záznam je zkrácený");
    const uint64_t recordSize = Get64(record + 4);
    if (Get32(record) != Zip64EndSignature || recordSize < Zip64EndSize - 12 ||
        recordSize > locatorAt - recordAt - 12) {
        FailArchive(10203, file.Path(), "chybný záznam konce adresáře");
    }
    if (Get32(record + 16) != 0 || Get32(record + 20) != 0 ||
        Get64(record + 24) != Get64(record + 32)) {
        FailArchive(10202, file.Path(), "archiv je rozdělen na více svazků");
    }
    end.Count = Get64(record + 32);
    end.Size = Get64(record + 40);
    end.Offset = Get64(record + 48);
    end.End = recordAt;
}

TEndOfDirectory ReadEndOfDirectory(const TReadFile& file) {
    const uint64_t fileSize = static_cast<uint64_t>(file.Size());
    if (fileSize < EndSize) {
        FailArchive(10201, file.Path(), "chybí konec centrálního adresáře");
    }
    const uint64_t tailSize = std::min<uint64_t>(fileSize, EndSize + MaxCommentSize);
    const uint64_t tailAt = fileSize - tailSize;
    std::string tail(tailSize, '\0');
    ReadExact(file, static_cast<int64_t>(tailAt), tail.data(), tail.size(), 10201,
              "soubor se během čtení zkrátil");
    const std::ptrdiff_t at = FindEndRecord(tail);
    if (at < 0) {
        FailArchive(10201, file.Path(), "chybí konec centrálního adresáře");
    }
    const unsigned char* p = Bytes(tail.data() + at);
    TEndOfDirectory end;
    end.Comment = tail.substr(static_cast<std::size_t>(at) + EndSize, Get16(p + 20));
    const uint64_t endAt = tailAt + static_cast<uint64_t>(at);

    bool zip64 = false;
    if (endAt >= Zip64LocatorSize) {
        unsigned char signature[4];
        ReadExact(file, static_cast<int64_t>(endAt - Zip64LocatorSize), signature, 4, 10201,
                  "soubor se během čtení zkrátil");
        zip64 = Get32(signature) == Zip64LocatorSignature;
    }
    if (zip64) {
        ReadZip64End(file, endAt - Zip64LocatorSize, end);
    } else {
        if (Get16(p + 4) != 0 || Get16(p + 6) != 0 || Get16(p + 8) != Get16(p + 10)) {
            FailArchive(10202, file.Path(), "archiv je rozdělen na více svazků");
        }
        end.Count = Get16(p + 10);
        end.Size = Get32(p + 12);
        end.Offset = Get32(p + 16);
        end.End = endAt;
        // 0xFFFFFFFF marks a value kept in the Zip64 record; 0xFFFF entries can be genuine.
        if (end.Size == 0xFFFFFFFFu || end.Offset == 0xFFFFFFFFu) {
            FailArchive(10203, file.Path(), "chybí záznam konce adresáře Zip64");
        }
    }
    if (end.Offset > end.End || end.Size > end.End - end.Offset) {
        FailArchive(10202, file.Path(), "adresář leží mimo archiv");
    }
    if (end.Count > end.Size / CentralHeaderSize) {
        FailArchive(10202, file.Path(), "počet položek neodpovídá velikosti adresáře");
    }
    return end;
}

// Sequential reads within the directory's byte range, through one buffer.
class TDirectoryStream {
public:
    TDirectoryStream(const TReadFile& file, uint64_t offset, uint64_t size)
        : FFile(file), FNext(offset), FLeft(size), FBuffer(DirectoryBufferSize) {}

    void Read(char* dest, std::size_t size) {
        while (size > 0) {
            if (FAt == FFilled) {
                Refill();
            }
            const std::size_t take = std::min(size, FFilled - FAt);
            std::copy_n(FBuffer.data() + FAt, take, dest);
            FAt += take;
            dest += take;
            size -= take;
        }
    }
    void Read(std::string& dest, std::size_t size) {
        dest.resize(size);
        Read(dest.data(), size);
    }

private:
    void Refill() {
        if (FLeft == 0) {
            FailArchive(10202, FFile.Path(), "adresář je zkrácený");
        }
        const std::size_t want =
            static_cast<std::size_t>(std::min<uint64_t>(FLeft, FBuffer.size()));
        ReadExact(FFile, static_cast<int64_t>(FNext), FBuffer.data(), want, 10202,
                  "adresář je zkrácený");
        FNext += want;
        FLeft -= want;
        FAt = 0;
        FFilled = want;
    }
    const TReadFile& FFile;
    uint64_t FNext;
    uint64_t FLeft;
    std::vector<char> FBuffer;
    std::size_t FAt = 0;
    std::size_t FFilled = 0;
};

// Takes the values marked 0xFFFFFFFF (0xFFFF for the disk) from the Zip64 extra field and the
// modification time from the extended timestamp.
void ApplyExtraFields(const std::string& path, const std::string& extra, uint32_t diskStart,
                      TZipDirEntry& entry) {
    const bool needUncompressed = entry.UncompressedSize == 0xFFFFFFFFu;
    const bool needCompressed = entry.CompressedSize == 0xFFFFFFFFu;
    const bool needOffset = entry.LocalHeaderOffset == 0xFFFFFFFFu;
    const bool needDisk = diskStart == 0xFFFF;
    bool haveZip64 = false;
    std::size_t at = 0;
    while (at + 4 <= extra.size()) {
        const unsigned char* header = Bytes(extra.data() + at);
        const uint16_t id = Get16(header);
        const std::size_t size = Get16(header + 2);
        at += 4;
        if (size > extra.size() - at) {
            break;  // a damaged tail of the extra data; the fields before it stand
        }
        const unsigned char* data = Bytes(extra.data() + at);
        if (id == Zip64ExtraId && !haveZip64) {
            haveZip64 = true;
            std::size_t field = 0;
            auto take = [&](uint64_t& value, std::size_t width) {
                if (field + width > size) {
                    FailArchive(10203, path,
                                "pole Zip64 položky \"" + entry.Name + "\" je zkrácené");
                }
                value = width == 8 ? Get64(data + field) : Get32(data + field);
                field += width;
            };
            uint64_t disk = 0;
            if (needUncompressed)
                take(entry.UncompressedSize, 8);
            if (needCompressed)
                take(entry.CompressedSize, 8);
            if (needOffset)
                take(entry.LocalHeaderOffset, 8);
            if (needDisk)
                take(disk, 4);
            if (disk != 0) {
                FailArchive(10202, path, "archiv je rozdělen na více svazků");
            }
        } else if (id == ExtendedTimestampId && size >= 5 && (data[0] & 1) != 0) {
            entry.ModifiedUnix = static_cast<int32_t>(Get32(data + 1));
        } else if (id == aeszip::ExtraId && size >= aeszip::ExtraDataSize && data[2] == 'A' &&
                   data[3] == 'E') {
            entry.AesVersion = Get16(data);
            entry.AesStrength = data[4];
            entry.AesMethod = Get16(data + 5);
        }
        at += size;
    }
    if (!haveZip64 && (needUncompressed || needCompressed || needOffset || needDisk)) {
        FailArchive(10203, path, "položce \"" + entry.Name + "\" chybí pole Zip64");
    }
}

std::optional<int64_t> DosStampToUnix(uint32_t stamp) {
    TDateTime value = 0;
    if (!FileDateToDateTime(static_cast<int32_t>(stamp), value)) {
        return std::nullopt;
    }
    const std::time_t seconds = DateTimeToUnix(value);
    if (seconds == -1) {
        return std::nullopt;
    }
    return static_cast<int64_t>(seconds);
}

TZipDirEntry ReadEntry(TDirectoryStream& stream, const std::string& path) {
    unsigned char header[CentralHeaderSize];
    stream.Read(reinterpret_cast<char*>(header), sizeof header);
    if (Get32(header) != CentralHeaderSignature) {
        FailArchive(10202, path, "chybný podpis položky");
    }
    TZipDirEntry entry;
    entry.VersionMadeBy = Get16(header + 4);
    entry.VersionNeeded = Get16(header + 6);
    entry.Flags = Get16(header + 8);
    entry.Utf8 = (entry.Flags & 0x0800) != 0;
    entry.Method = Get16(header + 10);
    entry.DosDateTime = (static_cast<uint32_t>(Get16(header + 14)) << 16) | Get16(header + 12);
    entry.Crc32 = Get32(header + 16);
    entry.CompressedSize = Get32(header + 20);
    entry.UncompressedSize = Get32(header + 24);
    const uint16_t diskStart = Get16(header + 34);
    entry.InternalAttributes = Get16(header + 36);
    entry.ExternalAttributes = Get32(header + 38);
    entry.LocalHeaderOffset = Get32(header + 42);
    stream.Read(entry.Name, Get16(header + 28));
    std::string extra;
    stream.Read(extra, Get16(header + 30));
    std::string comment;
    stream.Read(comment, Get16(header + 32));
    ApplyExtraFields(path, extra, diskStart, entry);
    if (!entry.ModifiedUnix) {
        entry.ModifiedUnix = DosStampToUnix(entry.DosDateTime);
    }
    return entry;
}

}  // namespace

void TZipReader::Open(const std::string& path) {
    Close();
    FPath = path;
    if (!FFile.Open(path)) {
        FailArchive(10103, path, SystemErrorText(FFile.Error()));
    }
    try {
        TEndOfDirectory end = ReadEndOfDirectory(FFile);
        TDirectoryStream stream(FFile, end.Offset, end.Size);
        // The count is bounded by the directory's size, itself bounded by the file's.
        FEntries.reserve(static_cast<std::size_t>(end.Count));
        for (uint64_t index = 0; index < end.Count; ++index) {
            FEntries.push_back(ReadEntry(stream, path));
        }
        FComment = std::move(end.Comment);
    } catch (...) {
        Close();
        throw;
    }
}

void TZipReader::Close() {
    FFile.Close();
    FEntries.clear();
    FEntries.shrink_to_fit();
    FComment.clear();
}

bool TZipReader::IsOpen() const {
    return FFile.IsOpen();
}

bool TZipReader::HasEncryptedEntries() const {
    return std::any_of(FEntries.begin(), FEntries.end(),
                       [](const TZipDirEntry& entry) { return entry.IsEncrypted(); });
}

}  // namespace sejfko

// Reading one entry's data. The sizes and the CRC-32 come from the central directory, never from
// the local header or a data descriptor: those may be zero (streamed writers) and the directory
// is what every reader trusts. The compressed bytes are read only within the range the directory
// gives, and inflating stops as soon as it yields more than the stated size, so a damaged entry
// costs at most its own compressed size in work and two fixed buffers in memory.

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "archive/crc32.hpp"
#include "archive/zip_read_format.hpp"
#include "archive/zip_reader.hpp"

namespace sejfko {

using namespace zipread;

namespace {

constexpr std::size_t InputChunk = 64 * 1024;
constexpr std::size_t OutputChunk = 64 * 1024;

std::string Hex32(uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

class TEntryData {
public:
    TEntryData(const TReadFile& file, const TZipDirEntry& entry, const TZipDataSink& sink)
        : FFile(file), FEntry(entry), FSink(sink) {}

    void Extract() {
        if ((FEntry.Flags & 1) != 0) {
            Fail(11013, "položka je zašifrovaná");
        }
        if (FEntry.Method != 0 && FEntry.Method != 8) {
            Fail(11013, "nepodporovaná metoda komprese " + std::to_string(FEntry.Method));
        }
        LocateData();
        if (FEntry.Method == 0) {
            CopyStored();
        } else {
            Inflate();
        }
        if (FProduced != FEntry.UncompressedSize) {
            Fail(11015, "velikost nesouhlasí (v adresáři " +
                            std::to_string(FEntry.UncompressedSize) + ", v datech " +
                            std::to_string(FProduced) + ")");
        }
        if (FCrc != FEntry.Crc32) {
            Fail(11015, "CRC nesouhlasí (v adresáři " + Hex32(FEntry.Crc32) + ", v datech " +
                            Hex32(FCrc) + ")");
        }
    }

private:
    [[noreturn]] void Fail(int code, const std::string& detail) const {
        FailEntry(code, FFile.Path(), FEntry.Name, detail);
    }

    // Finds the data behind the local header and checks that the whole range lies in the file.
    void LocateData() {
        const uint64_t fileSize = static_cast<uint64_t>(FFile.Size());
        if (FEntry.LocalHeaderOffset > fileSize ||
            fileSize - FEntry.LocalHeaderOffset < LocalHeaderSize) {
            Fail(11013, "místní hlavička leží mimo archiv");
        }
        unsigned char header[LocalHeaderSize];
        ReadAt(FEntry.LocalHeaderOffset, reinterpret_cast<char*>(header), sizeof header);
        if (Get32(header) != LocalHeaderSignature) {
            Fail(11013, "chybný podpis místní hlavičky");
        }
        const uint64_t dataAt =
            FEntry.LocalHeaderOffset + LocalHeaderSize + Get16(header + 26) + Get16(header + 28);
        if (dataAt > fileSize || fileSize - dataAt < FEntry.CompressedSize) {
            Fail(11013, "data jsou zkrácená");
        }
        FNext = dataAt;
        FLeft = FEntry.CompressedSize;
    }

    void ReadAt(uint64_t offset, char* buffer, std::size_t size) const {
        const std::ptrdiff_t got = FFile.ReadAt(static_cast<int64_t>(offset), buffer, size);
        if (got < 0) {
            Fail(10103, SystemErrorText(FFile.Error()));
        }
        if (static_cast<std::size_t>(got) != size) {
            Fail(11013, "data jsou zkrácená");
        }
    }

    // Next piece of the compressed range into `buffer`: bytes read, 0 at its end.
    std::size_t ReadNext(std::vector<char>& buffer) {
        const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(FLeft, buffer.size()));
        if (want > 0) {
            ReadAt(FNext, buffer.data(), want);
            FNext += want;
            FLeft -= want;
        }
        return want;
    }

    void Deliver(const char* data, std::size_t size) {
        if (size == 0) {
            return;
        }
        if (size > FEntry.UncompressedSize - FProduced) {
            Fail(11015, "data jsou delší, než uvádí adresář (" +
                            std::to_string(FEntry.UncompressedSize) + " B)");
        }
        FProduced += size;
        FCrc = Crc32(FCrc, data, size);
        if (FSink) {
            FSink(data, size);
        }
    }

    void CopyStored() {
        if (FEntry.CompressedSize != FEntry.UncompressedSize) {
            Fail(11015, "uložená data mají jinou velikost než v adresáři");
        }
        std::vector<char> buffer(InputChunk);
        while (const std::size_t got = ReadNext(buffer)) {
            Deliver(buffer.data(), got);
        }
    }

    void Inflate() {
        z_stream stream{};
        if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
            Fail(11013, "nedostatek paměti pro dekompresi");
        }
        struct TEnd {
            z_stream& Stream;
            ~TEnd() { inflateEnd(&Stream); }
        } end{stream};
        std::vector<char> input(InputChunk);
        std::vector<char> output(OutputChunk);
        for (;;) {
            if (stream.avail_in == 0) {
                const std::size_t got = ReadNext(input);
                if (got == 0) {
                    Fail(11013, "komprimovaná data končí předčasně");
                }
                stream.next_in = reinterpret_cast<Bytef*>(input.data());
                stream.avail_in = static_cast<uInt>(got);
            }
            stream.next_out = reinterpret_cast<Bytef*>(output.data());
            stream.avail_out = static_cast<uInt>(output.size());
            const int result = inflate(&stream, Z_NO_FLUSH);
            Deliver(output.data(), output.size() - stream.avail_out);
            if (result == Z_STREAM_END) {
                break;
            }
            // Z_BUF_ERROR with input left would mean no progress at all: stop rather than spin.
            if (result != Z_OK && !(result == Z_BUF_ERROR && stream.avail_in == 0)) {
                Fail(11013, "komprimovaná data jsou poškozená");
            }
        }
        if (stream.avail_in != 0 || FLeft != 0) {
            Fail(11013, "komprimovaná data končí dříve než položka");
        }
    }

    const TReadFile& FFile;
    const TZipDirEntry& FEntry;
    const TZipDataSink& FSink;
    uint64_t FNext = 0;
    uint64_t FLeft = 0;
    uint64_t FProduced = 0;
    uint32_t FCrc = 0;
};

}  // namespace

void TZipReader::ExtractTo(const TZipDirEntry& entry, const TZipDataSink& sink) const {
    if (!FFile.IsOpen()) {
        FailEntry(11013, FPath, entry.Name, "archiv není otevřen");
    }
    TEntryData(FFile, entry, sink).Extract();
}

std::string TZipReader::ReadLinkTarget(const TZipDirEntry& entry) const {
    std::string target;
    bool usable = true;
    ExtractTo(entry, [&](const char* data, std::size_t size) {
        if (size > MaxLinkTarget - std::min(target.size(), MaxLinkTarget)) {
            usable = false;  // read on to its end all the same, so that damage still shows
        } else {
            target.append(data, size);
        }
    });
    if (!usable || target.find('\0') != std::string::npos) {
        target.clear();
    }
    return target;
}

}  // namespace sejfko

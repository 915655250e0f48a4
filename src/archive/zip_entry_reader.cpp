// Reading one entry's data. The sizes and the CRC-32 come from the central directory, never from
// the local header or a data descriptor: those may be zero (streamed writers) and the directory
// is what every reader trusts. Encrypted entries are authenticated as they stream (see
// zip_reader.hpp). The compressed bytes are read only within the range the directory
// gives, and inflating stops as soon as it yields more than the stated size, so a damaged entry
// costs at most its own compressed size in work and two fixed buffers in memory.

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "archive/aes_zip.hpp"
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
    TEntryData(const TReadFile& file, const TZipDirEntry& entry, const TZipDataSink& sink,
               const std::vector<std::string>& passwords)
        : FFile(file), FEntry(entry), FSink(sink), FPasswords(passwords) {}

    void Extract() {
        const uint16_t method = DataMethod();
        LocateData();
        if (FEntry.IsEncrypted()) {
            OpenEncrypted();
        }
        try {
            if (method == 0) {
                CopyStored();
            } else {
                Inflate();
            }
            if (FEntry.IsEncrypted()) {
                CheckMac();
            }
        } catch (const EZipReadError&) {
            // Damage in encrypted data mostly shows as bad compressed data; the code tells
            // which it is, so it is checked over the rest before the first fault is reported.
            if (FEntry.IsEncrypted() && !FMacChecked) {
                DrainAndCheckMac();
            }
            throw;
        }
        if (FProduced != FEntry.UncompressedSize) {
            Fail(11015, "velikost nesouhlasí (v adresáři " +
                            std::to_string(FEntry.UncompressedSize) + ", v datech " +
                            std::to_string(FProduced) + ")");
        }
        // AE-2 leaves the CRC-32 at 0: the authentication code has replaced it.
        const bool crcStored = !FEntry.IsEncrypted() || FEntry.AesVersion == aeszip::VendorAe1;
        if (crcStored && FCrc != FEntry.Crc32) {
            Fail(11015, "CRC nesouhlasí (v adresáři " + Hex32(FEntry.Crc32) + ", v datech " +
                            Hex32(FCrc) + ")");
        }
    }

    // Only the password: the salt and verification value are read, no data.
    void CheckPassword() {
        DataMethod();
        LocateData();
        if (FEntry.IsEncrypted()) {
            OpenEncrypted();
        }
    }

private:
    [[noreturn]] void Fail(int code, const std::string& detail) const {
        FailEntry(code, FFile.Path(), FEntry.Name, detail);
    }

    // The compression method of the data, refusing what cannot be read.
    uint16_t DataMethod() const {
        uint16_t method = FEntry.Method;
        if (FEntry.IsEncrypted()) {
            if (FEntry.Method != aeszip::MethodAes || FEntry.AesVersion == 0 ||
                aeszip::SaltSize(FEntry.AesStrength) == 0) {
                Fail(11013, "položka je zašifrovaná nepodporovaným způsobem");
            }
            method = FEntry.AesMethod;
        }
        if (method != 0 && method != 8) {
            Fail(11013, "nepodporovaná metoda komprese " + std::to_string(method));
        }
        return method;
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

    // Reads the salt and the verification value, takes the first password that fits and leaves
    // FLeft at the encrypted data alone (without the code behind it).
    void OpenEncrypted() {
        const std::size_t saltSize = aeszip::SaltSize(FEntry.AesStrength);
        const std::size_t framing = saltSize + aeszip::VerifierSize + aeszip::MacSize;
        if (FLeft < framing) {
            Fail(11013, "zašifrovaná data jsou kratší než jejich záhlaví");
        }
        uint8_t head[aeszip::MaxSaltSize + aeszip::VerifierSize];
        ReadAt(FNext, reinterpret_cast<char*>(head), saltSize + aeszip::VerifierSize);
        FNext += saltSize + aeszip::VerifierSize;
        FLeft -= framing;
        if (FPasswords.empty()) {
            Fail(11017, "heslo nebylo zadáno");
        }
        for (const std::string& password : FPasswords) {
            aeszip::TAesKeys keys;
            if (!aeszip::DeriveKeys(password, head, FEntry.AesStrength, keys)) {
                Fail(11013, "klíče nelze odvodit (chyba knihovny OpenSSL)");
            }
            if (std::equal(keys.Verifier, keys.Verifier + aeszip::VerifierSize, head + saltSize)) {
                if (!FCipher.Start(keys)) {
                    Fail(11013, "dešifrování nelze zahájit (chyba knihovny OpenSSL)");
                }
                return;
            }
        }
        Fail(11016, "heslo nesouhlasí");
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

    // Next piece of the compressed range into `buffer` (decrypted, and added to the running
    // code, when the entry is encrypted): bytes read, 0 at its end.
    std::size_t ReadNext(std::vector<char>& buffer) {
        const std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(FLeft, buffer.size()));
        if (want > 0) {
            ReadAt(FNext, buffer.data(), want);
            FNext += want;
            FLeft -= want;
            if (FEntry.IsEncrypted()) {
                auto* bytes = reinterpret_cast<uint8_t*>(buffer.data());
                if (!FCipher.Authenticate(bytes, want) || !FCipher.Crypt(bytes, want, FDecrypted)) {
                    Fail(11013, "data nelze dešifrovat (chyba knihovny OpenSSL)");
                }
                FDecrypted += want;
            }
        }
        return want;
    }

    // The authentication code stored after the data against the one computed over it.
    void CheckMac() {
        FMacChecked = true;
        uint8_t stored[aeszip::MacSize];
        ReadAt(FNext, reinterpret_cast<char*>(stored), sizeof stored);
        uint8_t computed[aeszip::MacSize];
        if (!FCipher.FinishMac(computed)) {
            Fail(11013, "kód ověření nelze spočítat (chyba knihovny OpenSSL)");
        }
        if (!aeszip::SameMac(stored, computed)) {
            Fail(11015, "kód ověření (HMAC) nesouhlasí, data byla poškozena nebo změněna");
        }
    }

    // After a fault: the rest of the encrypted data through the code, then the check. Throws
    // only for a code that does not match; any other trouble leaves the first fault standing.
    void DrainAndCheckMac() {
        try {
            std::vector<char> buffer(InputChunk);
            while (FLeft > 0) {
                const std::size_t want =
                    static_cast<std::size_t>(std::min<uint64_t>(FLeft, buffer.size()));
                ReadAt(FNext, buffer.data(), want);
                FNext += want;
                FLeft -= want;
                FCipher.Authenticate(reinterpret_cast<uint8_t*>(buffer.data()), want);
            }
        } catch (const EZipReadError&) {
            return;
        }
        CheckMac();
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
        if (FLeft != FEntry.UncompressedSize) {
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
    const std::vector<std::string>& FPasswords;
    aeszip::TAesCipher FCipher;
    uint64_t FDecrypted = 0;  // encrypted bytes read so far: the keystream offset
    bool FMacChecked = false;
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
    TEntryData(FFile, entry, sink, FPasswords).Extract();
}

void TZipReader::ExtractTo(const TZipDirEntry& entry, const TZipDataSink& sink,
                           const TReadFile& file) const {
    if (!file.IsOpen()) {
        FailEntry(11013, FPath, entry.Name, "archiv není otevřen");
    }
    TEntryData(file, entry, sink, FPasswords).Extract();
}

void TZipReader::OpenSameArchive(TReadFile& file) const {
    if (!FFile.IsOpen()) {
        FailArchive(10103, FPath, "archiv není otevřen");
    }
    if (!file.Open(FPath)) {
        FailArchive(10103, FPath, SystemErrorText(file.Error()));
    }
    // Replaced meanwhile (a new backup under the same name): its offsets are not this directory's.
    const TFileIdentity opened = FFile.Identity();
    const TFileIdentity again = file.Identity();
    if (!opened.Exists || !again.Exists || opened.Device != again.Device ||
        opened.Inode != again.Inode || again.Size != FFile.Size()) {
        file.Close();
        FailArchive(10103, FPath, "soubor se během obnovy změnil");
    }
}

void TZipReader::CheckPassword(const TZipDirEntry& entry) const {
    if (!FFile.IsOpen()) {
        FailEntry(11013, FPath, entry.Name, "archiv není otevřen");
    }
    const TZipDataSink none;
    TEntryData(FFile, entry, none, FPasswords).CheckPassword();
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

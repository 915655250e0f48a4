#include "cli/list_command.hpp"

#include <cinttypes>
#include <cstdio>

#include "archive/aes_zip.hpp"
#include "archive/zip_reader.hpp"
#include "cli/password_file.hpp"

namespace sejfko {

namespace {

// "yyyy-mm-dd hh:mm:ss" of the stamp's fields as stored, valid or not.
std::string FormatDosStamp(uint32_t stamp) {
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", 1980 + (stamp >> 25),
                  (stamp >> 21) & 0x0F, (stamp >> 16) & 0x1F, (stamp >> 11) & 0x1F,
                  (stamp >> 5) & 0x3F, (stamp & 0x1F) * 2);
    return text;
}

// " -> TARGET" for a link entry, so that it reads as `ls -l` shows links; "" for others. A link
// whose data cannot be read shows "?" (verify names the damage).
std::string LinkSuffix(const TZipReader& reader, const TZipDirEntry& entry) {
    if (!entry.IsSymlink()) {
        return {};
    }
    std::string target;
    try {
        target = reader.ReadLinkTarget(entry);
    } catch (const EZipReadError&) {
    }
    return " -> " + (target.empty() ? std::string("?") : PrintableName(target));
}

}  // namespace

std::string PrintableName(const std::string& name) {
    std::string result = name;
    for (char& c : result) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            c = '?';
        }
    }
    return result;
}

int RunListCommand(std::vector<std::string> arguments, const std::string& configDirectory,
                   std::ostream& out, std::ostream& err) {
    std::string passwordFile;
    std::string error;
    if (!TakePasswordFileOption(arguments, passwordFile, error)) {
        err << error << "\n";
        return 2;
    }
    if (arguments.size() != 1) {
        err << "Příkaz list vyžaduje právě jeden archiv.\n";
        return 2;
    }
    TZipReader reader;
    try {
        reader.Open(arguments[0]);
        if (reader.HasEncryptedEntries()) {
            reader.SetPasswords(ReadingPasswords(passwordFile, configDirectory));
            for (const TZipDirEntry& entry : reader.Entries()) {
                if (entry.IsEncrypted()) {
                    // Without a password the names are still listed; a wrong one is told.
                    try {
                        reader.CheckPassword(entry);
                    } catch (const EZipReadError& refused) {
                        if (refused.Code != 11017) {
                            throw;
                        }
                    }
                    break;
                }
            }
        }
    } catch (const std::exception& failure) {
        err << PrintableName(failure.what()) << "\n";
        return 1;
    }
    out << "      Velikost  Komprimováno  Datum a čas          CRC-32    Název\n";
    uint64_t size = 0;
    uint64_t compressed = 0;
    char line[96];
    for (const TZipDirEntry& entry : reader.Entries()) {
        char check[16];
        if (entry.IsEncrypted()) {
            const std::size_t bits = 8 * aeszip::KeySize(entry.AesStrength);
            std::snprintf(check, sizeof check, "%-8s",
                          bits != 0 ? ("AES-" + std::to_string(bits)).c_str() : "šifr.");
        } else {
            std::snprintf(check, sizeof check, "%08" PRIx32, entry.Crc32);
        }
        std::snprintf(line, sizeof line, "%14" PRIu64 "%14" PRIu64 "  %s  %s  ",
                      entry.UncompressedSize, entry.CompressedSize,
                      FormatDosStamp(entry.DosDateTime).c_str(), check);
        out << line << PrintableName(entry.Name) << LinkSuffix(reader, entry) << "\n";
        size += entry.UncompressedSize;
        compressed += entry.CompressedSize;
    }
    out << "Položek: " << reader.Entries().size() << ", velikost: " << size
        << " B, komprimováno: " << compressed << " B\n";
    if (!reader.Comment().empty()) {
        out << "Komentář: " << PrintableName(reader.Comment()) << "\n";
    }
    return 0;
}

}  // namespace sejfko

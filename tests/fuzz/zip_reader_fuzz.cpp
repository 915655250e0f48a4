// A zip archive from anywhere: read as `verify` reads it, then restored as `restore` restores
// it. Reading ends in EZipReadError with a documented code or delivers exactly the stated size
// with the stated CRC-32; the restore agrees with that verdict, writes only plain files and
// directories below its target (no set-user-ID bits, nothing beside the target), and each file
// it writes holds the data of the entry that names it last.

#include <sys/stat.h>
#include <zlib.h>

#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "archive/zip_reader.hpp"
#include "fuzz/fuzz_targets.hpp"
#include "platform/file_system.hpp"
#include "restore/deletion_list.hpp"
#include "restore/restore_path.hpp"
#include "restore/restore_run.hpp"

namespace sejfko::fuzz {

namespace {

// Restores that would write more than this are only verified: the fuzzer can state sizes far
// beyond what a memory-backed directory should hold.
constexpr uint64_t MaxRestoredBytes = 16 * 1024 * 1024;
constexpr const char* ArchiveName = "Backup_20240102_0304_full.fbk";

struct TVerdict {
    bool Sound = false;
    uint32_t Crc = 0;
};

std::string EntryText(const TZipDirEntry& entry) {
    return Quote(entry.Name) + " (method " + std::to_string(entry.Method) + ", " +
           std::to_string(entry.CompressedSize) + " -> " + std::to_string(entry.UncompressedSize) +
           ")";
}

TVerdict VerifyEntry(const TZipReader& reader, const TZipDirEntry& entry) {
    TVerdict verdict;
    uint64_t delivered = 0;
    uLong crc = crc32(0, nullptr, 0);
    try {
        reader.ExtractTo(entry, [&](const char* data, std::size_t size) {
            FUZZ_CHECK(size > 0 && size <= entry.UncompressedSize - delivered,
                       "more data than stated: " + EntryText(entry));
            delivered += size;
            crc = crc32(crc, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(size));
        });
    } catch (const EZipReadError& error) {
        FUZZ_CHECK(error.Code == 11013 || error.Code == 11015 || error.Code == 10103,
                   "entry error code " + std::to_string(error.Code));
        return verdict;
    }
    FUZZ_CHECK(delivered == entry.UncompressedSize && crc == entry.Crc32,
               "accepted with " + std::to_string(delivered) + " bytes: " + EntryText(entry));
    verdict.Sound = true;
    verdict.Crc = static_cast<uint32_t>(crc);
    return verdict;
}

class TCountingObserver : public TRestoreObserver {
public:
    void Problem(const std::string& message) override {
        FUZZ_CHECK(!message.empty(), std::string("an empty problem text"));
        ++Problems;
    }
    int Problems = 0;
};

// False for the entries a restore refuses by their POSIX file type (devices, FIFOs, ...).
bool RestoredKind(const TZipDirEntry& entry) {
    if ((entry.VersionMadeBy >> 8) != 3 || entry.IsDirectory()) {
        return true;
    }
    const uint32_t type = (entry.ExternalAttributes >> 16) & 0170000;
    return type == 0 || type == 0100000 || type == 0040000 || type == 0120000;
}

std::vector<std::string> Names(const std::string& directory) {
    std::vector<TDirectoryEntry> entries;
    ListDirectory(directory, entries);
    std::vector<std::string> names;
    for (const TDirectoryEntry& entry : entries) {
        names.push_back(entry.Name);
    }
    return names;
}

uint32_t FileCrc(const std::string& path, uint64_t& size) {
    std::ifstream in(path, std::ios::binary);
    const std::string data{std::istreambuf_iterator<char>(in), {}};
    size = data.size();
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// Every entry below `directory` is a directory, a symlink or a plain file without set-ID bits.
void CheckRestoredTree(const std::string& directory) {
    std::vector<TDirectoryEntry> entries;
    FUZZ_CHECK(ListDirectory(directory, entries), "cannot list " + directory);
    for (const TDirectoryEntry& entry : entries) {
        const std::string path = directory + "/" + entry.Name;
        FUZZ_CHECK(entry.Kind == TEntryKind::Regular || entry.Kind == TEntryKind::Directory ||
                       entry.Kind == TEntryKind::Symlink,
                   "restored something else than a file, directory or link: " + Quote(path));
        struct stat st {};
        FUZZ_CHECK(::lstat(path.c_str(), &st) == 0 && (st.st_mode & (S_ISUID | S_ISGID)) == 0,
                   "restored with set-ID bits: " + Quote(path));
        if (entry.Kind == TEntryKind::Directory) {
            CheckRestoredTree(path);
        }
    }
}

void Restore(const std::string& archive, const TZipReader& reader,
             const std::vector<TVerdict>& verdicts) {
    const std::string target = WorkDirectory() + "/restore";
    RemoveTree(target);
    PrepareRestoreTarget(target, false, false);
    TRestoreOptions options;
    options.Target = target;
    TCountingObserver observer;
    const std::vector<std::string> before = Names(WorkDirectory());
    const TRestoreSummary summary =
        RestoreChain({TArchiveRef{archive, ArchiveName, "20240102_0304", true}}, options, observer);

    // The last entry of each file name wins, as in the restore.
    const std::vector<TZipDirEntry>& entries = reader.Entries();
    std::map<std::string, std::size_t> final;
    bool allSound = true;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        allSound = allSound && verdicts[i].Sound;
        std::string relative;
        std::string reason;
        if (DeletionListKind(entries[i].Name) == 0 && RestoredKind(entries[i]) &&
            SafeRelativePath(entries[i].Name, relative, reason)) {
            final[relative] = i;
        }
    }
    FUZZ_CHECK(!allSound || !summary.Stopped,
               "verify found every entry sound, the restore stopped");
    FUZZ_CHECK(Names(WorkDirectory()) == before,
               std::string("the restore wrote beside its target"));
    CheckRestoredTree(target);
    if (summary.Stopped) {
        return;
    }
    for (const auto& [relative, index] : final) {
        const TZipDirEntry& entry = entries[index];
        const std::string path = target + "/" + relative;
        const TEntryKind kind = GetFileStatus(path, false).Kind;
        if (kind == TEntryKind::Symlink) {
            // Made only of a link entry, with its stored text as the target.
            std::string made;
            FUZZ_CHECK(
                entry.IsSymlink() && ReadSymlink(path, made) &&
                    made == reader.ReadLinkTarget(entry),
                "restored " + Quote(relative) + " as a link that is not " + EntryText(entry));
            continue;
        }
        if (entry.IsDirectory() || kind != TEntryKind::Regular) {
            continue;
        }
        uint64_t size = 0;
        const uint32_t crc = FileCrc(path, size);
        FUZZ_CHECK(size == entry.UncompressedSize && crc == entry.Crc32,
                   "restored " + Quote(relative) + " holds " + std::to_string(size) +
                       " bytes that are not " + EntryText(entry));
    }
}

}  // namespace

int FuzzZipReader(const uint8_t* data, std::size_t size) {
    const std::string archive =
        WriteWorkFile(ArchiveName, std::string_view(reinterpret_cast<const char*>(data), size));
    TZipReader reader;
    try {
        reader.Open(archive);
    } catch (const EZipReadError& error) {
        FUZZ_CHECK(error.Code == 10201 || error.Code == 10202 || error.Code == 10203,
                   "directory error code " + std::to_string(error.Code));
        FUZZ_CHECK(!reader.IsOpen() && reader.Entries().empty(), std::string("left open"));
        return 0;
    }
    const std::vector<TZipDirEntry>& entries = reader.Entries();
    FUZZ_CHECK(entries.size() <= size / 46, "more entries than the file can hold");
    std::vector<TVerdict> verdicts;
    uint64_t stated = 0;
    for (const TZipDirEntry& entry : entries) {
        verdicts.push_back(VerifyEntry(reader, entry));
        stated += std::min<uint64_t>(entry.UncompressedSize, MaxRestoredBytes + 1);
    }
    if (stated <= MaxRestoredBytes) {
        Restore(archive, reader, verdicts);
    }
    return 0;
}

}  // namespace sejfko::fuzz

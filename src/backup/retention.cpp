#include "backup/retention.hpp"

#include <algorithm>
#include <cstddef>

#include "backup/backup_thread.hpp"
#include "config/options.hpp"
#include "platform/file_system.hpp"

namespace sejfko {
namespace {

constexpr const char* ArchiveExtension = ".fbk";

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerAscii(const std::string& text) {
    std::string out = text;
    std::transform(out.begin(), out.end(), out.begin(), [](char c) { return LowerAscii(c); });
    return out;
}

bool IsArchiveFileName(const std::string& name) {
    const std::string extension = ArchiveExtension;
    return name.size() >= extension.size() &&
           name.compare(name.size() - extension.size(), extension.size(), extension) == 0;
}

}  // namespace

bool ArchiveNameLess(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(LowerAscii(x)) <
               static_cast<unsigned char>(LowerAscii(y));
    });
}

void SortArchiveNames(std::vector<std::string>& names) {
    std::stable_sort(names.begin(), names.end(), ArchiveNameLess);
}

bool IsCompleteArchiveName(const std::string& name) {
    return LowerAscii(ExtractFileName(name)).find("_full") != std::string::npos;
}

std::vector<std::string> ArchivesToPrune(const std::vector<std::string>& names, int32_t backupCount,
                                         const std::string& justMade) {
    const std::size_t keep = backupCount < 1 ? 1 : static_cast<std::size_t>(backupCount);
    if (names.size() <= keep) {
        return {};
    }
    std::size_t firstKept = names.size() - keep;
    // The oldest kept archive may be an incremental one: keep its chain back to its base.
    for (std::size_t i = firstKept + 1; i-- > 0;) {
        if (IsCompleteArchiveName(names[i])) {
            firstKept = i;
            break;
        }
    }
    std::vector<std::string> doomed;
    for (std::size_t i = 0; i < firstKept; ++i) {
        if (justMade.empty() || names[i] != justMade) {
            doomed.push_back(names[i]);
        }
    }
    return doomed;
}

// ---- Local pruning by the worker ------------------------------------------------------------

std::vector<std::string> ListArchiveNames(const std::string& directory) {
    std::vector<TDirectoryEntry> entries;
    std::vector<std::string> names;
    if (directory.empty() || !ListDirectory(directory, entries)) {
        return names;
    }
    for (const TDirectoryEntry& entry : entries) {
        const bool regular =
            entry.Kind == TEntryKind::Regular ||
            (entry.Kind == TEntryKind::Symlink && entry.Target == TEntryKind::Regular);
        if (regular && IsArchiveFileName(entry.Name)) {
            names.push_back(entry.Name);
        }
    }
    SortArchiveNames(names);
    return names;
}

void TBackupThread::PruneLocalBackups() {
    if (Terminated()) {
        return;
    }
    const std::string directory = Options.LocalDirectory();
    const std::vector<std::string> names = ListArchiveNames(directory);
    if (Terminated()) {
        return;
    }
    for (const std::string& name : ArchivesToPrune(names, Options.BackupCount(), FLastArchive)) {
        if (Terminated()) {
            return;
        }
        // A file that cannot be deleted stays and still counts; a later run tries again.
        DeleteFile(IncludeTrailingPathDelimiter(directory) + name);
    }
}

}  // namespace sejfko

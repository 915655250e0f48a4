#include "backup/file_scan.hpp"

#include "platform/dos_time.hpp"
#include "platform/file_system.hpp"

namespace sejfko {

namespace {

// The walk builds every name in one buffer: a directory's path stays in it while its entries
// are appended and cut off again, so a file costs no allocation of its own.
class TExpander {
public:
    TExpander(const TScanSink& sink, const TQueryAbort& query) : FSink(sink), FQuery(query) {}

    bool Aborted() const { return FAborted; }

    void AddEntry(const std::string& path) {
        if (AskAbort()) {
            return;
        }
        // A symlink named in the selection is what the user chose: follow it.
        const TFileStatus status = GetFileStatus(path, true);
        if (status.Kind == TEntryKind::Directory) {
            FPath = path;
            AddDirectory();
        } else if (status.Kind == TEntryKind::Regular) {
            Emit(path, status.ModifiedSeconds, status.Size);
        }
    }

private:
    bool AskAbort() {
        if (!FAborted && FQuery) {
            FQuery(FAborted);
        }
        return FAborted;
    }

    // Walks the directory FPath names; FPath is as it was afterwards.
    void AddDirectory() {
        std::vector<TDirectoryEntry> entries;
        if (!ListDirectory(FPath, entries)) {
            return;
        }
        const std::size_t length = FPath.size();
        if (FPath.empty() || FPath.back() != PathDelimiter) {
            FPath += PathDelimiter;
        }
        const std::size_t base = FPath.size();
        for (const TDirectoryEntry& entry : entries) {
            // Asked for every entry, so a stop request ends even a huge flat directory promptly.
            if (AskAbort()) {
                break;
            }
            FPath.resize(base);
            FPath += entry.Name;
            if (entry.Kind == TEntryKind::Directory) {
                AddDirectory();
            } else if (entry.Kind == TEntryKind::Regular) {
                Emit(FPath, entry.ModifiedSeconds, entry.Size);
            } else if (entry.Kind == TEntryKind::Symlink) {
                // Kept as a link, never entered: no loops, nothing from outside the tree.
                Emit(FPath, entry.LinkModifiedSeconds, entry.LinkSize, true);
            }
        }
        FPath.resize(length);
    }

    void Emit(std::string_view name, std::time_t modified, int64_t size, bool link = false) {
        FSink(TScannedFile{name, UnixTimeToFileDate(modified), size, link});
    }

    const TScanSink& FSink;
    const TQueryAbort& FQuery;
    std::string FPath;
    bool FAborted = false;
};

}  // namespace

bool ScanSelection(const std::vector<std::string>& src, const TQueryAbort& query,
                   const TScanSink& sink) {
    TExpander expander(sink, query);
    for (const std::string& entry : src) {
        expander.AddEntry(entry);
        if (expander.Aborted()) {
            return false;
        }
    }
    return true;
}

bool ExpandSelection(TExpandedFileList& dest, const std::vector<std::string>& src,
                     const TQueryAbort& query) {
    dest.clear();
    return ScanSelection(src, query, [&dest](const TScannedFile& file) { dest.push_back(file); });
}

void ScanTreeLinks(const std::vector<std::string>& links, const TScanSink& sink) {
    for (const std::string& link : links) {
        const TFileStatus status = GetFileStatus(link, false);
        if (status.Kind == TEntryKind::Symlink || status.Kind == TEntryKind::Regular) {
            sink(TScannedFile{link, UnixTimeToFileDate(status.ModifiedSeconds), status.Size,
                              status.Kind == TEntryKind::Symlink});
        }
    }
}

void AddTreeLinks(TExpandedFileList& dest, const std::vector<std::string>& links) {
    ScanTreeLinks(links, [&dest](const TScannedFile& file) { dest.push_back(file); });
}

}  // namespace sejfko

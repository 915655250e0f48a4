#include "backup/file_scan.hpp"

#include "platform/dos_time.hpp"
#include "platform/file_system.hpp"

namespace sejfko {

namespace {

class TExpander {
public:
    TExpander(TExpandedFileList& dest, const TQueryAbort& query) : FDest(dest), FQuery(query) {}

    bool Aborted() const { return FAborted; }

    void AddEntry(const std::string& path) {
        if (AskAbort()) {
            return;
        }
        // A symlink named in the selection is what the user chose: follow it.
        const TFileStatus status = GetFileStatus(path, true);
        if (status.Kind == TEntryKind::Directory) {
            AddDirectory(path);
        } else if (status.Kind == TEntryKind::Regular) {
            Append(path, status.ModifiedSeconds, status.Size);
        }
    }

private:
    bool AskAbort() {
        if (!FAborted && FQuery) {
            FQuery(FAborted);
        }
        return FAborted;
    }

    void AddDirectory(const std::string& path) {
        std::vector<TDirectoryEntry> entries;
        if (!ListDirectory(path, entries)) {
            return;
        }
        const std::string prefix = IncludeTrailingPathDelimiter(path);
        for (const TDirectoryEntry& entry : entries) {
            // Asked for every entry, so a stop request ends even a huge flat directory promptly.
            if (AskAbort()) {
                return;
            }
            if (entry.Kind == TEntryKind::Directory) {
                AddDirectory(prefix + entry.Name);
            } else if (entry.Kind == TEntryKind::Regular) {
                Append(prefix + entry.Name, entry.ModifiedSeconds, entry.Size);
            } else if (entry.Kind == TEntryKind::Symlink) {
                // Kept as a link, never entered: no loops, nothing from outside the tree.
                Append(prefix + entry.Name, entry.LinkModifiedSeconds, entry.LinkSize, true);
            }
        }
    }

    void Append(std::string name, std::time_t modified, int64_t size, bool link = false) {
        FDest.push_back(TExpandedFile{std::move(name), UnixTimeToFileDate(modified), size, link});
    }

    TExpandedFileList& FDest;
    const TQueryAbort& FQuery;
    bool FAborted = false;
};

}  // namespace

bool ExpandSelection(TExpandedFileList& dest, const std::vector<std::string>& src,
                     const TQueryAbort& query) {
    dest.clear();
    TExpander expander(dest, query);
    for (const std::string& entry : src) {
        expander.AddEntry(entry);
        if (expander.Aborted()) {
            return false;
        }
    }
    return true;
}

void AddTreeLinks(TExpandedFileList& dest, const std::vector<std::string>& links) {
    for (const std::string& link : links) {
        const TFileStatus status = GetFileStatus(link, false);
        if (status.Kind == TEntryKind::Symlink || status.Kind == TEntryKind::Regular) {
            dest.push_back(TExpandedFile{link, UnixTimeToFileDate(status.ModifiedSeconds),
                                         status.Size, status.Kind == TEntryKind::Symlink});
        }
    }
}

}  // namespace sejfko

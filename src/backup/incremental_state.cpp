// The old state is consumed record by record: each file found in it is deleted from it, so
// what is left at the end are the files that are no longer selected. TFileList's name index
// makes each lookup and deletion cheap, so a run stays linear in the number of files.

#include "backup/incremental_state.hpp"

#include <string>
#include <vector>

#include "backup/update_batch.hpp"
#include "platform/dos_time.hpp"
#include "platform/file_system.hpp"

namespace sejfko {

namespace {

// The state and the deletion list are line-based: such a name would tear a record apart. Its
// file is archived by every run instead.
bool FitsOnOneLine(const std::string& name) {
    return name.find_first_of("\r\n") == std::string::npos;
}

// A link's record holds the checksum of its target text; it is never followed.
void EntryChecksum(const TExpandedFile& file, uint32_t& crc, uint16_t& error,
                   const TQueryAbort& query) {
    if (file.Link) {
        LinkCrc32(file.Name, crc, error);
    } else {
        FileCrc32(file.Name, crc, error, query);
    }
}

bool Vanished(const TExpandedFile& file) {
    return GetFileStatus(file.Name, !file.Link).Gone();
}

bool AskAbort(const TQueryAbort& query) {
    bool abort = false;
    if (query) {
        query(abort);
    }
    return abort;
}

}  // namespace

bool SelectChangedFiles(TFileList& oldState, TExpandedFileList& files, TFileList& newState,
                        const TQueryAbort& query, TFileList* previous) {
    newState.Clear();
    if (previous != nullptr) {
        previous->Clear();
    }
    TExpandedFileList changed;
    std::vector<std::string> vanished;  // stored files gone since the scan
    std::size_t next = 0;
    for (; next < files.size(); ++next) {
        if (AskAbort(query)) {
            // What is not yet compared stays for the caller, who abandons the run.
            files.erase(files.begin(), files.begin() + static_cast<std::ptrdiff_t>(next));
            return false;
        }
        TExpandedFile& file = files[next];
        if (!FitsOnOneLine(file.Name)) {
            changed.push_back(std::move(file));
            continue;
        }
        uint32_t crc = 0;
        uint16_t error = 0;
        const int index = oldState.IndexOf(file.Name);
        if (index < 0) {
            EntryChecksum(file, crc, error, query);
            if (error == 0) {
                newState.Add(file.Name, file.Stamp, crc);
            } else if (Vanished(file)) {
                continue;  // gone again before anything was stored of it
            }
            changed.push_back(std::move(file));
            continue;
        }
        TFileItem stored;
        oldState.GetItem(index, stored);
        oldState.Delete(index);
        if (stored.Stamp == file.Stamp) {
            newState.Add(stored.Name, stored.Stamp, stored.Crc);
            continue;
        }
        EntryChecksum(file, crc, error, query);
        if (error != 0) {
            if (Vanished(file)) {
                // Deleted since the scan: forgetting it would bring the stored version back
                // on a restore.
                vanished.push_back(std::move(stored.Name));
                continue;
            }
            // Unreadable now: archived if the job can; the stored record stays until a run
            // can read it again, so nothing counts as saved that is not in an archive.
            newState.Add(stored.Name, stored.Stamp, stored.Crc);
            if (previous != nullptr) {
                previous->Add(stored.Name, stored.Stamp, stored.Crc);
            }
            changed.push_back(std::move(file));
        } else if (crc == stored.Crc) {
            // Only touched: the old stamp stays, so the next run checks the content again.
            newState.Add(stored.Name, stored.Stamp, stored.Crc);
        } else {
            newState.Add(file.Name, file.Stamp, crc);
            if (previous != nullptr) {
                previous->Add(stored.Name, stored.Stamp, stored.Crc);
            }
            changed.push_back(std::move(file));
        }
    }

    bool batchCreated = false;
    if (oldState.Count() > 0 || !vanished.empty()) {
        TUpdateBatchWriter writer;
        TFileItem item;
        for (int i = 0; i < oldState.Count(); ++i) {
            oldState.GetItem(i, item);
            writer.Add(item.Name);
        }
        for (const std::string& name : vanished) {
            writer.Add(name);
        }
        writer.Commit();
        const std::string batch = UpdateBatchPath();
        const TFileStatus status = GetFileStatus(batch);
        changed.push_back(
            TExpandedFile{batch, UnixTimeToFileDate(status.ModifiedSeconds), status.Size});
        batchCreated = true;
    }
    files = std::move(changed);
    return batchCreated;
}

void BuildFileState(TFileList& newState, const TExpandedFileList& files, const TQueryAbort& query) {
    newState.Clear();
    for (const TExpandedFile& file : files) {
        if (AskAbort(query)) {
            return;
        }
        if (!FitsOnOneLine(file.Name)) {
            continue;
        }
        uint32_t crc = 0;
        uint16_t error = 0;
        EntryChecksum(file, crc, error, query);
        if (error == 0) {
            newState.Add(file.Name, file.Stamp, crc);
        }
    }
}

}  // namespace sejfko

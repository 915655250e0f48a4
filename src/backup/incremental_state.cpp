// The old state is consumed record by record: each file found in it is deleted from it, so
// what is left at the end are the files that are no longer selected. TFileList's name index
// makes each lookup and deletion cheap, so a run stays linear in the number of files; its name
// chunks are freed as they empty, so the old state shrinks while the new one grows.

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
bool FitsOnOneLine(std::string_view name) {
    return name.find_first_of("\r\n") == std::string_view::npos;
}

// A link's record holds the checksum of its target text; it is never followed.
void EntryChecksum(const TScannedFile& file, uint32_t& crc, uint16_t& error,
                   const TQueryAbort& query) {
    const std::string name(file.Name);
    if (file.Link) {
        LinkCrc32(name, crc, error);
    } else {
        FileCrc32(name, crc, error, query);
    }
}

bool Vanished(const TScannedFile& file) {
    return GetFileStatus(std::string(file.Name), !file.Link).Gone();
}

bool AskAbort(const TQueryAbort& query) {
    bool abort = false;
    if (query) {
        query(abort);
    }
    return abort;
}

}  // namespace

TChangeSelector::TChangeSelector(TFileList& oldState, TFileList& newState, TFileList* previous)
    : FOld(oldState), FNew(newState), FPrevious(previous) {
    FNew.Clear();
    if (FPrevious != nullptr) {
        FPrevious->Clear();
    }
}

void TChangeSelector::Offer(const TScannedFile& file, const TQueryAbort& query) {
    if (!FitsOnOneLine(file.Name)) {
        FChanged.push_back(file);
        return;
    }
    uint32_t crc = 0;
    uint16_t error = 0;
    int32_t storedStamp = 0;
    uint32_t storedCrc = 0;
    if (!FOld.TakeFirst(file.Name, storedStamp, storedCrc)) {
        EntryChecksum(file, crc, error, query);
        if (error == 0) {
            FNew.Add(file.Name, file.Stamp, crc);
        } else if (Vanished(file)) {
            return;  // gone again before anything was stored of it
        }
        FChanged.push_back(file);
        return;
    }
    // The stored record's name is the file's, byte for byte.
    if (storedStamp == file.Stamp) {
        FNew.Add(file.Name, storedStamp, storedCrc);
        return;
    }
    EntryChecksum(file, crc, error, query);
    if (error != 0) {
        if (Vanished(file)) {
            // Deleted since the scan: forgetting it would bring the stored version back on a
            // restore.
            FVanished.emplace_back(file.Name);
            return;
        }
        // Unreadable now: archived if the job can; the stored record stays until a run can
        // read it again, so nothing counts as saved that is not in an archive.
        FNew.Add(file.Name, storedStamp, storedCrc);
        if (FPrevious != nullptr) {
            FPrevious->Add(file.Name, storedStamp, storedCrc);
        }
        FChanged.push_back(file);
    } else if (crc == storedCrc) {
        // Only touched: the old stamp stays, so the next run checks the content again.
        FNew.Add(file.Name, storedStamp, storedCrc);
    } else {
        FNew.Add(file.Name, file.Stamp, crc);
        if (FPrevious != nullptr) {
            FPrevious->Add(file.Name, storedStamp, storedCrc);
        }
        FChanged.push_back(file);
    }
}

bool TChangeSelector::Finish() {
    if (FOld.Count() == 0 && FVanished.empty()) {
        return false;
    }
    TUpdateBatchWriter writer;
    TFileItem item;
    for (int i = 0; i < FOld.Count(); ++i) {
        FOld.GetItem(i, item);
        writer.Add(item.Name);
    }
    for (const std::string& name : FVanished) {
        writer.Add(name);
    }
    writer.Commit();
    const std::string batch = UpdateBatchPath();
    const TFileStatus status = GetFileStatus(batch);
    FChanged.push_back(
        TScannedFile{batch, UnixTimeToFileDate(status.ModifiedSeconds), status.Size, false});
    return true;
}

bool SelectChangedFiles(TFileList& oldState, TExpandedFileList& files, TFileList& newState,
                        const TQueryAbort& query, TFileList* previous) {
    TChangeSelector selector(oldState, newState, previous);
    for (std::size_t next = 0; next < files.size(); ++next) {
        if (AskAbort(query)) {
            // What is not yet compared stays for the caller, who abandons the run.
            TExpandedFileList rest;
            for (; next < files.size(); ++next) {
                rest.push_back(files.At(next));
            }
            files = std::move(rest);
            return false;
        }
        selector.Offer(files.At(next), query);
    }
    const bool batchCreated = selector.Finish();
    files = std::move(selector.Changed());
    return batchCreated;
}

void AddFileState(TFileList& newState, const TScannedFile& file, const TQueryAbort& query) {
    if (!FitsOnOneLine(file.Name)) {
        return;
    }
    uint32_t crc = 0;
    uint16_t error = 0;
    EntryChecksum(file, crc, error, query);
    if (error == 0) {
        newState.Add(file.Name, file.Stamp, crc);
    }
}

void BuildFileState(TFileList& newState, const TExpandedFileList& files, const TQueryAbort& query) {
    newState.Clear();
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (AskAbort(query)) {
            return;
        }
        AddFileState(newState, files.At(i), query);
    }
}

}  // namespace sejfko

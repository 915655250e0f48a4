#pragma once
// The incremental state: which files of the selection changed since the last saved state, and
// the state to save after a run. Names holding CR or LF are archived but never enter the state.

#include <string>
#include <vector>

#include "backup/file_list.hpp"
#include "backup/file_scan.hpp"

namespace sejfko {

// Consumes `oldState` and `files` (the expanded selection); leaves in `files` what the
// incremental archive must hold, in order, and in `newState` the state to save. A file is
// archived when it is new, its content changed, or it cannot be read; a file whose stamp changed
// but content did not keeps its old record. A file that cannot be read keeps the record it had
// (so every run tries it again until an archive holds it; a new one gets none), and one that
// has vanished since the scan is a deletion. When records of the old state are no longer
// selected (they are what remains in `oldState`) or vanished, writes the deletion list (see
// update_batch.hpp) and appends it to `files` with its own stamp; true in that case. EOSError
// when the list cannot be written. When cancelled: false at once, `files` holding what was not
// yet compared. `previous`, when given, receives the old records of the files that go into the
// archive, so that a file the archive job then has to leave out can keep its record.
bool SelectChangedFiles(TFileList& oldState, TExpandedFileList& files, TFileList& newState,
                        const TQueryAbort& query, TFileList* previous = nullptr);

// SelectChangedFiles fed by a scan file by file (see ScanSelection), so that the expanded
// selection is never held: Offer each file in order, then Finish once the scan is complete.
class TChangeSelector {
public:
    // Clears `newState` and `previous`; all three must outlive the selector.
    TChangeSelector(TFileList& oldState, TFileList& newState, TFileList* previous);
    TChangeSelector(const TChangeSelector&) = delete;
    TChangeSelector& operator=(const TChangeSelector&) = delete;

    // `query` is asked while a file is read for its checksum.
    void Offer(const TScannedFile& file, const TQueryAbort& query);
    // Writes the deletion list when there is one (true then) and appends it to Changed().
    bool Finish();
    // What the incremental archive must hold, in order.
    TExpandedFileList& Changed() { return FChanged; }

private:
    TFileList& FOld;
    TFileList& FNew;
    TFileList* FPrevious;
    TExpandedFileList FChanged;
    std::vector<std::string> FVanished;  // stored files gone since the scan
};

// Records every readable file of `files` with its stamp and checksum, in order, until cancelled.
void BuildFileState(TFileList& newState, const TExpandedFileList& files, const TQueryAbort& query);
// What BuildFileState records of one file, for a state fed by a scan (`newState` cleared first).
void AddFileState(TFileList& newState, const TScannedFile& file, const TQueryAbort& query);

}  // namespace sejfko

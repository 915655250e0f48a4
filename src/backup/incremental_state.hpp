#pragma once
// The incremental state: which files of the selection changed since the last saved state, and
// the state to save after a run. Names holding CR or LF are archived but never enter the state.

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

// Records every readable file of `files` with its stamp and checksum, in order, until cancelled.
void BuildFileState(TFileList& newState, const TExpandedFileList& files, const TQueryAbort& query);

}  // namespace sejfko

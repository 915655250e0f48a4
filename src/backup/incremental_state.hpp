#pragma once
// The incremental state: which files of the selection changed since the last saved state, and
// the state to save after a run. Names holding CR or LF are archived but never enter the state.

#include "backup/file_list.hpp"
#include "backup/file_scan.hpp"

namespace sejfko {

// Consumes `oldState` and `files` (the expanded selection); leaves in `files` what the
// incremental archive must hold, in order, and in `newState` the state to save. When records of
// the old state are no longer selected, writes the deletion list (see update_batch.hpp) and
// appends it to `files` with its own stamp; true in that case.
bool SelectChangedFiles(TFileList& oldState, TExpandedFileList& files, TFileList& newState,
                        const TQueryAbort& query);

// Records every readable file of `files` with its stamp and checksum.
void BuildFileState(TFileList& newState, const TExpandedFileList& files, const TQueryAbort& query);

}  // namespace sejfko

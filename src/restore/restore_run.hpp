#pragma once
// Restoring a chain of archives into one directory.
//
// The result is what applying the archives in chain order would give (each archive's deletion
// list first, then its entries, later archives overwriting earlier entries), but the chain's
// directories and deletion lists are read first and every file is then written once, from the
// archive that holds its newest version. Every path stays below the restore directory: names
// that could reach outside are refused entry by entry, and all writing and deleting walks the
// tree without following symlinks (TConfinedDirectory). Each file goes through a temporary file
// renamed into place, so a file that fails part-way leaves the earlier version (or nothing)
// behind, never a torn file. Zero runs become holes; modification times and (from POSIX
// archives) permission bits are restored. Symbolic links (POSIX link entries) are recreated as
// stored, whatever they point to, after every file of the chain is written. The files of an
// archive are read, inflated, checked and written on worker threads (restore_pipeline.hpp) and
// renamed into place in the archive's order on the calling thread, so every outcome below is
// the one of writing them one after the other.
//
// Encrypted archives: each archive's password is checked when its directory is read, before
// anything is written; each entry's authentication code is checked before its temporary file
// is renamed into place, so a file that does not authenticate is never written.
//
// A damaged archive (unreadable directory, CRC-32 or size mismatch, cut-off data) stops the
// whole restore with a message naming the archive and entry; what is restored stays. A full
// disk stops it too. Other problems (a refused name, a file that cannot be written, a bad
// deletion line, an `--only` path found nowhere) are reported and the restore goes on; the
// summary counts them. A stop request (TRestoreOptions::Cancel) is seen between files and
// between the chunks of a file: the file being written is dropped with its temporary file, so
// no partial file ever carries a final name.

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "restore/restore_chain.hpp"

namespace sejfko {

class TCancelEvent;

struct TRestoreOptions {
    std::string Target;             // the restore directory
    std::vector<std::string> Only;  // stored paths or original absolute paths; empty = all
    bool DryRun = false;            // report what would be written and removed, touch nothing
    bool Force = false;             // restore into a directory that is not empty
    // Tried for encrypted archives (the one whose verification value fits is taken). An archive
    // that none fits, or that needs one when none is given, stops the restore before anything
    // is written.
    std::vector<std::string> Passwords;
    // Into a tree in use (the original place): files the chain deleted stay where they are,
    // since a file of that name there now may be one the user made later.
    bool KeepDeleted = false;
    const TCancelEvent* Cancel = nullptr;  // set from any thread: the restore ends early
};

// Receives the course of a restore; called on the restoring thread.
class TRestoreObserver {
public:
    virtual ~TRestoreObserver() = default;
    // Archive `index` (from 1) of `count` begins.
    virtual void ArchiveStarted(const TArchiveRef& /*archive*/, std::size_t /*index*/,
                                std::size_t /*count*/) {}
    // Bytes of the current archive's chosen files written so far, of `total`.
    virtual void Progress(uint64_t /*done*/, uint64_t /*total*/) {}
    // One problem, worded completely in Czech.
    virtual void Problem(const std::string& /*message*/) {}
    // In a dry run: a file that would be removed (`remove`) or written (with its size and its
    // stored modification time, 0 when the archive has none).
    virtual void Planned(bool /*remove*/, const std::string& /*relative*/, uint64_t /*size*/,
                         std::time_t /*modified*/) {}
    // In a dry run: a symbolic link that would be created.
    virtual void PlannedLink(const std::string& /*relative*/, const std::string& /*target*/) {}
};

struct TRestoreSummary {
    std::vector<std::string> Archives;  // names of the archives used, in order
    uint64_t FilesWritten = 0;          // in a dry run: that would be written
    uint64_t FilesRemoved = 0;  // files deleted that were there; in a dry run: paths to delete
    uint64_t BytesWritten = 0;
    uint64_t LinksCreated = 0;  // symbolic links; in a dry run: that would be created
    uint64_t Problems = 0;
    bool Stopped = false;    // a damaged archive or a full disk ended the restore early
    bool Cancelled = false;  // a stop request ended it early

    bool Succeeded() const { return Problems == 0 && !Stopped && !Cancelled; }
};

// Creates the restore directory when missing (not in a dry run). Throws ERestoreError when it
// cannot be created, exists as something else, or holds anything and `force` is not set.
void PrepareRestoreTarget(const std::string& target, bool force, bool dryRun);

// Restores `chain` (as SelectChain gives it) into `options.Target`, which PrepareRestoreTarget
// has prepared. Throws ERestoreError when the directory cannot be opened or an `--only` path
// can never name a stored file; everything else ends in the summary.
TRestoreSummary RestoreChain(const std::vector<TArchiveRef>& chain, const TRestoreOptions& options,
                             TRestoreObserver& observer);

}  // namespace sejfko

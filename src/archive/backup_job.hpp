#pragma once
// The archive job: turns one list of files and directories into one ".fbk" archive.
//
// DoBackup builds the archive as a hidden ".fbk" temporary file in the destination directory
// through the archive component (TZipArchiver), checks free space before and after, and renames
// the finished file into place, so an existing archive of the same name is only ever replaced by
// a complete new one. Every run that ends normally leaves one result text (GetLastMessage) and
// returns true only when the archive is in place. Meant for one calling thread at a time (the
// worker); a second job started while one runs is refused with "Sejfko právě probíhá.".

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sejfko {

// The caller's progress callback: `Percent` as the job reports it (0 first, the component's
// values, -1 at the end of the engine's batch, 100 last); set `Abort` to ask for a stop.
using TBackupProgressEvent = std::function<void(int32_t Percent, bool& Abort)>;

// Relays the archive component's total progress to the caller for one run.
class TProgressObject {
public:
    // Stores the callback and calls it with 0 (its Abort answer is ignored).
    explicit TProgressObject(TBackupProgressEvent onProgress);
    // Passes `perCent` unchanged; throws Exception("Terminate backup") when the callback asks
    // for a stop. `sender` and `totalSize` are not used.
    void ZipTotalProgress(const void* sender, uint64_t totalSize, int32_t perCent);
    // Calls the callback with 100 (its Abort answer is ignored).
    void Finish();
    // True once the callback has asked for a stop during ZipTotalProgress.
    bool StopRequested() const { return FStopRequested; }

private:
    void Call(int32_t percent, bool& abort) const;

    TBackupProgressEvent FOnProgress;
    bool FStopRequested = false;
};

// Jobs in progress (0 or 1).
extern std::atomic<int32_t> RunningJobs;

// The result text of the most recent job (empty before the first and while one runs).
std::string LastMessage();
void GetLastMessage(std::string& text);
// For the worker, between jobs: the result text of a run that ended before its job (the
// selection was refused), and lines the run adds below its job's text (joined with "\n").
void ReplaceLastMessage(const std::string& text);
void AppendToLastMessage(const std::vector<std::string>& lines);
// Names of the files the engine left out of the most recent job's archive (they vanished or
// could not be read); the job still succeeds without them.
std::vector<std::string> LastSkippedFiles();

// What the most recent job that placed an archive did (all empty after a failed one).
struct TJobStatistics {
    std::string Archive;        // file name of the archive
    uint64_t Files = 0;         // entries added
    uint64_t BytesRead = 0;     // bytes of the files as the engine counted them
    uint64_t BytesWritten = 0;  // size of the archive
};
TJobStatistics LastJobStatistics();

// Answers the question "Soubor zálohy '%s' již existuje. Chcete jej přepsat?" for AskOverwrite;
// true replaces the archive. A front end with dialogs installs one; without one the answer is no.
using TOverwriteConfirmation = std::function<bool(const std::string& question)>;
void SetOverwriteConfirmation(TOverwriteConfirmation confirmation);

// Where the archive component looks for the engine library first (its DLLDirectory). Empty, the
// default, leaves the search to the component: the program's directory, the installed library
// directory, the system. Tests point it at the build's engine or at an empty directory.
void SetZipEngineDirectory(const std::string& directory);

// One path to archive, with how the archive job is to take it.
struct TArchiveItem {
    std::string Path;
    // A name the caller found itself (a scan, its own deletion list): taken byte for byte,
    // blanks and control characters included, and never as a pattern. When it is gone by the
    // time the engine looks for it, it is reported as skipped.
    bool Exact = false;
    // Stored at the archive's root under its file name (the deletion list).
    bool AtRoot = false;
    // A symlink the caller's scan met in a tree: stored as the link itself, never followed
    // (with Exact).
    bool Link = false;
};

// What a job needs beyond its arguments.
struct TBackupJobSettings {
    // The record of the newest archive name issued (see archive_name_record.hpp); empty: none.
    std::string NameRecordPath;
    // Non-empty: every entry is encrypted with it (AES-256). At most MaxArchivePasswordLength
    // bytes: the engine takes no more, so a longer one fails the job rather than be cut.
    std::string Password;
};
constexpr std::size_t MaxArchivePasswordLength = 80;

// Archives `Files` (files or directories; a directory with all its subdirectories) into
// `Destination`: a directory (it exists as one, ends with a separator, or its last component has
// no "."), which is created when missing and receives "Backup_yyyymmdd_hhmm[_full].fbk" for the
// installed clock's minute or the next minute free of both kinds; otherwise the archive name
// itself. An existing archive of that name is replaced (by the final rename) when `AskOverwrite`
// and the confirmation answers yes, or when `Overwrite` without asking; otherwise the job fails.
// Returns true when the archive is in place. Fails (false, text in LastMessage) when another job
// runs, the directory cannot be created, the archive exists and may not be replaced, space is
// short, the engine reports a fatal error or writes no archive, the callback asks for a stop
// ("Chyba při zálohování.\n\r(...)"), or the rename fails. Files the engine skips do not fail
// the job: the text then has a second line "Některé soubory nebylo možné zálohovat: N" (joined
// with "\n") and LastSkippedFiles names them. Errors outside the archive build (an empty
// `Destination`, a temporary file that cannot be created) propagate to the caller with
// LastMessage left empty; the temporary file is removed and RunningJobs restored on every path.
// An entry that exists as a file is taken by its exact name (never as a pattern); other entries
// are handed to the engine as file specifications.
bool DoBackup(const std::vector<std::string>& Files, const std::string& Destination, bool Full,
              bool AskOverwrite, const TBackupProgressEvent& OnProgress, bool Overwrite);
// The same for items that say how each path is taken. With a name record in `settings`, a
// generated name is also later than the recorded one, and is recorded before the archive is
// built (the job fails with "Chyba při zálohování." when the record cannot be written). With a
// password in `settings` the entries are encrypted; a password over MaxArchivePasswordLength
// bytes fails the job before anything is built.
bool DoBackup(const std::vector<TArchiveItem>& Items, const std::string& Destination, bool Full,
              bool AskOverwrite, const TBackupProgressEvent& OnProgress, bool Overwrite,
              const TBackupJobSettings& settings = {});

}  // namespace sejfko

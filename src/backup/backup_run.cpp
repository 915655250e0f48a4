// One backup run on the worker thread: selection, complete-or-incremental choice, archive job,
// pruning, state and bookkeeping. The closing steps (deletion list removed, next run planned,
// "running" cleared) live in the destructor of TRunClosing, so they happen on every way out:
// normal end, terminate request, missing selection file and exception alike.

#include <algorithm>
#include <string>
#include <vector>

#include "archive/archive_name_record.hpp"
#include "archive/backup_job.hpp"
#include "backup/backup_thread.hpp"
#include "backup/file_list.hpp"
#include "backup/file_scan.hpp"
#include "backup/incremental_state.hpp"
#include "backup/retention.hpp"
#include "backup/run_history.hpp"
#include "backup/selection_file.hpp"
#include "backup/selection_report.hpp"
#include "backup/update_batch.hpp"
#include "config/options.hpp"
#include "platform/clock.hpp"
#include "platform/data_directory.hpp"
#include "platform/exceptions.hpp"
#include "platform/file_system.hpp"
#include "platform/message_sink.hpp"

namespace sejfko {

class TBackupThread::TRunClosing {
public:
    explicit TRunClosing(TBackupThread& thread) : FThread(thread) {}
    TRunClosing(const TRunClosing&) = delete;
    TRunClosing& operator=(const TRunClosing&) = delete;

    ~TRunClosing() {
        try {
            if (BatchMayExist) {
                DeleteUpdateBatch();
            }
            FThread.ComputeNextRun(false);
        } catch (...) {
            // The run's own exception (if any) is already on its way to the display.
            ShowException(std::current_exception());
        }
        try {
            if (Record.Result.empty()) {
                Record.Result = FThread.Terminated() ? "Zálohování bylo přerušeno."
                                                     : "Zálohování skončilo neúspěšně.";
            }
            Record.End = Now();
            AppendHistory(Options.Directory(), Record);
        } catch (...) {
            // The history is a report: a run never fails for it.
        }
        FThread.BackupRunning.store(false);
    }

    // Set before the deletion list may be written: also a list torn by an exception goes.
    bool BatchMayExist = false;
    // What the history keeps of this run; filled in as the run goes.
    THistoryRecord Record;

private:
    TBackupThread& FThread;
};

namespace {

void PostStatus(TBackupStatus status, intptr_t value = 0) {
    PostToMain(WM_BACKUP_STATUS, status, value);
}

// The stored state, or an empty list when the file is missing or cannot be parsed: a state that
// cannot be trusted leads to a complete backup instead of a run that stops on every pass.
bool LoadPreviousState(TFileList& state, const std::string& path) {
    try {
        return state.LoadFromFile(path);
    } catch (const Exception&) {
        state.Clear();
        return false;
    }
}

// What the incremental archive holds: names the scan found, taken exactly as they are.
std::vector<TArchiveItem> ChangedItems(const TExpandedFileList& files) {
    std::vector<TArchiveItem> items;
    items.reserve(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        const TScannedFile file = files.At(i);
        std::string name(file.Name);
        const bool batch = IsUpdateBatchPath(name);
        items.push_back(TArchiveItem{std::move(name), true, batch, file.Link});
    }
    return items;
}

// The selection's own entries, for a complete archive: typed by a person, so an entry that names
// no file may be a pattern; one that names a file is that file.
// The links the exclusions met below an entry go as links (the engine keeps the others it meets).
std::vector<TArchiveItem> SelectionItems(const TStringList& entries, const TStringList& links) {
    std::vector<TArchiveItem> items;
    items.reserve(entries.size() + links.size());
    for (const std::string& entry : entries) {
        items.push_back(TArchiveItem{entry, FileExists(entry), false});
    }
    for (const std::string& link : links) {
        items.push_back(TArchiveItem{link, true, false, true});
    }
    return items;
}

// A file the archive job had to leave out is not in this archive: it keeps the record of the
// version that is in an earlier one (`previous`), or gets none when there is no such version, so
// the next run archives it, or lists it as deleted when it is gone.
void RestoreSkippedFiles(TFileList& state, const TFileList& previous) {
    TFileItem item;
    for (const std::string& name : LastSkippedFiles()) {
        for (int index = state.IndexOf(name); index >= 0; index = state.IndexOf(name)) {
            state.Delete(index);
        }
        const int before = previous.IndexOf(name);
        if (before >= 0) {
            previous.GetItem(before, item);
            state.Add(item.Name, item.Stamp, item.Crc);
        }
    }
}

// The archive among `after` that `before` did not have; empty when there is not exactly one.
std::string NewArchiveName(const std::vector<std::string>& before,
                           const std::vector<std::string>& after) {
    std::string found;
    for (const std::string& name : after) {
        if (std::find(before.begin(), before.end(), name) == before.end()) {
            if (!found.empty()) {
                return {};
            }
            found = name;
        }
    }
    return found;
}

}  // namespace

void TBackupThread::RunBackup() {
    // Planned from the start, so that even a failing options file moves NextRun on instead of
    // starting the same failing run on every pass.
    TRunClosing closing(*this);
    closing.Record.Start = Now();
    try {
        RunBackupSteps(closing);
    } catch (const std::exception& error) {
        closing.Record.Result = error.what();
        throw;
    }
}

void TBackupThread::RunBackupSteps(TRunClosing& closing) {
    const TDateTime previousLastRun = Options.LastRun();
    Options.SetLastRun(NeverMarker);
    bool failed = false;
    const TDateTime startTime = Now();
    FLastArchive.clear();
    FLastRunChangedNothing = false;
    BackupRunning.store(true);
    PostStatus(bsRunStarted);
    if (Terminated()) {
        return;
    }

    TStringList includeList;
    TStringList excludeList;
    TStringList treeLinks;  // symlinks the exclusions met below an entry
    std::vector<TArchiveItem> fileList;
    TFileList newState;
    TFileList previousOfChanged;
    const TQueryAbort query = [this](bool& abort) { QueryTerminated(abort); };

    const std::string selection = ResolveDataPath(Options.Directory(), Options.FileChoose());
    std::string refusal;
    const TSelectionResult read = ReadSelectionFile(selection, includeList, excludeList, &refusal);
    FSelectionMissing = read == TSelectionResult::Unreadable;
    if (read == TSelectionResult::Unreadable) {
        closing.Record.Result = SelectionMissingMessage;
        PostToMain(WM_SELECTION_MISSING);
        FSkipRestOfPass = true;
        return;
    }
    if (read == TSelectionResult::Refused) {
        closing.Record.Result = refusal;
        ReplaceLastMessage(refusal);  // a failed run: no archive, "Last run" stays never
        PostStatus(bsRunFinished);
        return;
    }
    const std::vector<std::string> missingEntries = MissingEntryLines(includeList);
    if (Terminated()) {
        return;
    }
    PostStatus(bsSelectionRead);
    ApplyExclusions(includeList, excludeList, query, &treeLinks);
    if (Terminated()) {
        return;
    }

    const TBackupKind kind = Options.BackupKind();
    const bool incrementalKind = kind == bkIncWeek || kind == bkIncMonth;
    bool complete = false;
    if (kind == bkFull) {
        fileList = SelectionItems(includeList, treeLinks);
        complete = true;
        // A later switch to an incremental kind must start from a complete backup.
        DeleteFile(IncSelectPath);
    } else if (incrementalKind) {
        // The scan feeds the comparison (or the new state) file by file: nothing of the tree is
        // held but the states and what goes into the archive.
        TFileList oldState;
        const bool incremental =
            IsIncrementalRun(previousLastRun) && LoadPreviousState(oldState, IncSelectPath);
        if (incremental) {
            closing.BatchMayExist = true;
            TChangeSelector selector(oldState, newState, &previousOfChanged);
            const TScanSink offer = [&](const TScannedFile& file) { selector.Offer(file, query); };
            ScanSelection(includeList, query, offer);
            ScanTreeLinks(treeLinks, offer);
            if (Terminated()) {
                return;
            }
            selector.Finish();
            fileList = ChangedItems(selector.Changed());
            complete = false;
        } else {
            oldState.Clear();
            newState.Clear();
            ScanSelection(includeList, query,
                          [&](const TScannedFile& file) { AddFileState(newState, file, query); });
            ScanTreeLinks(treeLinks,
                          [&](const TScannedFile& file) { AddFileState(newState, file, query); });
            if (Terminated()) {
                return;
            }
            fileList = SelectionItems(includeList, treeLinks);
            complete = true;
        }
    }

    closing.Record.Kind = complete ? HistoryComplete : HistoryIncremental;
    LastPercent.store(0);
    PostStatus(bsArchiveProgress, 0);
    if (Terminated()) {
        return;
    }

    if (!fileList.empty()) {
        const bool local = Options.SavingKind() == skLocal;
        std::string destination =
            local ? Options.LocalDirectory() : Options.LocalTemporaryDirectory();
        if (destination.empty()) {
            throw Exception(local ? "Není zadána složka pro ukládání záloh."
                                  : "Není zadána dočasná složka pro zálohy čekající na přenos.");
        }
        // Always a directory, whatever dots its name has.
        destination = IncludeTrailingPathDelimiter(destination);
        const std::vector<std::string> before =
            local ? ListArchiveNames(destination) : std::vector<std::string>();
        const TBackupProgressEvent progress = [this](int32_t percent, bool& abort) {
            ArchiveProgress(percent, abort);
        };
        TBackupJobSettings settings;
        settings.NameRecordPath = ResolveDataPath(Options.Directory(), ArchiveNameRecordName);
        settings.Password = Options.ArchivePassword();
        const bool archived =
            DoBackup(fileList, destination, complete, false, progress, true, settings);
        AppendToLastMessage(missingEntries);
        if (archived) {
            const TJobStatistics statistics = LastJobStatistics();
            closing.Record.Archive = statistics.Archive;
            closing.Record.Files = statistics.Files;
            closing.Record.BytesRead = statistics.BytesRead;
            closing.Record.BytesWritten = statistics.BytesWritten;
            for (const std::string& skipped : LastSkippedFiles()) {
                closing.Record.AddSkipped(skipped);
            }
            Options.SetLastRun(startTime);
            if (local) {
                FLastArchive = NewArchiveName(before, ListArchiveNames(destination));
                PruneLocalBackups();
            } else {
                Options.SetFileCountForTransfer(Options.FileCountForTransfer() + 1);
            }
        } else {
            failed = true;
        }
    }
    if (Terminated()) {
        return;
    }

    if (!failed && incrementalKind) {
        PostStatus(bsSavingSelection);
        RestoreSkippedFiles(newState, previousOfChanged);
        newState.SaveToFile(IncSelectPath);
        if (fileList.empty()) {
            // Nothing changed: the saved state is exactly the files as they were at the start,
            // which is what a successful run records.
            Options.SetLastRun(startTime);
            FLastRunChangedNothing = true;
            closing.Record.Kind = HistoryNothingChanged;
        }
    }
    if (Terminated()) {
        return;
    }
    closing.Record.Succeeded = !failed && Options.LastRun() > NeverMarker;
    closing.Record.Result =
        FLastRunChangedNothing ? "Od poslední zálohy se nic nezměnilo." : LastMessage();
    PostStatus(bsRunFinished);
}

}  // namespace sejfko

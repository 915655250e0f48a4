#include "archive/backup_job.hpp"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>

#include "archive/archive_name_record.hpp"
#include "archive/archive_naming.hpp"
#include "archive/archive_space.hpp"
#include "archive/zip_archiver.hpp"
#include "platform/clock.hpp"
#include "platform/exceptions.hpp"
#include "platform/file_system.hpp"
#include "platform/temp_file.hpp"

namespace sejfko {

std::atomic<int32_t> RunningJobs{0};

namespace {

constexpr const char* BuildFailureText = "Chyba při zálohování.";
constexpr const char* NothingToArchiveText = "Nebyly nalezeny žádné soubory k zálohování.";
constexpr const char* NoArchiveText = "Archiv nebyl vytvořen.";
constexpr const char* TerminateText = "Terminate backup";

// The job's unit-level values: written by the job's thread, read by front ends after the job.
std::mutex GStateLock;
std::string GLastMessage;
std::vector<std::string> GSkippedFiles;
TJobStatistics GStatistics;
TOverwriteConfirmation GConfirmation;
std::string GEngineDirectory;

void SetLastMessage(const std::string& text) {
    std::lock_guard<std::mutex> guard(GStateLock);
    GLastMessage = text;
}

std::string CurrentEngineDirectory() {
    std::lock_guard<std::mutex> guard(GStateLock);
    return GEngineDirectory;
}

std::string BuildFailure(const std::string& reason) {
    return std::string(BuildFailureText) + "\n\r(" + reason + ")";
}

// What the add step produced, as the job judges it (fatal engine errors, a stop and a missing
// archive fail the run; skipped files do not).
struct TAddOutcome {
    bool Failed = false;
    std::string Reason;
    std::vector<std::string> Skipped;
    uint64_t Files = 0;
    uint64_t BytesRead = 0;
    std::string SpaceMessage;  // the selection needs more room than the temporary volume has
};

// The check of the room for the temporary archive, on the selection's total: the text that
// refuses the run, or nothing.
std::string TempSpaceShortfall(const std::string& tempName, uint64_t selectionSize) {
    const int64_t tempFree = FreeSpace(ExtractFileDir(tempName));
    if (tempFree >= 0 && static_cast<double>(selectionSize) / 2.0 > static_cast<double>(tempFree)) {
        return TempSpaceMessage(VolumeLabel(tempName), static_cast<double>(selectionSize) / 2.0 -
                                                           static_cast<double>(tempFree));
    }
    return {};
}

// The engine writes into the temporary file the job created, or leaves it empty when it wrote
// nothing (it removes what it wrote when it fails).
bool ArchiveWritten(const std::string& tempName) {
    const TFileStatus status = GetFileStatus(tempName, false);
    return status.Kind == TEntryKind::Regular && status.Size > 0;
}

TAddOutcome BuildArchive(const std::vector<TArchiveItem>& items, const std::string& tempName,
                         const std::string& password, TProgressObject& progress) {
    TAddOutcome outcome;
    std::string engineFailure;  // the first fatal message the engine sent
    int32_t addedCount = 0;
    {
        TZipArchiver zip;
        zip.Unattended = true;
        zip.DLLDirectory = CurrentEngineDirectory();
        zip.OnTotalProgress = [&progress](TZipArchiver* sender, uint64_t totalSize,
                                          int32_t perCent) {
            progress.ZipTotalProgress(sender, totalSize, perCent);
        };
        // The engine calls back now and then while it finds the files (before any percentage).
        zip.OnTick = [&progress](TZipArchiver* sender) { progress.ZipTotalProgress(sender, 0, 0); };
        // The engine's first walk sums the selection before it writes anything: the room for
        // the temporary archive is judged on that sum, which spares a walk of its own over a
        // tree of millions of files. Throwing from the event stops the engine.
        zip.OnProgress = [&outcome, &tempName](TZipArchiver*, TProgressType kind,
                                               const std::string&, uint64_t size) {
            if (kind == TotalSize2Process) {
                outcome.SpaceMessage = TempSpaceShortfall(tempName, size);
                if (!outcome.SpaceMessage.empty()) {
                    throw std::runtime_error(outcome.SpaceMessage);
                }
            }
        };
        zip.OnMessage = [&engineFailure](TZipArchiver*, int32_t errCode, const std::string& text) {
            const int32_t code = errCode & 0xFF;
            if (errCode != 0 && code != zecSkipped && engineFailure.empty()) {
                engineFailure = text;
            }
        };
        zip.AddOptions = TAddOptions{AddDirNames, AddHiddenFiles};
        if (!password.empty()) {
            zip.Password = password;
            zip.AddOptions.Include(AddEncrypt);
        }
        zip.SetZipFileName(tempName);
        zip.FSpecArgs.clear();
        zip.FSpecExtras.clear();
        for (const TArchiveItem& item : items) {
            if (item.Link && item.Exact) {
                zip.FSpecArgs.push_back(item.Path);
                zip.FSpecExtras.push_back({std::string(), true, true});
            } else if (DirectoryExists(item.Path)) {
                zip.FSpecArgs.push_back(">" + IncludeTrailingPathDelimiter(item.Path) + "*.*");
                zip.FSpecExtras.emplace_back();
            } else {
                zip.FSpecArgs.push_back(item.Path);
                // The deletion list lies in a private temporary directory; a restore looks for
                // it at the archive's root.
                zip.FSpecExtras.push_back(
                    {item.AtRoot ? ExtractFileDir(item.Path) : std::string(), item.Exact});
            }
        }
        zip.Add();
        progress.Finish();
        addedCount = zip.AddedCount();
        outcome.Skipped = zip.SkippedFiles();
        outcome.Files = static_cast<uint64_t>(std::max(addedCount, 0));
        outcome.BytesRead = zip.TotalBytes();
        const int32_t errorCode = zip.ErrorCode();
        if (!outcome.SpaceMessage.empty()) {
            outcome.Failed = true;
        } else if (progress.StopRequested()) {
            outcome.Failed = true;
            outcome.Reason = TerminateText;
        } else if (items.empty() || errorCode == zaeNothingToAdd || errorCode == zecNothingToDo) {
            outcome.Failed = true;
            outcome.Reason = NothingToArchiveText;
        } else if (errorCode != 0 && errorCode != zecSkipped) {
            outcome.Failed = true;
            outcome.Reason = !engineFailure.empty() ? engineFailure : zip.ErrorMessage();
        }
    }
    if (!outcome.Failed && !ArchiveWritten(tempName)) {
        // Without an error, an engine that added nothing and wrote nothing found nothing.
        outcome.Failed = true;
        outcome.Reason = !engineFailure.empty() ? engineFailure
                         : addedCount == 0      ? NothingToArchiveText
                                                : NoArchiveText;
    }
    return outcome;
}

}  // namespace

TProgressObject::TProgressObject(TBackupProgressEvent onProgress)
    : FOnProgress(std::move(onProgress)) {
    bool ignored = false;
    Call(0, ignored);
}

void TProgressObject::ZipTotalProgress(const void* /*sender*/, uint64_t /*totalSize*/,
                                       int32_t perCent) {
    bool abort = false;
    Call(perCent, abort);
    if (abort) {
        FStopRequested = true;
        throw Exception(TerminateText);
    }
}

void TProgressObject::Finish() {
    bool ignored = false;
    Call(100, ignored);
}

void TProgressObject::Call(int32_t percent, bool& abort) const {
    if (FOnProgress) {
        FOnProgress(percent, abort);
    }
}

std::string LastMessage() {
    std::lock_guard<std::mutex> guard(GStateLock);
    return GLastMessage;
}

TJobStatistics LastJobStatistics() {
    std::lock_guard<std::mutex> guard(GStateLock);
    return GStatistics;
}

void GetLastMessage(std::string& text) {
    text = LastMessage();
}

void ReplaceLastMessage(const std::string& text) {
    std::lock_guard<std::mutex> guard(GStateLock);
    GLastMessage = text;
    GSkippedFiles.clear();
}

void AppendToLastMessage(const std::vector<std::string>& lines) {
    std::lock_guard<std::mutex> guard(GStateLock);
    for (const std::string& line : lines) {
        GLastMessage += (GLastMessage.empty() ? "" : "\n") + line;
    }
}

std::vector<std::string> LastSkippedFiles() {
    std::lock_guard<std::mutex> guard(GStateLock);
    return GSkippedFiles;
}

void SetOverwriteConfirmation(TOverwriteConfirmation confirmation) {
    std::lock_guard<std::mutex> guard(GStateLock);
    GConfirmation = std::move(confirmation);
}

void SetZipEngineDirectory(const std::string& directory) {
    std::lock_guard<std::mutex> guard(GStateLock);
    GEngineDirectory = directory;
}

namespace {

// Step 12 on every path once the job has counted itself in: the temporary archive goes and the
// counter comes back down.
class TJobCleanup {
public:
    ~TJobCleanup() {
        if (!TempName.empty() && GetFileStatus(TempName, false).Kind != TEntryKind::Missing) {
            DeleteFile(TempName);
        }
        if (TempHandle >= 0) {
            ::close(TempHandle);
        }
        if (RunningJobs.fetch_sub(1) <= 0) {
            RunningJobs = 0;
        }
    }
    std::string TempName;
    int TempHandle = -1;  // holds the temporary file locked as in use
};

bool ConfirmOverwrite(const std::string& archiveName) {
    TOverwriteConfirmation confirmation;
    {
        std::lock_guard<std::mutex> guard(GStateLock);
        confirmation = GConfirmation;
    }
    return confirmation &&
           confirmation("Soubor zálohy '" + archiveName + "' již existuje. Chcete jej přepsat?");
}

// Step 4; an empty optional after setting the failure text.
std::optional<std::string> ArchiveName(const std::string& destination, bool full,
                                       const TBackupJobSettings& settings) {
    if (!IsDirectoryDestination(destination)) {
        return destination;
    }
    if (destination.empty()) {
        ForceDirectories(destination);  // raises its own error, which leaves the job
    }
    try {
        ForceDirectories(destination);
    } catch (const EOSError&) {
        // judged below by what exists
    }
    if (!DirectoryExists(destination)) {
        SetLastMessage("Chyba vytvoření složky pro zálohování '" + destination + "'.");
        return std::nullopt;
    }
    if (settings.NameRecordPath.empty()) {
        return GenerateArchiveName(AbsolutePath(destination), Now(), full);
    }
    // Recorded before anything is built: a name once issued is never issued again, whatever
    // becomes of its archive.
    const TArchiveNameRecord record(settings.NameRecordPath);
    std::string name =
        GenerateArchiveName(AbsolutePath(destination), Now(), full, record.LastStamp());
    try {
        record.Store(ExtractFileName(name));
    } catch (const std::exception& error) {
        SetLastMessage(BuildFailure(error.what()));
        return std::nullopt;
    }
    return name;
}

std::string SkippedLine(std::size_t count) {
    return "\nNěkteré soubory nebylo možné zálohovat: " + std::to_string(count);
}

// Archives are private like the rest of the backup data.
void MakePrivate(const std::string& path) {
    std::error_code ignored;
    std::filesystem::permissions(
        path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
        std::filesystem::perm_options::replace, ignored);
}

}  // namespace

bool DoBackup(const std::vector<std::string>& Files, const std::string& Destination, bool Full,
              bool AskOverwrite, const TBackupProgressEvent& OnProgress, bool Overwrite) {
    std::vector<TArchiveItem> items;
    items.reserve(Files.size());
    for (const std::string& file : Files) {
        // A file the caller names is that file, whatever "*" or "?" its name holds.
        items.push_back(TArchiveItem{file, FileExists(file), false});
    }
    return DoBackup(items, Destination, Full, AskOverwrite, OnProgress, Overwrite);
}

bool DoBackup(const std::vector<TArchiveItem>& Items, const std::string& Destination, bool Full,
              bool AskOverwrite, const TBackupProgressEvent& OnProgress, bool Overwrite,
              const TBackupJobSettings& settings) {
    {
        std::lock_guard<std::mutex> guard(GStateLock);
        GLastMessage.clear();
        GSkippedFiles.clear();
        GStatistics = {};
    }
    int32_t idle = 0;
    if (!RunningJobs.compare_exchange_strong(idle, 1)) {
        SetLastMessage("Sejfko právě probíhá.");
        return false;
    }
    TJobCleanup cleanup;
    if (settings.Password.size() > MaxArchivePasswordLength) {
        SetLastMessage(BuildFailure("Heslo archivu je delší než " +
                                    std::to_string(MaxArchivePasswordLength) +
                                    " bajtů; zkraťte ho v nastavení."));
        return false;
    }

    const std::optional<std::string> archiveName = ArchiveName(Destination, Full, settings);
    if (!archiveName) {
        return false;
    }

    // An existing archive is never deleted here: the final rename replaces it, so a failed
    // build leaves it as it was.
    if (GetFileStatus(*archiveName, false).Kind != TEntryKind::Missing) {
        if (AskOverwrite) {
            if (!ConfirmOverwrite(*archiveName)) {
                SetLastMessage("Záloha skončila neúspěsně.");
                return false;
            }
        } else if (!Overwrite) {
            SetLastMessage("Soubor zálohy '" + *archiveName +
                           "' již existuje. Záloha skončila neúspěšně.");
            return false;
        }
    }

    // The temporary archive lives beside its destination: the space check below is for the
    // volume that keeps the archive and the final step is a rename within one directory. The
    // engine writes into the file created here, so the name is never free for someone else to
    // plant a link under (the engine refuses to write through one).
    const std::string archiveDirectory = ExtractFileDir(*archiveName);
    const std::string tempDirectory = archiveDirectory.empty() ? "." : archiveDirectory;
    // What a job killed half-way left there; a job running now holds its file locked.
    RemoveStaleTemporaries(tempDirectory, ".fbk", 6);
    cleanup.TempName = CreateLockedTempFile(tempDirectory, ".fbk", cleanup.TempHandle);
    const std::string& tempName = cleanup.TempName;

    TAddOutcome outcome;
    try {
        TProgressObject progress(OnProgress);
        outcome = BuildArchive(Items, tempName, settings.Password, progress);
    } catch (const std::exception& error) {
        outcome.Failed = true;
        outcome.Reason = error.what();
    }
    if (!outcome.SpaceMessage.empty()) {
        SetLastMessage(outcome.SpaceMessage);
        return false;
    }
    if (outcome.Failed) {
        SetLastMessage(BuildFailure(outcome.Reason));
        return false;
    }

    MakePrivate(tempName);
    try {
        MoveFile(tempName, *archiveName);
    } catch (const std::exception&) {
        SetLastMessage("Chyba při kopírování souboru '" + tempName + "' do '" + *archiveName +
                       "'.");
        return false;
    }
    SyncDirectory(archiveDirectory.empty() ? "." : archiveDirectory);

    std::string result = "Záloha byla úspěšně dokončena.";
    if (!outcome.Skipped.empty()) {
        result += SkippedLine(outcome.Skipped.size());
    }
    const TFileStatus archive = GetFileStatus(*archiveName);
    std::lock_guard<std::mutex> guard(GStateLock);
    GStatistics = {ExtractFileName(*archiveName), outcome.Files, outcome.BytesRead,
                   static_cast<uint64_t>(std::max<int64_t>(archive.Size, 0))};
    GSkippedFiles = std::move(outcome.Skipped);
    GLastMessage = std::move(result);
    return true;
}

}  // namespace sejfko

// TBackupThread::TransferBackup: sends one waiting archive to the FTP server, deletes the local
// copy, counts it, and prunes the server to "Backup count". Runs on the worker thread (or a
// command-line process's main thread); blocks it for the upload, bounded by the client's time
// limits. A terminate request is seen at fixed points and on every progress event of the
// upload, where TransferWork raises "Terminate transfer" to stop it; every network wait watches
// the request too (the worker's terminate event), so a silent or stalled server ends the call
// within moments of it.

#include "transfer/transfer_backup.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

#include "backup/backup_thread.hpp"
#include "backup/retention.hpp"
#include "backup/run_history.hpp"
#include "config/options.hpp"
#include "platform/clock.hpp"
#include "platform/data_directory.hpp"
#include "platform/exceptions.hpp"
#include "platform/file_system.hpp"
#include "platform/message_sink.hpp"
#include "transfer/ftp_address.hpp"
#include "transfer/ftp_listing.hpp"
#include "transfer/net_errors.hpp"
#include "transfer/net_ftp.hpp"
#include "transfer/sent_archives.hpp"

namespace sejfko {

namespace {

// Refusals are expected here: usually there is no such file. Other failures (the connection
// lost or out of step after a time-out) fail the steps that follow as they should.
void DeleteIfThere(TNetFTP& ftp, const std::string& name) {
    try {
        ftp.Delete(name);
    } catch (const ENetProtocolReplyError&) {
    }
}

// The archive travels under a hidden temporary name and takes its own only when whole, so a
// lost connection or a killed process never leaves a torn archive that a restore would trust.
// The temporary name is fixed per archive: the next attempt, which sends the same archive,
// removes what a broken one left. A server that cannot rename gets a plain upload.
void SendArchive(TNetFTP& ftp, const std::string& localPath, const std::string& name) {
    const std::string partial = "." + name + ".part";
    DeleteIfThere(ftp, partial);
    ftp.Put(localPath, partial, false);
    DeleteIfThere(ftp, name);
    try {
        ftp.Rename(partial, name);
    } catch (const ENetProtocolReplyError&) {
        DeleteIfThere(ftp, partial);
        ftp.Put(localPath, name, false);
    }
}

// A transfer that reached the server leaves one record in the history however it ends. Attempts
// that never got that far are retried silently every minute and would only crowd the history.
struct TTransferHistory {
    THistoryRecord Record;
    bool Armed = false;

    ~TTransferHistory() {
        if (!Armed) {
            return;
        }
        Record.End = Now();
        if (Record.Succeeded) {
            Record.Result = "Přenos je dokončen";
        } else {
            Record.Result = LastTransferErrorText();
            if (Record.Result.empty()) {
                Record.Result = "Přenos byl přerušen.";
            }
        }
        AppendHistory(Options.Directory(), Record);
    }
};

std::mutex ErrorLock;
std::string ErrorText;

void SetErrorText(const std::string& text) {
    std::lock_guard lock(ErrorLock);
    ErrorText = text;
}

std::string TextOf(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& failure) {
        return failure.what();
    } catch (...) {
        return "Neznámá chyba";
    }
}

// The percentage last posted by this thread's upload: a display changes only when it moves.
thread_local int32_t LastPostedPercent = -1;

void PostStatus(TBackupStatus status, intptr_t parameter = 0) {
    PostToMain(WM_BACKUP_STATUS, status, parameter);
}

// Clears TransferRunning last on every way out.
class TRunningFlag {
public:
    explicit TRunningFlag(std::atomic<bool>& flag) : FFlag(flag) { FFlag.store(true); }
    ~TRunningFlag() { FFlag.store(false); }
    TRunningFlag(const TRunningFlag&) = delete;
    TRunningFlag& operator=(const TRunningFlag&) = delete;

private:
    std::atomic<bool>& FFlag;
};

}  // namespace

bool NextWaitingArchive(const std::string& directory, std::string& name,
                        const std::vector<std::string>& sent) {
    name.clear();
    std::vector<TDirectoryEntry> entries;
    int error = 0;
    if (!ListDirectory(directory, entries, &error)) {
        return error == ENOENT || error == ENOTDIR;
    }
    std::vector<std::string> names;
    for (const TDirectoryEntry& entry : entries) {
        // A link or anything but a plain file is never sent and then deleted.
        if (entry.Kind == TEntryKind::Regular && IsRemoteArchiveName(entry.Name) &&
            std::find(sent.begin(), sent.end(), entry.Name) == sent.end()) {
            names.push_back(entry.Name);
        }
    }
    if (!names.empty()) {
        SortArchiveNames(names);
        name = names.front();
    }
    return true;
}

std::string LastTransferErrorText() {
    std::lock_guard lock(ErrorLock);
    return ErrorText;
}

void TBackupThread::TransferWorkBegin(TNetComponent*, TWorkMode, int64_t AWorkCountMax) {
    PostStatus(bsTransferProgress, 0);
    LastPostedPercent = 0;
    TransferTotal.store(AWorkCountMax);
}

void TBackupThread::TransferWork(TNetComponent*, TWorkMode, int64_t AWorkCount) {
    const int64_t total = TransferTotal.load();
    if (total > 0) {
        // Halves round to even, as the display has always rounded.
        const auto percent = static_cast<int32_t>(
            std::nearbyint(static_cast<double>(AWorkCount) / static_cast<double>(total) * 100.0));
        if (percent != LastPostedPercent) {
            LastPostedPercent = percent;
            PostStatus(bsTransferProgress, percent);
        }
    }
    if (Terminated()) {
        throw Exception("Terminate transfer");
    }
}

void TBackupThread::TransferWorkEnd(TNetComponent*, TWorkMode) {
    LastPostedPercent = 100;
    PostStatus(bsTransferProgress, 100);
}

bool TBackupThread::TransferBackup() {
    TRunningFlag running(TransferRunning);
    SetErrorText("");
    if (Terminated()) {
        return false;
    }
    const std::string directory = Options.LocalTemporaryDirectory();
    const TSentArchives sent(ResolveDataPath(Options.Directory(), SentArchivesName));
    sent.DeleteLocalCopies(directory);
    std::string name;
    TTransferHistory history;
    if (!NextWaitingArchive(directory, name, sent.Names())) {
        SetErrorText("Dočasný adresář \"" + directory + "\" nelze přečíst.");
        return false;
    }
    if (name.empty()) {
        Options.SetFileCountForTransfer(0);
    } else {
        TFtpAddress address;
        if (!ParseFtpAddress(Options.RemoteHost(), address)) {
            SetErrorText("Neplatná adresa serveru \"" + Options.RemoteHost() + "\".");
            return false;
        }
        history.Record.Start = Now();
        history.Record.Kind = HistoryTransfer;
        history.Record.Archive = name;
        history.Record.Files = 1;
        auto ftp = std::make_unique<TNetFTP>();
        ftp->Host = address.Host;
        ftp->Port = address.Port;
        ftp->User = Options.RemoteUser();
        ftp->Password = Options.RemotePassword();
        ftp->Passive = Options.PassiveMode() != 0;
        ftp->UseTls = Options.FtpSecurity() != 0;
        ftp->PinnedFingerprint = Options.FtpCertificate();
        ftp->CancelEvent = &FTerminateEvent;
        ftp->OnWork = [this](TNetComponent* s, TWorkMode m, int64_t c) { TransferWork(s, m, c); };
        ftp->OnWorkBegin = [this](TNetComponent* s, TWorkMode m, int64_t c) {
            TransferWorkBegin(s, m, c);
        };
        ftp->OnWorkEnd = [this](TNetComponent* s, TWorkMode m) { TransferWorkEnd(s, m); };
        if (Terminated()) {
            return false;
        }
        try {
            ftp->Connect(true);
        } catch (...) {
            // Unreachable or refusing servers are tried again later without bothering the user.
            if (!Terminated()) {
                SetErrorText(TextOf(std::current_exception()));
            }
            return false;
        }
        PostStatus(bsTransferStarted);
        history.Armed = true;
        try {
            if (Terminated()) {
                ftp->Disconnect();
                return false;
            }
            SendArchive(*ftp, IncludeTrailingPathDelimiter(directory) + name, name);
            history.Record.BytesRead = history.Record.BytesWritten =
                static_cast<uint64_t>(std::max<int64_t>(0, TransferTotal.load()));
            int deleteError = 0;
            const bool deleted =
                DeleteFile(IncludeTrailingPathDelimiter(directory) + name, &deleteError);
            bool listed = deleted;
            if (!deleted) {
                try {
                    sent.Add(name);
                    listed = true;
                } catch (const std::exception&) {
                    // Not listed: the next call sends it again, which replaces the server's copy
                    // with the same archive.
                }
            }
            if (listed) {
                // Never below zero: the options dialog may have reset the count meanwhile.
                Options.SetFileCountForTransfer(std::max(0, Options.FileCountForTransfer() - 1));
                Options.SetLastTransfer(Now());
            }
            if (!deleted) {
                throw Exception("Archiv \"" + name +
                                "\" je na serveru, ale z dočasné složky ho nelze smazat (" +
                                SystemErrorMessage(deleteError) + ").");
            }
            if (Terminated()) {
                ftp->Disconnect();
                return false;
            }
            ftp->OnWork = nullptr;
            ftp->OnWorkBegin = nullptr;
            ftp->OnWorkEnd = nullptr;
            std::vector<std::string> listing;
            ftp->ListNames(listing, ArchiveMask);
            std::vector<std::string> remote = RemoteArchiveNames(listing);
            for (const std::string& surplus :
                 ArchivesToPrune(remote, Options.BackupCount(), name)) {
                if (Terminated()) {
                    ftp->Disconnect();
                    return false;
                }
                ftp->Delete(surplus);
            }
            ftp->Disconnect();
        } catch (...) {
            try {
                ftp->Disconnect();
            } catch (...) {
            }
            if (Terminated()) {
                return false;
            }
            SetErrorText(TextOf(std::current_exception()));
            PostStatus(bsTransferFailed);
            PostStatus(bsIdle);
            return false;
        }
    }
    if (Terminated()) {
        return false;
    }
    history.Record.Succeeded = true;
    PostStatus(bsTransferDone);
    PostStatus(bsIdle);
    return true;
}

}  // namespace sejfko

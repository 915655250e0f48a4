#include "restore/restore_run.hpp"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <deque>
#include <exception>
#include <memory>
#include <optional>
#include <set>
#include <string_view>
#include <utility>

#include "archive/zip_reader.hpp"
#include "platform/cancel_event.hpp"
#include "platform/confined_directory.hpp"
#include "platform/file_system.hpp"
#include "restore/deletion_list.hpp"
#include "restore/path_picks.hpp"
#include "restore/restore_path.hpp"
#include "restore/restore_pipeline.hpp"

namespace sejfko {

namespace {

// File types in the high half of the external attributes of archives made on
// POSIX.
constexpr uint32_t TypeMask = 0170000;
constexpr uint32_t TypeRegular = 0100000;
constexpr uint32_t TypeDirectory = 0040000;
constexpr uint32_t TypeSymlink = 0120000;

bool MadeOnPosix(const TZipDirEntry& entry) {
    return (entry.VersionMadeBy >> 8) == 3;
}

uint32_t PosixType(const TZipDirEntry& entry) {
    return MadeOnPosix(entry) ? (entry.ExternalAttributes >> 16) & TypeMask : 0;
}

// The whole restore ends on these: every further file would fail alike.
bool StopsRestore(int code) {
    return code == ENOSPC || code == EDQUOT || code == EROFS;
}

std::string WriteFailure(const std::string& relative, int code) {
    if (code == ELOOP || code == ENOTDIR) {
        return "Soubor \"" + relative +
               "\" nelze obnovit: jeho cesta vede přes symbolický odkaz nebo "
               "soubor.";
    }
    if (code == EISDIR) {
        return "Soubor \"" + relative + "\" nelze obnovit: na jeho místě je složka.";
    }
    return "Soubor \"" + relative + "\" nelze obnovit: " + SystemErrorMessage(code) + ".";
}

class EStopRestore {};
class ECancelRestore {};

// The chain is first read whole (directories and deletion lists) into the state of its last
// day: for each path the archive and entry of its newest version, and the paths deleted
// without coming back. Then the deletions are made and each file is written once, archive by
// archive in the order of its entries. The result is what applying the archives one after the
// other would give, without writing a file that a later archive replaces, and a forced restore
// into an older tree is not stopped by a file that later became a directory or the reverse.
class TChainRestore {
public:
    TChainRestore(const TRestoreOptions& options, TRestoreObserver& observer)
        : FOptions(options), FObserver(observer) {
        std::string bad;
        if (!FOnly.Set(options.Only, bad)) {
            throw ERestoreError("Cesta \"" + bad + "\" nemůže být v archivu uložena.");
        }
        if (!options.DryRun) {
            try {
                FDirectory = std::make_unique<TConfinedDirectory>(options.Target);
            } catch (const EOSError& error) {
                throw ERestoreError("Cílovou složku " + options.Target +
                                    " nelze otevřít: " + SystemErrorMessage(error.Code) + ".");
            }
        }
    }

    TRestoreSummary Run(const std::vector<TArchiveRef>& chain) {
        try {
            for (std::size_t i = 0; i < chain.size(); ++i) {
                FSummary.Archives.push_back(chain[i].Name);
                ReadArchive(chain[i], i);
            }
            ApplyDeletions();
            WriteFiles(chain);
        } catch (const EStopRestore&) {
            FSummary.Stopped = true;
            return FSummary;
        } catch (const ECancelRestore&) {
            FSummary.Cancelled = true;
            return FSummary;
        }
        for (const std::string& path : FOnly.Unused()) {
            Problem("Cesta \"" + path + "\" v archivech není.");
        }
        return FSummary;
    }

private:
    void Problem(const std::string& message) {
        ++FSummary.Problems;
        FObserver.Problem(message);
    }

    void CheckCancel() const {
        if (FOptions.Cancel != nullptr && FOptions.Cancel->IsSet()) {
            throw ECancelRestore();
        }
    }

    [[noreturn]] void Stop(const std::string& message) {
        FObserver.Problem(message);
        throw EStopRestore();
    }

    // Adds one archive to the state: its deletions first, then its entries.
    void ReadArchive(const TArchiveRef& archive, std::size_t index) {
        CheckCancel();
        auto reader = std::make_unique<TZipReader>();
        try {
            reader->Open(archive.Path);
            reader->SetPasswords(FOptions.Passwords);
            CheckPassword(*reader);
        } catch (const EZipReadError& error) {
            std::string message = error.what();
            if (index > 0) {
                message += " Stav před tímto archivem lze obnovit volbou --at \"" +
                           FormatStamp(FPreviousStamp) + "\".";
            }
            Stop(message);
        }
        FPreviousStamp = archive.Stamp;
        const std::vector<TZipDirEntry>& entries = reader->Entries();
        FFinal.Reserve(entries.size());
        for (const TZipDirEntry& entry : entries) {
            if (const int kind = DeletionListKind(entry.Name)) {
                ReadDeletionList(*reader, entry, kind == 2, archive);
            }
        }
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const TZipDirEntry& entry = entries[i];
            if (DeletionListKind(entry.Name) != 0) {
                continue;
            }
            std::string relative;
            std::string reason;
            if (!SafeRelativePath(entry.Name, relative, reason)) {
                Problem("Položka \"" + entry.Name + "\" v archivu " + archive.Name +
                        " odmítnuta: " + reason + ".");
                continue;
            }
            const uint32_t type = PosixType(entry);
            const bool directory = entry.IsDirectory() || type == TypeDirectory;
            if (!FOnly.Matches(relative, !directory)) {
                continue;
            }
            if (!directory && type != 0 && type != TypeRegular && type != TypeSymlink) {
                Problem("Položka \"" + entry.Name + "\" v archivu " + archive.Name +
                        " odmítnuta: není to obyčejný soubor ani symbolický odkaz.");
                continue;
            }
            // The key is the stored name itself where it is already the path (nearly always),
            // so a directory of a million entries does not hold each name twice.
            std::string_view key = entry.Name;
            if (relative != entry.Name) {
                key = FRenamed.emplace_back(std::move(relative));
            }
            // Replaced with its key: an earlier archive's reader goes before this one is written.
            FFinal.Set(key, TPick{static_cast<uint32_t>(index), static_cast<uint32_t>(i)});
        }
        FReaders.push_back(std::move(reader));
    }

    // A wrong or missing password is told before anything is written: the first encrypted entry
    // stands for the archive (the engine encrypts every entry of an archive alike).
    static void CheckPassword(const TZipReader& reader) {
        for (const TZipDirEntry& entry : reader.Entries()) {
            if (entry.IsEncrypted()) {
                reader.CheckPassword(entry);
                return;
            }
        }
    }

    void ReadDeletionList(const TZipReader& reader, const TZipDirEntry& entry, bool windows,
                          const TArchiveRef& archive) {
        TDeletionListParser parser(windows);
        try {
            reader.ExtractTo(entry,
                             [&](const char* data, std::size_t size) { parser.Feed(data, size); });
        } catch (const EZipReadError& error) {
            Stop(error.what());
        }
        parser.Finish();
        for (const std::string& line : parser.BadLines) {
            Problem("Řádek seznamu mazaných souborů v archivu " + archive.Name +
                    " nelze přečíst, vynechán: " + line);
        }
        for (const std::string& path : parser.Paths) {
            std::string relative;
            std::string reason;
            if (!SafeRelativePath(path, relative, reason)) {
                Problem("Mazání \"" + path + "\" ze seznamu v archivu " + archive.Name +
                        " odmítnuto: " + reason + ".");
                continue;
            }
            if (FOnly.Matches(relative, false)) {
                FFinal.Erase(relative);
                FDeleted.insert(std::move(relative));
            }
        }
    }

    void ApplyDeletions() {
        if (FOptions.KeepDeleted) {
            return;
        }
        for (const std::string& relative : FDeleted) {
            if (FFinal.Contains(relative)) {
                continue;  // back in a later archive
            }
            if (FOptions.DryRun) {
                FObserver.Planned(true, relative, 0, 0);
                ++FSummary.FilesRemoved;
                continue;
            }
            try {
                if (FDirectory->RemoveFile(relative)) {
                    ++FSummary.FilesRemoved;
                }
            } catch (const EOSError& error) {
                // A directory there now is not the deleted file (it became a directory later).
                if (error.Code != EISDIR) {
                    Problem("Soubor \"" + relative +
                            "\" nelze smazat: " + SystemErrorMessage(error.Code) + ".");
                }
            }
        }
    }

    void WriteFiles(const std::vector<TArchiveRef>& chain) {
        // Per archive, its entries to restore (the pipeline's jobs: files, directories and
        // links alike), so that nothing per entry is held twice.
        std::vector<std::vector<TRestoreJob>> picks(chain.size());
        uint64_t total = 0;
        FFinal.ForEach([&](std::string_view path, TPick pick) {
            const TZipDirEntry& entry = FReaders[pick.Archive]->Entries()[pick.Entry];
            total += entry.UncompressedSize;
            picks[pick.Archive].push_back(TRestoreJob{&entry, path});
        });
        FFinal.Clear();
        FTotal = total;
        for (std::size_t i = 0; i < chain.size(); ++i) {
            FObserver.ArchiveStarted(chain[i], i + 1, chain.size());
            // In the archive's order: its entries lie in one array.
            std::sort(picks[i].begin(), picks[i].end(),
                      [](const TRestoreJob& a, const TRestoreJob& b) {
                          return std::less<const TZipDirEntry*>()(a.Entry, b.Entry);
                      });
            if (FOptions.DryRun) {
                for (const TRestoreJob& job : picks[i]) {
                    CheckCancel();
                    if (job.Entry->IsSymlink()) {
                        TakeLink(*FReaders[i], *job.Entry, std::string(job.Relative));
                    } else {
                        RestoreEntry(*job.Entry, std::string(job.Relative));
                    }
                }
            } else {
                WriteArchive(*FReaders[i], picks[i]);
            }
            picks[i] = {};
            FReaders[i].reset();
        }
        MakeLinks();
    }

    // The files of one archive go through the pipeline (read, inflated and written on the
    // workers); here, in the archive's order, each is renamed into place and reported, and the
    // directories and links between them are taken.
    void WriteArchive(const TZipReader& reader, const std::vector<TRestoreJob>& jobs) {
        CheckCancel();
        TRestorePipeline pipeline(reader, *FDirectory, jobs, FOptions.Cancel);
        const uint64_t base = FDone;
        const auto report = [&] {
            const uint64_t done = base + pipeline.BytesWritten();
            if (done != FDone) {
                FDone = done;
                FObserver.Progress(FDone, FTotal);
            }
        };
        for (const TRestoreJob& job : jobs) {
            CheckCancel();
            if (job.Entry->IsSymlink()) {
                TakeLink(reader, *job.Entry, std::string(job.Relative));
            } else if (!IsRestoredFile(*job.Entry)) {
                RestoreEntry(*job.Entry, std::string(job.Relative));
            } else {
                TRestoreJobResult result = pipeline.Next(report);
                report();
                TakeFile(result, job);
            }
        }
    }

    void TakeFile(TRestoreJobResult& result, const TRestoreJob& job) {
        using TKind = TRestoreJobResult::TKind;
        switch (result.Kind) {
            case TKind::Ready:
                try {
                    result.File->Commit(RestoredMode(*job.Entry), RestoredTime(*job.Entry));
                } catch (const EOSError& error) {
                    Refused(std::string(job.Relative), error.Code);
                    return;
                }
                ++FSummary.FilesWritten;
                FSummary.BytesWritten += job.Entry->UncompressedSize;
                return;
            case TKind::Damaged:
                Stop(result.Message);
            case TKind::WriteFailed:
                Refused(std::string(job.Relative), result.Code);
                return;
            case TKind::Failed:
                std::rethrow_exception(result.Error);
            case TKind::Cancelled:
                break;
        }
        throw ECancelRestore();
    }

    // A file that could not be written: the restore goes on, unless every further one would
    // fail alike.
    void Refused(const std::string& relative, int code) {
        if (StopsRestore(code)) {
            Stop(WriteFailure(relative, code));
        }
        Problem(WriteFailure(relative, code));
    }

    // A link's target is read with its archive, but the link is made only when every file of
    // the chain is written: nothing the restore writes can then pass through it (and the
    // confined walk would refuse to anyway). Its target is data: absolute or leading out, it is
    // made as stored.
    void TakeLink(const TZipReader& reader, const TZipDirEntry& entry,
                  const std::string& relative) {
        std::string target;
        try {
            target = reader.ReadLinkTarget(entry);
        } catch (const EZipReadError& error) {
            Stop(error.what());
        }
        if (target.empty()) {
            Problem("Odkaz \"" + relative +
                    "\" nelze obnovit: jeho cíl v archivu je prázdný, příliš dlouhý nebo "
                    "obsahuje nulový bajt.");
            return;
        }
        std::optional<std::timespec> modified;
        if (entry.ModifiedUnix) {
            modified = std::timespec{static_cast<std::time_t>(*entry.ModifiedUnix), 0};
        }
        FLinks.push_back(TLink{relative, std::move(target), modified});
    }

    void MakeLinks() {
        std::vector<TLink> links = std::move(FLinks);
        FLinks.clear();
        for (const TLink& link : links) {
            if (FOptions.DryRun) {
                FObserver.PlannedLink(link.Relative, link.Target);
                ++FSummary.LinksCreated;
                continue;
            }
            try {
                FDirectory->MakeSymlink(link.Relative, link.Target, link.Modified);
            } catch (const EOSError& error) {
                if (StopsRestore(error.Code)) {
                    Stop(WriteFailure(link.Relative, error.Code));
                }
                Problem(WriteFailure(link.Relative, error.Code));
                continue;
            }
            ++FSummary.LinksCreated;
        }
    }

    void RestoreEntry(const TZipDirEntry& entry, const std::string& relative) {
        if (entry.IsDirectory() || PosixType(entry) == TypeDirectory) {
            if (!FOptions.DryRun) {
                try {
                    FDirectory->MakeDirectories(relative);
                } catch (const EOSError& error) {
                    Problem("Složku \"" + relative +
                            "\" nelze vytvořit: " + SystemErrorMessage(error.Code) + ".");
                }
            }
            return;
        }
        // Files are written through the pipeline; here only a dry run's plan.
        FObserver.Planned(false, relative, entry.UncompressedSize,
                          entry.ModifiedUnix ? static_cast<std::time_t>(*entry.ModifiedUnix) : 0);
        ++FSummary.FilesWritten;
        FSummary.BytesWritten += entry.UncompressedSize;
    }

    const TRestoreOptions& FOptions;
    TRestoreObserver& FObserver;
    TOnlyFilter FOnly;
    std::unique_ptr<TConfinedDirectory> FDirectory;
    std::vector<std::unique_ptr<TZipReader>> FReaders;  // one per archive of the chain
    TPathPicks FFinal;                                  // keys in the readers or FRenamed
    std::deque<std::string> FRenamed;                   // paths that differ from their stored names
    std::set<std::string> FDeleted;  // sorted: deletions are made and listed in name order
    struct TLink {
        std::string Relative;
        std::string Target;
        std::optional<std::timespec> Modified;
    };
    std::vector<TLink> FLinks;  // made once every file is written
    std::string FPreviousStamp;
    TRestoreSummary FSummary;
    uint64_t FDone = 0;
    uint64_t FTotal = 0;
};

}  // namespace

void PrepareRestoreTarget(const std::string& target, bool force, bool dryRun) {
    if (target.empty()) {
        throw ERestoreError("Cílová složka není zadána.");
    }
    const TFileStatus status = GetFileStatus(target);
    if (status.Kind == TEntryKind::Missing) {
        if (dryRun) {
            return;
        }
        try {
            ForceDirectories(target);
        } catch (const EOSError& error) {
            throw ERestoreError("Cílovou složku " + target +
                                " nelze vytvořit: " + SystemErrorMessage(error.Code) + ".");
        }
        return;
    }
    if (status.Kind != TEntryKind::Directory) {
        throw ERestoreError("Cíl " + target + " není složka.");
    }
    std::vector<TDirectoryEntry> entries;
    int error = 0;
    if (!ListDirectory(target, entries, &error)) {
        throw ERestoreError("Cílovou složku " + target +
                            " nelze přečíst: " + SystemErrorMessage(error) + ".");
    }
    if (!entries.empty() && !force) {
        throw ERestoreError("Cílová složka " + target +
                            " není prázdná; obnovit do ní lze jen s volbou --force.");
    }
}

TRestoreSummary RestoreChain(const std::vector<TArchiveRef>& chain, const TRestoreOptions& options,
                             TRestoreObserver& observer) {
    return TChainRestore(options, observer).Run(chain);
}

}  // namespace sejfko

#include "restore/restore_run.hpp"

#include <cerrno>
#include <ctime>
#include <memory>
#include <optional>

#include "archive/zip_reader.hpp"
#include "platform/confined_directory.hpp"
#include "platform/file_system.hpp"
#include "restore/deletion_list.hpp"
#include "restore/restore_path.hpp"

namespace sejfko {

namespace {

// File types in the high half of the external attributes of archives made on
// POSIX.
constexpr uint32_t TypeMask = 0170000;
constexpr uint32_t TypeRegular = 0100000;
constexpr uint32_t TypeDirectory = 0040000;
constexpr uint32_t TypeSymlink = 0120000;
constexpr unsigned DefaultFileMode = 0644;

bool MadeOnPosix(const TZipDirEntry &entry) {
  return (entry.VersionMadeBy >> 8) == 3;
}

uint32_t PosixType(const TZipDirEntry &entry) {
  return MadeOnPosix(entry) ? (entry.ExternalAttributes >> 16) & TypeMask : 0;
}

// Permission bits only: set-user-ID and set-group-ID bits from an archive are
// not trusted.
unsigned FileMode(const TZipDirEntry &entry) {
  const unsigned mode =
      MadeOnPosix(entry) ? (entry.ExternalAttributes >> 16) & 0777 : 0;
  return mode != 0 ? mode : DefaultFileMode;
}

// The whole restore ends on these: every further file would fail alike.
bool StopsRestore(int code) {
  return code == ENOSPC || code == EDQUOT || code == EROFS;
}

std::string WriteFailure(const std::string &relative, int code) {
  if (code == ELOOP || code == ENOTDIR) {
    return "Soubor \"" + relative +
           "\" nelze obnovit: jeho cesta vede přes symbolický odkaz nebo "
           "soubor.";
  }
  if (code == EISDIR) {
    return "Soubor \"" + relative +
           "\" nelze obnovit: na jeho místě je složka.";
  }
  return "Soubor \"" + relative +
         "\" nelze obnovit: " + SystemErrorMessage(code) + ".";
}

class EStopRestore {};

class TChainRestore {
public:
  TChainRestore(const TRestoreOptions &options, TRestoreObserver &observer)
      : FOptions(options), FObserver(observer) {
    std::string bad;
    if (!FOnly.Set(options.Only, bad)) {
      throw ERestoreError("Cesta \"" + bad +
                          "\" nemůže být v archivu uložena.");
    }
    if (!options.DryRun) {
      try {
        FDirectory = std::make_unique<TConfinedDirectory>(options.Target);
      } catch (const EOSError &error) {
        throw ERestoreError(
            "Cílovou složku " + options.Target +
            " nelze otevřít: " + SystemErrorMessage(error.Code) + ".");
      }
    }
  }

  TRestoreSummary Run(const std::vector<TArchiveRef> &chain) {
    try {
      for (std::size_t i = 0; i < chain.size(); ++i) {
        FObserver.ArchiveStarted(chain[i], i + 1, chain.size());
        FSummary.Archives.push_back(chain[i].Name);
        RestoreArchive(chain[i]);
      }
    } catch (const EStopRestore &) {
      FSummary.Stopped = true;
      return FSummary;
    }
    for (const std::string &path : FOnly.Unused()) {
      Problem("Cesta \"" + path + "\" v archivech není.");
    }
    return FSummary;
  }

private:
  void Problem(const std::string &message) {
    ++FSummary.Problems;
    FObserver.Problem(message);
  }

  [[noreturn]] void Stop(const std::string &message) {
    FObserver.Problem(message);
    throw EStopRestore();
  }

  void RestoreArchive(const TArchiveRef &archive) {
    TZipReader reader;
    try {
      reader.Open(archive.Path);
    } catch (const EZipReadError &error) {
      Stop(error.what());
    }
    for (const TZipDirEntry &entry : reader.Entries()) {
      if (const int kind = DeletionListKind(entry.Name)) {
        ApplyDeletionList(reader, entry, kind == 2, archive);
      }
    }
    uint64_t total = 0;
    for (const TZipDirEntry &entry : reader.Entries()) {
      std::string relative;
      std::string reason;
      if (!entry.IsDirectory() && DeletionListKind(entry.Name) == 0 &&
          SafeRelativePath(entry.Name, relative, reason) &&
          FOnly.Matches(relative, false)) {
        total += entry.UncompressedSize;
      }
    }
    FDone = 0;
    FTotal = total;
    FObserver.Progress(0, total);
    for (const TZipDirEntry &entry : reader.Entries()) {
      if (DeletionListKind(entry.Name) == 0) {
        RestoreEntry(reader, entry, archive);
      }
    }
  }

  void ApplyDeletionList(const TZipReader &reader, const TZipDirEntry &entry,
                         bool windows, const TArchiveRef &archive) {
    TDeletionListParser parser(windows);
    try {
      reader.ExtractTo(entry, [&](const char *data, std::size_t size) {
        parser.Feed(data, size);
      });
    } catch (const EZipReadError &error) {
      Stop(error.what());
    }
    parser.Finish();
    for (const std::string &line : parser.BadLines) {
      Problem("Řádek seznamu mazaných souborů v archivu " + archive.Name +
              " nelze přečíst, vynechán: " + line);
    }
    for (const std::string &path : parser.Paths) {
      std::string relative;
      std::string reason;
      if (!SafeRelativePath(path, relative, reason)) {
        Problem("Mazání \"" + path + "\" ze seznamu v archivu " + archive.Name +
                " odmítnuto: " + reason + ".");
        continue;
      }
      if (!FOnly.Matches(relative, false)) {
        continue;
      }
      if (FOptions.DryRun) {
        FObserver.Planned(true, relative, 0);
        ++FSummary.FilesRemoved;
        continue;
      }
      try {
        if (FDirectory->RemoveFile(relative)) {
          ++FSummary.FilesRemoved;
        }
      } catch (const EOSError &error) {
        Problem(error.Code == EISDIR
                    ? "Soubor \"" + relative + "\" nelze smazat: je to složka."
                    : "Soubor \"" + relative + "\" nelze smazat: " +
                          SystemErrorMessage(error.Code) + ".");
      }
    }
  }

  void RestoreEntry(const TZipReader &reader, const TZipDirEntry &entry,
                    const TArchiveRef &archive) {
    std::string relative;
    std::string reason;
    if (!SafeRelativePath(entry.Name, relative, reason)) {
      Problem("Položka \"" + entry.Name + "\" v archivu " + archive.Name +
              " odmítnuta: " + reason + ".");
      return;
    }
    const uint32_t type = PosixType(entry);
    const bool directory = entry.IsDirectory() || type == TypeDirectory;
    if (!FOnly.Matches(relative, !directory)) {
      return;
    }
    if (directory) {
      if (!FOptions.DryRun) {
        try {
          FDirectory->MakeDirectories(relative);
        } catch (const EOSError &error) {
          Problem("Složku \"" + relative +
                  "\" nelze vytvořit: " + SystemErrorMessage(error.Code) + ".");
        }
      }
      return;
    }
    if (type != 0 && type != TypeRegular) {
      Problem("Položka \"" + entry.Name + "\" v archivu " + archive.Name +
              " odmítnuta: " +
              (type == TypeSymlink ? "symbolické odkazy se neobnovují"
                                   : "není to obyčejný soubor") +
              ".");
      return;
    }
    if (FOptions.DryRun) {
      FObserver.Planned(false, relative, entry.UncompressedSize);
      ++FSummary.FilesWritten;
      FSummary.BytesWritten += entry.UncompressedSize;
      return;
    }
    WriteFile(reader, entry, relative);
  }

  void WriteFile(const TZipReader &reader, const TZipDirEntry &entry,
                 const std::string &relative) {
    std::optional<std::timespec> modified;
    if (entry.ModifiedUnix) {
      modified =
          std::timespec{static_cast<std::time_t>(*entry.ModifiedUnix), 0};
    }
    try {
      TConfinedFileWriter writer(*FDirectory, relative);
      reader.ExtractTo(entry, [&](const char *data, std::size_t size) {
        writer.Write(data, size);
        FDone += size;
        FObserver.Progress(FDone, FTotal);
      });
      writer.Commit(FileMode(entry), modified);
    } catch (const EZipReadError &error) {
      Stop(error.what());
    } catch (const EOSError &error) {
      if (StopsRestore(error.Code)) {
        Stop(WriteFailure(relative, error.Code));
      }
      Problem(WriteFailure(relative, error.Code));
      return;
    }
    ++FSummary.FilesWritten;
    FSummary.BytesWritten += entry.UncompressedSize;
  }

  const TRestoreOptions &FOptions;
  TRestoreObserver &FObserver;
  TOnlyFilter FOnly;
  std::unique_ptr<TConfinedDirectory> FDirectory;
  TRestoreSummary FSummary;
  uint64_t FDone = 0;
  uint64_t FTotal = 0;
};

} // namespace

void PrepareRestoreTarget(const std::string &target, bool force, bool dryRun) {
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
    } catch (const EOSError &error) {
      throw ERestoreError("Cílovou složku " + target + " nelze vytvořit: " +
                          SystemErrorMessage(error.Code) + ".");
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
    throw ERestoreError(
        "Cílová složka " + target +
        " není prázdná; obnovit do ní lze jen s volbou --force.");
  }
}

TRestoreSummary RestoreChain(const std::vector<TArchiveRef> &chain,
                             const TRestoreOptions &options,
                             TRestoreObserver &observer) {
  return TChainRestore(options, observer).Run(chain);
}

} // namespace sejfko

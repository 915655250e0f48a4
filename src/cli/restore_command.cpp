#include "cli/restore_command.hpp"

#include <exception>
#include <filesystem>
#include <optional>
#include <system_error>

#include "backup/run_history.hpp"
#include "cli/list_command.hpp"
#include "cli/password_file.hpp"
#include "config/options.hpp"
#include "platform/clock.hpp"
#include "platform/data_directory.hpp"
#include "platform/file_system.hpp"
#include "platform/locale_format.hpp"
#include "platform/temp_file.hpp"
#include "restore/restore_chain.hpp"
#include "restore/restore_download.hpp"
#include "restore/restore_path.hpp"
#include "restore/restore_run.hpp"

namespace sejfko {

namespace {

constexpr const char* Usage =
    "Použití: sejfko-cli restore --to SLOŽKA [--at \"RRRR-MM-DD HH:MM\"] [--only CESTA]... "
    "[--dry-run] [--force] [--password-file SOUBOR] ZDROJ...\n"
    "        nebo: sejfko-cli [--config-dir ADRESÁŘ] restore --to SLOŽKA [...] --from-server\n";

struct TRestoreLine {
    TRestoreOptions Options;
    std::optional<std::string> At;
    std::vector<std::string> Sources;
    bool FromServer = false;
    std::string PasswordFile;
};

// False, with the message in `error`, for wrong use.
bool ParseArguments(const std::vector<std::string>& arguments, TRestoreLine& line,
                    std::string& error) {
    bool haveTarget = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const auto value = [&](std::string& into) {
            if (i + 1 >= arguments.size()) {
                error = "Volba " + argument + " vyžaduje hodnotu.";
                return false;
            }
            into = arguments[++i];
            return true;
        };
        std::string text;
        if (argument == "--to") {
            if (!value(line.Options.Target)) {
                return false;
            }
            haveTarget = true;
        } else if (argument == "--at") {
            if (!value(text)) {
                return false;
            }
            std::string stamp;
            if (!ParseRestorePoint(text, stamp)) {
                error = "Okamžik \"" + text + "\" není ve tvaru \"RRRR-MM-DD HH:MM\".";
                return false;
            }
            line.At = stamp;
        } else if (argument == "--only") {
            if (!value(text)) {
                return false;
            }
            line.Options.Only.push_back(text);
        } else if (argument == "--dry-run") {
            line.Options.DryRun = true;
        } else if (argument == "--force") {
            line.Options.Force = true;
        } else if (argument == "--from-server") {
            line.FromServer = true;
        } else if (argument == "--password-file") {
            if (!value(line.PasswordFile)) {
                return false;
            }
            if (line.PasswordFile.empty()) {
                error = "Volba --password-file vyžaduje soubor s heslem.";
                return false;
            }
        } else if (argument == "--") {
            line.Sources.insert(line.Sources.end(), arguments.begin() + static_cast<long>(i) + 1,
                                arguments.end());
            break;
        } else if (argument.size() > 1 && argument[0] == '-') {
            error = "Neznámá volba \"" + argument + "\".";
            return false;
        } else {
            line.Sources.push_back(argument);
        }
    }
    if (!haveTarget || line.Options.Target.empty()) {
        error = "Chybí cílová složka (--to).";
        return false;
    }
    if (line.FromServer && !line.Sources.empty()) {
        error = "S volbou --from-server se zdroj archivů nezadává.";
        return false;
    }
    if (!line.FromServer && line.Sources.empty()) {
        error = "Chybí zdroj archivů (složka nebo archiv).";
        return false;
    }
    TOnlyFilter filter;
    std::string bad;
    if (!filter.Set(line.Options.Only, bad)) {
        error = "Cesta \"" + bad + "\" nemůže být v archivu uložena.";
        return false;
    }
    return true;
}

class TCliObserver final : public TRestoreObserver {
public:
    TCliObserver(std::ostream& out, std::ostream& err, bool terminal)
        : FOut(out), FErr(err), FTerminal(terminal) {}

    void ArchiveStarted(const TArchiveRef& archive, std::size_t index, std::size_t count) override {
        EndLine();
        FErr << "Archiv " << index << "/" << count << ": " << PrintableName(archive.Path) << "\n"
             << std::flush;
        FLastPercent = -1;
    }

    void Progress(uint64_t done, uint64_t total) override {
        if (!FTerminal || total == 0) {
            return;
        }
        const int percent = static_cast<int>(done * 100 / total);
        if (percent != FLastPercent) {
            FLastPercent = percent;
            FErr << "\r  " << percent << " %" << std::flush;
            FDrawn = true;
        }
    }

    void Problem(const std::string& message) override {
        EndLine();
        FErr << PrintableName(message) << "\n" << std::flush;
    }

    void Planned(bool remove, const std::string& relative, uint64_t size) override {
        if (remove) {
            FOut << "smazat: " << PrintableName(relative) << "\n";
        } else {
            FOut << "zapsat: " << PrintableName(relative) << " (" << size << " B)\n";
        }
    }

    void EndLine() {
        if (FDrawn) {
            FErr << "\n" << std::flush;
            FDrawn = false;
        }
    }

private:
    std::ostream& FOut;
    std::ostream& FErr;
    bool FTerminal;
    bool FDrawn = false;
    int FLastPercent = -1;
};

void PrintSummary(const TRestoreSummary& summary, bool dryRun, std::ostream& out) {
    out << "Použité archivy: " << summary.Archives.size() << "\n";
    for (const std::string& name : summary.Archives) {
        out << "  " << PrintableName(name) << "\n";
    }
    out << (dryRun ? "Souborů k zapsání: " : "Zapsané soubory: ") << summary.FilesWritten << "\n"
        << (dryRun ? "Souborů ke smazání: " : "Smazané soubory: ") << summary.FilesRemoved << "\n"
        << (dryRun ? "Bajtů k zapsání: " : "Zapsané bajty: ") << summary.BytesWritten << "\n";
    if (summary.Problems > 0) {
        out << "Problémy: " << summary.Problems << "\n";
    }
    if (summary.Stopped) {
        out << "Obnova byla přerušena.\n";
    }
    if (dryRun) {
        out << "Zkušební běh: nic nebylo zapsáno ani smazáno.\n";
    }
}

// The private download directory of a restore from the server, removed with its content.
struct TTemporaryDownloads {
    std::string Path;
    ~TTemporaryDownloads() {
        if (!Path.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(Path, ignored);
        }
    }
};

// The chain from the server, downloaded into a private directory that `downloads` removes.
std::vector<TArchiveRef> ServerChain(const TRestoreLine& line, const std::string& configDirectory,
                                     TTemporaryDownloads& downloads, std::ostream& err) {
    const std::string dataDirectory =
        configDirectory.empty() ? DefaultDataDirectory() : configDirectory;
    TOptions options(UserLocale());
    options.Load(dataDirectory);
    std::string parent = options.LocalTemporaryDirectory();
    if (parent.empty()) {
        parent = DefaultLocalTemporaryDirectory(dataDirectory);
    }
    parent = ResolveDataPath(dataDirectory, parent);
    ForceDirectories(parent);
    downloads.Path = CreatePrivateTempDirectory(parent, ".restore");
    const TServerSource server{options.RemoteHost(),       options.RemoteUser(),
                               options.RemotePassword(),   options.PassiveMode() != 0,
                               options.FtpSecurity() != 0, options.FtpCertificate()};
    return DownloadChain(server, line.At, downloads.Path,
                         [&err](const std::string& name, std::size_t index, std::size_t count) {
                             err << "Stahuji " << index << "/" << count << ": "
                                 << PrintableName(name) << "\n"
                                 << std::flush;
                         });
}

// Into the history of the configuration named, or of the user's own one once it exists: a
// restore run on archives alone leaves no data directory behind.
void RecordRestore(const std::string& configDirectory, THistoryRecord& record) {
    const std::string directory =
        configDirectory.empty() ? DefaultDataDirectory() : configDirectory;
    if (!configDirectory.empty() ||
        FileExists(IncludeTrailingPathDelimiter(directory) + OptionsFileName)) {
        record.End = Now();
        AppendHistory(directory, record);
    }
}

}  // namespace

int RunRestoreCommand(const std::vector<std::string>& arguments, const std::string& configDirectory,
                      std::ostream& out, std::ostream& err, bool errIsTerminal) {
    TRestoreLine line;
    std::string error;
    if (!ParseArguments(arguments, line, error)) {
        err << error << "\n" << Usage;
        return 2;
    }
    TCliObserver observer(out, err, errIsTerminal);
    TTemporaryDownloads downloads;
    THistoryRecord record;
    record.Start = Now();
    record.Kind = HistoryRestore;
    int code = 1;
    try {
        line.Options.Passwords = ReadingPasswords(line.PasswordFile, configDirectory);
        const std::vector<TArchiveRef> chain =
            line.FromServer ? ServerChain(line, configDirectory, downloads, err)
                            : SelectChain(CollectArchives(line.Sources), line.At);
        if (!chain.empty()) {
            record.Archive = chain.back().Name;
        }
        PrepareRestoreTarget(line.Options.Target, line.Options.Force, line.Options.DryRun);
        const TRestoreSummary summary = RestoreChain(chain, line.Options, observer);
        observer.EndLine();
        PrintSummary(summary, line.Options.DryRun, out);
        record.Files = summary.FilesWritten;
        record.BytesWritten = summary.BytesWritten;
        record.Succeeded = summary.Succeeded();
        record.Result = "Obnoveno do " + line.Options.Target + ": souborů " +
                        std::to_string(summary.FilesWritten) + ", problémů " +
                        std::to_string(summary.Problems) +
                        (summary.Stopped ? ", obnova byla zastavena." : ".");
        code = summary.Succeeded() ? 0 : 1;
    } catch (const std::exception& failure) {
        observer.EndLine();
        err << PrintableName(failure.what()) << "\n";
        record.Result = failure.what();
    }
    if (!line.Options.DryRun) {
        RecordRestore(configDirectory, record);
    }
    return code;
}

}  // namespace sejfko

#include "restore/restore_session.hpp"

#include <filesystem>
#include <system_error>

#include "config/options.hpp"
#include "platform/clock.hpp"
#include "platform/data_directory.hpp"
#include "platform/file_system.hpp"
#include "platform/temp_file.hpp"

namespace sejfko {

TServerSource ServerSourceOf(const TOptions& options) {
    return TServerSource{options.RemoteHost(),       options.RemoteUser(),
                         options.RemotePassword(),   options.PassiveMode() != 0,
                         options.FtpSecurity() != 0, options.FtpCertificate()};
}

TRestoreDownloads::TRestoreDownloads(const TOptions& options, const std::string& dataDirectory) {
    std::string parent = options.LocalTemporaryDirectory();
    if (parent.empty()) {
        parent = DefaultLocalTemporaryDirectory(dataDirectory);
    }
    parent = ResolveDataPath(dataDirectory, parent);
    ForceDirectories(parent);
    FPath = CreatePrivateTempDirectory(parent, ".restore");
}

TRestoreDownloads::~TRestoreDownloads() {
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
}

std::string RestoreResultText(const std::string& target, const TRestoreSummary& summary) {
    std::string text = "Obnoveno do " + target + ": souborů " +
                       std::to_string(summary.FilesWritten) + ", problémů " +
                       std::to_string(summary.Problems);
    if (summary.Cancelled) {
        return text + ", obnova byla zrušena.";
    }
    return text + (summary.Stopped ? ", obnova byla zastavena." : ".");
}

void FillRestoreRecord(THistoryRecord& record, const std::string& target,
                       const TRestoreSummary& summary) {
    record.Files = summary.FilesWritten;
    record.BytesWritten = summary.BytesWritten;
    record.Succeeded = summary.Succeeded();
    record.Result = RestoreResultText(target, summary);
}

void RecordRestore(const std::string& configDirectory, THistoryRecord& record) {
    const std::string directory =
        configDirectory.empty() ? DefaultDataDirectory() : configDirectory;
    if (!configDirectory.empty() ||
        FileExists(IncludeTrailingPathDelimiter(directory) + OptionsFileName)) {
        record.End = Now();
        AppendHistory(directory, record);
    }
}

}  // namespace sejfko

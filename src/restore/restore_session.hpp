#pragma once
// What every front end of a restore shares around RestoreChain: the FTP server of the options,
// the private folder that archives from the server are downloaded into, the text of the
// restore's history record and its writing.

#include <string>

#include "backup/run_history.hpp"
#include "restore/restore_download.hpp"
#include "restore/restore_run.hpp"

namespace sejfko {

class TOptions;

// "Remote host", "Remote user", "Remote password" and "Passive mode" of `options`.
TServerSource ServerSourceOf(const TOptions& options);

// A private (0700) folder below the "Local temporary directory" of `options` (relative to
// `dataDirectory`; created when missing), removed with its content when the object goes.
// Throws EOSError when it cannot be created.
class TRestoreDownloads {
public:
    TRestoreDownloads(const TOptions& options, const std::string& dataDirectory);
    ~TRestoreDownloads();
    TRestoreDownloads(const TRestoreDownloads&) = delete;
    TRestoreDownloads& operator=(const TRestoreDownloads&) = delete;

    const std::string& Path() const { return FPath; }

private:
    std::string FPath;
};

// The result text of a restore into `target` as the history keeps it.
std::string RestoreResultText(const std::string& target, const TRestoreSummary& summary);

// Fills the record's counts and result from `summary`.
void FillRestoreRecord(THistoryRecord& record, const std::string& target,
                       const TRestoreSummary& summary);

// Sets the end time and appends `record` to the history of `configDirectory` (empty: the
// user's own data directory, and only once it exists, since a restore run on archives alone
// leaves no data directory behind).
void RecordRestore(const std::string& configDirectory, THistoryRecord& record);

}  // namespace sejfko

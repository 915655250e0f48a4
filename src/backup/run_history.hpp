#pragma once
// The history of what the program did: one record per backup run, transfer and restore, kept as
// JSON Lines in the data directory ("History.jsonl", rotated at 1 MiB into "History.1.jsonl").
// A record is appended with one write of a complete line (O_APPEND), so records of processes
// working at once never mix and a crash never leaves half a record that hides the next ones.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/date_time.hpp"

namespace sejfko {

constexpr const char* HistoryFileName = "History.jsonl";
constexpr const char* OldHistoryFileName = "History.1.jsonl";
constexpr std::size_t HistoryRotateSize = 1 << 20;
constexpr std::size_t HistorySkippedKept = 20;

// Kinds of records, as stored.
constexpr const char* HistoryComplete = "complete";
constexpr const char* HistoryIncremental = "incremental";
constexpr const char* HistoryNothingChanged = "nothing changed";
constexpr const char* HistoryTransfer = "transfer";
constexpr const char* HistoryRestore = "restore";

struct THistoryRecord {
    TDateTime Start = 0;
    TDateTime End = 0;
    std::string Kind;
    std::string Archive;  // file name, empty when none
    uint64_t Files = 0;
    uint64_t BytesRead = 0;
    uint64_t BytesWritten = 0;
    bool Succeeded = false;
    std::string Result;                // the result text the user was shown
    std::vector<std::string> Skipped;  // the first HistorySkippedKept of them
    uint64_t SkippedCount = 0;

    // Adds a skipped file, keeping the first ones and the count.
    void AddSkipped(const std::string& name);
    double DurationSeconds() const;
};

// One JSON line (no line end). Names that are not UTF-8 are kept with their bad bytes replaced.
std::string HistoryLine(const THistoryRecord& record);
// False for a line that is not such a record.
bool ParseHistoryLine(const std::string& line, THistoryRecord& record);

// Appends `record` to the history of `dataDirectory`. False when it cannot be written: the
// history is a report, so nothing else fails for it.
bool AppendHistory(const std::string& dataDirectory, const THistoryRecord& record);
// The newest `last` records (all when 0), oldest first, from the old and the current file; lines
// that are not records are left out. Reads the files line by line.
std::vector<THistoryRecord> ReadHistory(const std::string& dataDirectory, std::size_t last = 0);
// The raw lines of the same records.
std::vector<std::string> ReadHistoryLines(const std::string& dataDirectory, std::size_t last = 0);

}  // namespace sejfko

#pragma once
// The history of runs as a table, shared by `sejfko-cli log` and the desktop program's
// "Historie" window: the same columns, cells and lines below a row in both.

#include <string>
#include <vector>

#include "backup/run_history.hpp"

namespace sejfko {

struct THistoryRow {
    std::vector<std::string> Cells;    // one per column of HistoryColumns(), as shown
    std::vector<std::string> Details;  // shown below the row: why it failed, skipped files
    bool Failed = false;
};

// The column captions: start, kind, result, files, bytes read, bytes written, duration, and the
// archive (or the result text when there is none).
const std::vector<std::string>& HistoryColumns();

THistoryRow HistoryRowOf(const THistoryRecord& record);

// The table as text lines (without line ends): the captions, then each record in the order
// given with its details indented below it. Columns are padded by characters, not bytes, so
// Czech texts keep them aligned.
std::vector<std::string> HistoryTableLines(const std::vector<THistoryRecord>& records);

}  // namespace sejfko

#pragma once
// Which backup archives to delete so that the newest "Backup count" remain, shared by the local
// pruning of the worker and the pruning of the server after an upload. Everything but
// ListArchiveNames works on names alone, without touching the file system.
//
// Names sort in the order the archives were made ("Backup_yyyymmdd_hhmm[_full].fbk"), compared
// without regard to ASCII letter case. Every ".fbk" name counts, foreign ones included.

#include <cstdint>
#include <string>
#include <vector>

namespace sejfko {

// Case-insensitive (ASCII) byte-wise order of archive names.
bool ArchiveNameLess(const std::string& a, const std::string& b);
// Sorts `names` by ArchiveNameLess (stable, so equal-ignoring-case names keep their order).
void SortArchiveNames(std::vector<std::string>& names);
// True for a complete archive: its file name holds "_full" (any letter case).
bool IsCompleteArchiveName(const std::string& name);

// The names to delete, oldest first, from `names` sorted by ArchiveNameLess. Keeps the newest
// `backupCount` names (below 1 counts as 1) and, beyond them, every name back to the newest
// complete archive at or before the oldest kept one, so that no kept incremental archive loses
// the complete archive it builds on. `justMade` (the archive the current run wrote, compared
// exactly; empty for none) is never among the result.
std::vector<std::string> ArchivesToPrune(const std::vector<std::string>& names, int32_t backupCount,
                                         const std::string& justMade = {});

// The names (without directory) of the archives in `directory`: regular files, or links to
// them, whose names end with ".fbk", sorted by ArchiveNameLess. Empty when it cannot be listed.
std::vector<std::string> ListArchiveNames(const std::string& directory);

}  // namespace sejfko

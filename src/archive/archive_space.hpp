#pragma once
// Disk space for the archive job: the size of a selection and the texts of the space checks.

#include <cstdint>
#include <string>
#include <vector>

#include "backup/file_scan.hpp"

namespace sejfko {

// Total size in bytes of the selection: an existing directory counts every file below it
// (dot-files included; symlinks met inside are counted when they point to regular files and never
// followed into directories), anything else its own size when it is a file, a path that names
// nothing 0. Keeps only the running total, whatever the number of files. `query` is asked once per
// entry; -1 when it asked for a stop (a selection naming "/" walks the whole disk).
int64_t SelectionSize(const std::vector<std::string>& files, const TQueryAbort& query = {});

// A byte count as shown in the space messages: thousands grouped, two decimals, the user
// locale's decimal separator ("1 234 567,50" under a Czech locale, with non-breaking spaces;
// "1,234,567.50" under others).
std::string FormatByteCount(double value);

// The volume named in the space messages: the directory holding `path` (POSIX has no drive
// letters).
std::string VolumeLabel(const std::string& path);

// "Není dostatek místa pro dočasné soubory na disku '%s'! Uvolněte alespoň %n bytů."
std::string TempSpaceMessage(const std::string& volume, double shortfall);

}  // namespace sejfko

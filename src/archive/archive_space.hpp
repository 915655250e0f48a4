#pragma once
// Disk space for the archive job: the texts of the space checks.

#include <cstdint>
#include <string>

namespace sejfko {

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

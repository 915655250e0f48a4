#include "backup/selection_report.hpp"

#include <unordered_set>

#include "platform/file_identity.hpp"

namespace sejfko {

namespace {

// A balloon or a terminal line has room for a few names, not for a thousand, nor for a name of
// a megabyte (a line that was never meant as a path).
constexpr std::size_t MaxNamedEntries = 10;
constexpr std::size_t MaxShownBytes = 300;

std::string Shown(const std::string& entry) {
    if (entry.size() <= MaxShownBytes) {
        return entry;
    }
    std::size_t cut = MaxShownBytes;
    while (cut > 0 && (static_cast<unsigned char>(entry[cut]) & 0xC0) == 0x80) {
        --cut;  // never inside a UTF-8 sequence
    }
    return entry.substr(0, cut) + "…";
}

}  // namespace

std::vector<std::string> MissingEntryLines(const TStringList& include) {
    std::vector<std::string> lines;
    std::unordered_set<std::string> seen;
    std::size_t missing = 0;
    for (const std::string& entry : include) {
        if (!NamesNothing(entry) || !seen.insert(entry).second) {
            continue;
        }
        if (++missing <= MaxNamedEntries) {
            lines.push_back("Položka výběru neexistuje: " + Shown(entry));
        }
    }
    if (missing > MaxNamedEntries) {
        lines.push_back("Další neexistující položky výběru: " +
                        std::to_string(missing - MaxNamedEntries));
    }
    return lines;
}

}  // namespace sejfko

#include "archive/archive_space.hpp"

#include <cmath>
#include <cstdio>

#include "platform/file_system.hpp"
#include "platform/locale_format.hpp"

namespace sejfko {

namespace {

bool CountsAsFile(const TDirectoryEntry& entry) {
    return entry.Kind == TEntryKind::Regular ||
           (entry.Kind == TEntryKind::Symlink && entry.Target == TEntryKind::Regular);
}

bool StopAsked(const TQueryAbort& query) {
    bool abort = false;
    if (query) {
        query(abort);
    }
    return abort;
}

// Depth first; only the entries of the directory being listed are held at a time. False when
// `query` asked for a stop.
bool AddDirectorySize(const std::string& directory, const TQueryAbort& query, int64_t& total) {
    std::vector<TDirectoryEntry> entries;
    if (!ListDirectory(directory, entries)) {
        return true;
    }
    const std::string prefix = IncludeTrailingPathDelimiter(directory);
    for (const TDirectoryEntry& entry : entries) {
        if (StopAsked(query)) {
            return false;
        }
        if (entry.Kind == TEntryKind::Directory) {
            if (!AddDirectorySize(prefix + entry.Name, query, total)) {
                return false;
            }
        } else if (CountsAsFile(entry)) {
            total += entry.Size;
        }
    }
    return true;
}

}  // namespace

int64_t SelectionSize(const std::vector<std::string>& files, const TQueryAbort& query) {
    int64_t total = 0;
    for (const std::string& file : files) {
        if (StopAsked(query)) {
            return -1;
        }
        const TFileStatus status = GetFileStatus(file);
        if (status.Kind == TEntryKind::Directory) {
            if (!AddDirectorySize(file, query, total)) {
                return -1;
            }
        } else if (status.Kind == TEntryKind::Regular) {
            total += status.Size;
        }
    }
    return total;
}

std::string FormatByteCount(double value) {
    const char decimal = UserLocale().DecimalSeparator();
    const std::string group = decimal == ',' ? "\xC2\xA0" : ",";
    char digits[64];
    std::snprintf(digits, sizeof digits, "%.2f", std::fabs(value));
    const std::string text = digits;
    const std::size_t point = text.find('.');
    const std::string whole = text.substr(0, point);
    std::string out = value < 0 ? "-" : "";
    for (std::size_t index = 0; index < whole.size(); ++index) {
        if (index > 0 && (whole.size() - index) % 3 == 0) {
            out += group;
        }
        out += whole[index];
    }
    out += decimal;
    out += text.substr(point + 1);
    return out;
}

std::string VolumeLabel(const std::string& path) {
    const std::string directory = ExtractFileDir(path);
    return directory.empty() ? path : directory;
}

std::string TempSpaceMessage(const std::string& volume, double shortfall) {
    return "Není dostatek místa pro dočasné soubory na disku '" + volume + "'! Uvolněte alespoň " +
           FormatByteCount(shortfall) + " bytů.";
}

}  // namespace sejfko

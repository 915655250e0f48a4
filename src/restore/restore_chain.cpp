#include "restore/restore_chain.hpp"

#include <algorithm>
#include <cerrno>
#include <set>

#include "platform/date_time.hpp"
#include "platform/file_system.hpp"

namespace sejfko {

namespace {

bool AllDigits(const std::string& text, std::size_t from, std::size_t count) {
    if (from + count > text.size()) {
        return false;
    }
    return std::all_of(text.begin() + static_cast<std::ptrdiff_t>(from),
                       text.begin() + static_cast<std::ptrdiff_t>(from + count),
                       [](char c) { return c >= '0' && c <= '9'; });
}

int Number(const std::string& text, std::size_t from, std::size_t count) {
    int value = 0;
    for (std::size_t i = from; i < from + count; ++i) {
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

}  // namespace

bool ParseRestorePoint(const std::string& text, std::string& stamp) {
    // YYYY-MM-DD HH:MM
    if (text.size() != 16 || !AllDigits(text, 0, 4) || text[4] != '-' || !AllDigits(text, 5, 2) ||
        text[7] != '-' || !AllDigits(text, 8, 2) || text[10] != ' ' || !AllDigits(text, 11, 2) ||
        text[13] != ':' || !AllDigits(text, 14, 2)) {
        return false;
    }
    const int year = Number(text, 0, 4);
    const int month = Number(text, 5, 2);
    const int day = Number(text, 8, 2);
    const int hour = Number(text, 11, 2);
    const int minute = Number(text, 14, 2);
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
        hour > 23 || minute > 59) {
        return false;
    }
    stamp = text.substr(0, 4) + text.substr(5, 2) + text.substr(8, 2) + "_" + text.substr(11, 2) +
            text.substr(14, 2);
    return true;
}

std::string FormatStamp(const std::string& stamp) {
    if (stamp.size() != 13) {
        return stamp;
    }
    return stamp.substr(0, 4) + "-" + stamp.substr(4, 2) + "-" + stamp.substr(6, 2) + " " +
           stamp.substr(9, 2) + ":" + stamp.substr(11, 2);
}

std::vector<TArchiveRef> CollectArchives(const std::vector<std::string>& sources) {
    std::vector<TArchiveRef> archives;
    std::set<std::string> seen;
    const auto add = [&](const std::string& path, const std::string& name, int64_t size) {
        TArchiveRef ref;
        if (!ParseArchiveName(name, ref.Stamp, ref.Full) || !seen.insert(name).second) {
            return false;
        }
        ref.Path = path;
        ref.Name = name;
        ref.Size = size;
        archives.push_back(std::move(ref));
        return true;
    };
    for (const std::string& source : sources) {
        const TFileStatus status = GetFileStatus(source);
        if (status.Kind == TEntryKind::Directory) {
            std::vector<TDirectoryEntry> entries;
            int error = 0;
            if (!ListDirectory(source, entries, &error)) {
                throw ERestoreError("Složku " + source +
                                    " nelze přečíst: " + SystemErrorMessage(error));
            }
            for (const TDirectoryEntry& entry : entries) {
                const TEntryKind kind =
                    entry.Kind == TEntryKind::Symlink ? entry.Target : entry.Kind;
                if (kind == TEntryKind::Regular) {
                    add(IncludeTrailingPathDelimiter(source) + entry.Name, entry.Name, entry.Size);
                }
            }
        } else if (status.Kind == TEntryKind::Regular) {
            const std::string name = ExtractFileName(source);
            TArchiveRef probe;
            if (!ParseArchiveName(name, probe.Stamp, probe.Full)) {
                throw ERestoreError("Soubor " + source +
                                    " není archiv zálohy (Backup_rrrrmmdd_hhmm[_full].fbk).");
            }
            add(source, name, status.Size);
        } else {
            throw ERestoreError("Zdroj " + source + " neexistuje.");
        }
    }
    return archives;
}

std::vector<TArchiveRef> RestorePoints(std::vector<TArchiveRef> archives) {
    std::sort(archives.begin(), archives.end(),
              [](const TArchiveRef& a, const TArchiveRef& b) { return a.Name < b.Name; });
    const auto firstFull = std::find_if(archives.begin(), archives.end(),
                                        [](const TArchiveRef& ref) { return ref.Full; });
    archives.erase(archives.begin(), firstFull);
    return archives;
}

std::vector<TArchiveRef> SelectChain(std::vector<TArchiveRef> archives,
                                     const std::optional<std::string>& at) {
    if (archives.empty()) {
        throw ERestoreError("Nebyl nalezen žádný archiv zálohy (Backup_rrrrmmdd_hhmm[_full].fbk).");
    }
    std::sort(archives.begin(), archives.end(),
              [](const TArchiveRef& a, const TArchiveRef& b) { return a.Name < b.Name; });
    const auto inRange = [&](const TArchiveRef& ref) { return !at || ref.Stamp <= *at; };
    std::ptrdiff_t start = -1;
    for (std::size_t i = 0; i < archives.size(); ++i) {
        if (archives[i].Full && inRange(archives[i])) {
            start = static_cast<std::ptrdiff_t>(i);
        }
    }
    if (start < 0) {
        throw ERestoreError(at ? "Není k dispozici žádná úplná záloha (_full) z doby do " +
                                     FormatStamp(*at) + "."
                               : std::string("Není k dispozici žádná úplná záloha (_full)."));
    }
    std::vector<TArchiveRef> chain;
    for (std::size_t i = static_cast<std::size_t>(start); i < archives.size(); ++i) {
        if (inRange(archives[i])) {
            chain.push_back(archives[i]);
        }
    }
    return chain;
}

}  // namespace sejfko

#include "archive/archive_naming.hpp"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/file_system.hpp"

namespace sejfko {

namespace {

constexpr double OneMinute = 1.0 / (24 * 60);

bool Exists(const std::string& path) {
    return GetFileStatus(path, false).Kind != TEntryKind::Missing;
}

bool AllDigits(const std::string& text, std::size_t from, std::size_t count) {
    return from + count <= text.size() &&
           std::all_of(text.begin() + static_cast<std::ptrdiff_t>(from),
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

// The middle of the stamp's minute; stepping from there keeps repeated additions of one minute
// clear of the rounding at minute boundaries. A stamp that is no valid time gives 0.
TDateTime MinuteOf(const std::string& stamp) {
    if (stamp.size() != 13 || !AllDigits(stamp, 0, 8) || stamp[8] != '_' ||
        !AllDigits(stamp, 9, 4)) {
        return 0;
    }
    try {
        return EncodeDateTime(Number(stamp, 0, 4), Number(stamp, 4, 2), Number(stamp, 6, 2),
                              Number(stamp, 9, 2), Number(stamp, 11, 2), 30);
    } catch (const std::exception&) {
        return 0;
    }
}

}  // namespace

bool IsDirectoryDestination(const std::string& destination) {
    if (destination.empty() || destination.back() == PathDelimiter) {
        return true;
    }
    if (DirectoryExists(destination)) {
        return true;
    }
    const std::size_t lastSeparator = destination.find_last_of(PathDelimiters);
    const std::size_t nameStart = lastSeparator == std::string::npos ? 0 : lastSeparator + 1;
    return destination.find('.', nameStart) == std::string::npos;
}

std::string AbsolutePath(const std::string& path) {
    if (IsAbsolutePath(path)) {
        return path;
    }
    std::error_code error;
    const std::u8string current = std::filesystem::current_path(error).u8string();
    const std::string base(current.begin(), current.end());
    if (error) {
        return path;  // no current directory to resolve against
    }
    if (path.empty() || path == ".") {
        return base;
    }
    const std::string relative = path.rfind("./", 0) == 0 ? path.substr(2) : path;
    return IncludeTrailingPathDelimiter(base) + relative;
}

std::string ArchiveFileName(const std::string& stamp, bool full) {
    return "Backup_" + stamp + (full ? "_full" : "") + ".fbk";
}

bool ParseArchiveName(const std::string& name, std::string& stamp, bool& full) {
    // "Backup_" 8 digits "_" 4 digits, then ".fbk" or "_full.fbk".
    static const std::string prefix = "Backup_";
    if (name.compare(0, prefix.size(), prefix) != 0 || !AllDigits(name, 7, 8) || name.size() < 20 ||
        name[15] != '_' || !AllDigits(name, 16, 4)) {
        return false;
    }
    const std::string rest = name.substr(20);
    if (rest != ".fbk" && rest != "_full.fbk") {
        return false;
    }
    stamp = name.substr(7, 13);
    full = rest == "_full.fbk";
    return true;
}

std::string GenerateArchiveName(const std::string& directory, TDateTime now, bool full,
                                const std::string& after) {
    const std::string prefix = IncludeTrailingPathDelimiter(directory);
    TDateTime minute = MinuteOf(FormatArchiveStamp(now));
    std::string stamp = FormatArchiveStamp(minute);
    if (!after.empty() && stamp <= after) {
        // Stamps compare as the times they stand for.
        minute = MinuteOf(after) + OneMinute;
        stamp = FormatArchiveStamp(minute);
    }
    while (Exists(prefix + ArchiveFileName(stamp, false)) ||
           Exists(prefix + ArchiveFileName(stamp, true))) {
        minute += OneMinute;
        stamp = FormatArchiveStamp(minute);
    }
    return prefix + ArchiveFileName(stamp, full);
}

}  // namespace sejfko

#include "archive/archive_naming.hpp"

#include <filesystem>
#include <system_error>

#include "platform/file_system.hpp"

namespace sejfko {

namespace {

bool Exists(const std::string& path) {
    return GetFileStatus(path, false).Kind != TEntryKind::Missing;
}

}  // namespace

bool IsDirectoryDestination(const std::string& destination) {
    if (destination.empty() || destination.back() == PathDelimiter) {
        return true;
    }
    if (DirectoryExists(destination)) {
        return true;
    }
    const std::size_t lastSeparator = destination.rfind(PathDelimiter);
    const std::size_t nameStart = lastSeparator == std::string::npos ? 0 : lastSeparator + 1;
    return destination.find('.', nameStart) == std::string::npos;
}

std::string AbsolutePath(const std::string& path) {
    if (!path.empty() && path.front() == PathDelimiter) {
        return path;
    }
    std::error_code error;
    const std::string base = std::filesystem::current_path(error).string();
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

std::string GenerateArchiveName(const std::string& directory, TDateTime now, bool full) {
    const std::string prefix = IncludeTrailingPathDelimiter(directory);
    // Stepping from the middle of the minute keeps repeated additions of one minute clear of
    // the rounding at minute boundaries.
    const TDateParts date = DecodeDate(now);
    const TTimeParts time = DecodeTime(now);
    TDateTime minute = EncodeDateTime(date.Year, date.Month, date.Day, time.Hour, time.Minute, 30);
    constexpr double OneMinute = 1.0 / (24 * 60);
    for (;;) {
        const std::string stamp = FormatArchiveStamp(minute);
        if (!Exists(prefix + ArchiveFileName(stamp, false)) &&
            !Exists(prefix + ArchiveFileName(stamp, true))) {
            return prefix + ArchiveFileName(stamp, full);
        }
        minute += OneMinute;
    }
}

}  // namespace sejfko

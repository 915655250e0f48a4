#include "transfer/ftp_listing.hpp"

#include <algorithm>

#include "backup/retention.hpp"

namespace sejfko {

bool IsRemoteArchiveName(const std::string& name) {
    static const std::string extension = ".fbk";
    if (name.size() <= extension.size() ||
        name.compare(name.size() - extension.size(), extension.size(), extension) != 0) {
        return false;
    }
    return std::none_of(name.begin(), name.end(), [](char c) {
        return c == '/' || c == '\\' || static_cast<unsigned char>(c) < 32 || c == 127;
    });
}

std::vector<std::string> RemoteArchiveNames(const std::vector<std::string>& lines) {
    std::vector<std::string> names;
    for (const std::string& line : lines) {
        if (IsRemoteArchiveName(line)) {
            names.push_back(line);
        }
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    SortArchiveNames(names);
    return names;
}

}  // namespace sejfko

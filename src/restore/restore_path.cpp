#include "restore/restore_path.hpp"

namespace sejfko {

bool SafeRelativePath(const std::string& stored, std::string& relative, std::string& reason) {
    relative.clear();
    if (stored.find('\0') != std::string::npos) {
        reason = "název obsahuje znak NUL";
        return false;
    }
    if (stored.find('\\') != std::string::npos) {
        reason = "název obsahuje zpětné lomítko";
        return false;
    }
    if (!stored.empty() && stored[0] == '/') {
        reason = "absolutní cesta";
        return false;
    }
    if (stored.size() >= 2 && stored[1] == ':' &&
        ((stored[0] >= 'A' && stored[0] <= 'Z') || (stored[0] >= 'a' && stored[0] <= 'z'))) {
        reason = "cesta s písmenem jednotky";
        return false;
    }
    std::size_t start = 0;
    while (start <= stored.size()) {
        std::size_t end = stored.find('/', start);
        if (end == std::string::npos) {
            end = stored.size();
        }
        const std::string_view part(stored.data() + start, end - start);
        if (part == "..") {
            reason = "cesta vede mimo cílovou složku (\"..\")";
            return false;
        }
        if (!part.empty() && part != ".") {
            if (!relative.empty()) {
                relative += '/';
            }
            relative.append(part);
        }
        start = end + 1;
    }
    if (relative.empty()) {
        reason = "prázdný název";
        return false;
    }
    return true;
}

bool TOnlyFilter::Set(const std::vector<std::string>& paths, std::string& bad) {
    FPaths.clear();
    FIndex.clear();
    FGiven.clear();
    for (const std::string& path : paths) {
        // An original absolute path is stored without its leading separator.
        const std::size_t first = path.find_first_not_of('/');
        const std::string stored = first == std::string::npos ? std::string() : path.substr(first);
        std::string relative;
        std::string reason;
        if (!SafeRelativePath(stored, relative, reason)) {
            bad = path;
            return false;
        }
        FIndex[relative].push_back(FPaths.size());
        FPaths.push_back(relative);
        FGiven.push_back(path);
    }
    FUsed.assign(FPaths.size(), false);
    return true;
}

bool TOnlyFilter::Matches(const std::string& relative, bool markUsed) {
    if (FPaths.empty()) {
        return true;
    }
    bool matched = false;
    for (std::size_t end = relative.find('/');; end = relative.find('/', end + 1)) {
        const auto found = FIndex.find(relative.substr(0, end));
        if (found != FIndex.end()) {
            matched = true;
            for (const std::size_t index : found->second) {
                FUsed[index] = FUsed[index] || markUsed;
            }
        }
        if (end == std::string::npos) {
            break;
        }
    }
    return matched;
}

std::vector<std::string> TOnlyFilter::Unused() const {
    std::vector<std::string> unused;
    for (std::size_t i = 0; i < FPaths.size(); ++i) {
        if (!FUsed[i]) {
            unused.push_back(FGiven[i]);
        }
    }
    return unused;
}

}  // namespace sejfko

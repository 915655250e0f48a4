#include "zipengine/file_walker.hpp"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

namespace sejfko::zipengine {

namespace {

bool HasWildcard(std::string_view text) {
    return text.find_first_of("*?") != std::string_view::npos;
}

std::string Join(const std::string& dir, std::string_view name) {
    if (dir.empty()) {
        return std::string(name);
    }
    std::string path = dir;
    if (path.back() != '/') {
        path += '/';
    }
    path += name;
    return path;
}

std::string_view BaseName(std::string_view path) {
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Drops empty, "." and ".." components, so no stored name can climb out of the folder the
// archive is unpacked in.
std::string CleanName(std::string_view path) {
    std::string out;
    size_t i = 0;
    while (i <= path.size()) {
        size_t end = path.find('/', i);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        const std::string_view part = path.substr(i, end - i);
        if (!part.empty() && part != "." && part != "..") {
            if (!out.empty()) {
                out += '/';
            }
            out += part;
        }
        i = end + 1;
    }
    return out;
}

}  // namespace

bool WildMatch(std::string_view pattern, std::string_view name) {
    if (pattern == "*.*") {
        return true;
    }
    size_t p = 0;
    size_t n = 0;
    size_t starP = std::string_view::npos;
    size_t starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

TFileWalker::TFileWalker(TWalkOptions options) : FOptions(std::move(options)) {}

void TFileWalker::AddSpec(std::string_view spec, bool recurse, const char* rootDir, bool literal,
                          bool asLink) {
    // A spec is an entry too: a run may name a million files exactly.
    if (FOptions.OnEntry) {
        FOptions.OnEntry();
    }
    const std::string root = rootDir != nullptr ? rootDir : "";
    const std::string_view base = BaseName(spec);
    if (!literal && HasWildcard(base)) {
        std::string dir(spec.substr(0, spec.size() - base.size()));
        if (dir.size() > 1 && dir.back() == '/') {
            dir.pop_back();
        }
        WalkDirectory(dir, base, recurse, root);
        return;
    }
    const std::string path(spec);
    struct stat st {};
    if (literal && asLink) {
        // Found as a link by the caller's scan: no directory is entered from here.
        if (lstat(path.c_str(), &st) != 0 || !(S_ISLNK(st.st_mode) || S_ISREG(st.st_mode))) {
            FOptions.OnMissing(path);
        } else if (!(st.st_dev == FOptions.SkipDevice && st.st_ino == FOptions.SkipInode) &&
                   !Excluded(path, BaseName(path))) {
            AddFile(path, st, root, S_ISLNK(st.st_mode));
        }
        return;
    }
    if (stat(path.c_str(), &st) != 0 || !(S_ISDIR(st.st_mode) || S_ISREG(st.st_mode))) {
        // A pattern's missing name matches nothing; a name the caller found has vanished.
        if (literal) {
            FOptions.OnMissing(path);
        }
        return;
    }
    if (S_ISDIR(st.st_mode)) {
        WalkDirectory(path, "*", recurse, root);
    } else if (S_ISREG(st.st_mode) &&
               !(st.st_dev == FOptions.SkipDevice && st.st_ino == FOptions.SkipInode) &&
               !Excluded(path, BaseName(path))) {
        AddFile(path, st, root);
    }
}

void TFileWalker::WalkDirectory(const std::string& dir, std::string_view pattern, bool recurse,
                                const std::string& root) {
    DIR* handle = opendir(dir.empty() ? "." : dir.c_str());
    if (handle == nullptr) {
        return;
    }
    // The names in one buffer, each ended by its zero byte, and sorted by offset: a directory of
    // a million files then costs its names and four bytes each.
    std::string buffer;
    std::vector<uint32_t> offsets;
    while (const dirent* entry = readdir(handle)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        if (!FOptions.IncludeHidden && name.front() == '.') {
            continue;
        }
        if (buffer.size() + name.size() >= UINT32_MAX) {
            break;  // 4 GiB of names in one directory: the rest is not walked
        }
        offsets.push_back(static_cast<uint32_t>(buffer.size()));
        buffer.append(name);
        buffer.push_back('\0');
    }
    closedir(handle);
    const char* base = buffer.data();
    // strcmp compares as unsigned bytes: the order of std::string's operator<.
    std::sort(offsets.begin(), offsets.end(),
              [base](uint32_t a, uint32_t b) { return std::strcmp(base + a, base + b) < 0; });
    for (const uint32_t offset : offsets) {
        const std::string_view name(base + offset);
        if (FOptions.OnEntry) {
            FOptions.OnEntry();
        }
        const std::string path = Join(dir, name);
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0) {
            continue;
        }
        if (S_ISLNK(st.st_mode)) {
            // Kept as the link it is: never followed, so no loops and nothing from outside.
            if (WildMatch(pattern, name) && !Excluded(path, name)) {
                AddFile(path, st, root, true);
            }
        } else if (S_ISDIR(st.st_mode)) {
            if (recurse) {
                WalkDirectory(path, pattern, recurse, root);
            }
        } else if (S_ISREG(st.st_mode) && WildMatch(pattern, name) &&
                   !(st.st_dev == FOptions.SkipDevice && st.st_ino == FOptions.SkipInode) &&
                   !Excluded(path, name)) {
            AddFile(path, st, root);
        }
    }
}

void TFileWalker::AddFile(const std::string& path, const struct stat& st, const std::string& root,
                          bool link) {
    std::string stored = StoredName(path, root);
    if (stored.empty()) {
        return;
    }
    TWalkItem item{path,      std::move(stored), static_cast<uint64_t>(st.st_size),
                   st.st_dev, st.st_ino,         link};
    FOptions.OnFile(item);
}

bool TFileWalker::Excluded(const std::string& path, std::string_view name) const {
    return std::any_of(FOptions.Excludes.begin(), FOptions.Excludes.end(),
                       [&](const std::string& pattern) {
                           return WildMatch(pattern, path) || WildMatch(pattern, name);
                       });
}

std::string TFileWalker::StoredName(const std::string& path, const std::string& root) const {
    if (FOptions.JunkDirs) {
        return std::string(BaseName(path));
    }
    if (!root.empty()) {
        std::string prefix = root;
        if (prefix.back() != '/') {
            prefix += '/';
        }
        if (path.compare(0, prefix.size(), prefix) == 0) {
            return CleanName(std::string_view(path).substr(prefix.size()));
        }
    }
#ifdef _WIN32
    if (path.size() >= 2 && path[1] == ':') {
        return CleanName(std::string_view(path).substr(2));
    }
#endif
    return CleanName(path);
}

}  // namespace sejfko::zipengine

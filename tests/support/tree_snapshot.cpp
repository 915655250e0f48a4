#include "support/tree_snapshot.hpp"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "support/temp_dir.hpp"

namespace sejfko::test {

namespace {

void Walk(const std::string& root, const std::string& relative, TSnapshot& snapshot) {
    const std::string directory = relative.empty() ? root : root + "/" + relative;
    DIR* handle = ::opendir(directory.c_str());
    if (handle == nullptr) {
        return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(handle)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    ::closedir(handle);
    for (const std::string& name : names) {
        const std::string path = relative.empty() ? name : relative + "/" + name;
        struct stat st {};
        if (::lstat((root + "/" + path).c_str(), &st) != 0) {
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            Walk(root, path, snapshot);
        } else if (S_ISREG(st.st_mode)) {
            snapshot[path] = {ReadWholeFile(root + "/" + path), st.st_mtime, st.st_mode & 07777};
        } else {
            snapshot[path] = {"<not a regular file>", st.st_mtime, st.st_mode & 07777};
        }
    }
}

std::string Brief(const std::string& content) {
    if (content.size() <= 40) {
        return "\"" + Printable(content) + "\"";
    }
    return std::to_string(content.size()) + " B \"" + Printable(content.substr(0, 24)) + "...\"";
}

}  // namespace

TSnapshot TakeSnapshot(const std::string& root) {
    TSnapshot snapshot;
    Walk(root, "", snapshot);
    return snapshot;
}

std::string CompareSnapshots(const TSnapshot& expected, const TSnapshot& actual, int slackSeconds,
                             const std::set<std::string>& ignore) {
    std::string out;
    for (const auto& [name, file] : expected) {
        if (ignore.count(name) != 0) {
            continue;
        }
        const auto found = actual.find(name);
        if (found == actual.end()) {
            out += "missing: " + Printable(name) + "\n";
            continue;
        }
        const TSnapshotFile& got = found->second;
        if (got.Content != file.Content) {
            out += "content of " + Printable(name) + ": " + Brief(got.Content) + " instead of " +
                   Brief(file.Content) + "\n";
        }
        if (std::labs(static_cast<long>(got.Modified - file.Modified)) > slackSeconds) {
            out += "time of " + Printable(name) + ": " + std::to_string(got.Modified) +
                   " instead of " + std::to_string(file.Modified) + "\n";
        }
        if (got.Mode != file.Mode) {
            char modes[64];
            std::snprintf(modes, sizeof modes, "%04o instead of %04o", got.Mode, file.Mode);
            out += "mode of " + Printable(name) + ": " + modes + "\n";
        }
    }
    for (const auto& [name, file] : actual) {
        if (ignore.count(name) == 0 && expected.count(name) == 0) {
            out += "extra: " + Printable(name) + " " + Brief(file.Content) + "\n";
        }
    }
    return out;
}

std::string Printable(const std::string& name) {
    std::string out;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 32 && byte < 127 && c != '\\') {
            out += c;
        } else if (c == '\t') {
            out += "\\t";
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            out += escaped;
        }
    }
    return out;
}

}  // namespace sejfko::test

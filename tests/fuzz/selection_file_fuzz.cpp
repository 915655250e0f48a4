// The selection file, then the exclusions applied to a small fixed tree. Every entry is taken
// below the tree (an absolute "/a/x" names tree/a/x, a relative "a" tree/a), so a fuzzed line
// never reaches the rest of the file system; entries with a ".." part or a NUL byte are left out
// of that second half for the same reason.
//
// What the exclusions must give, checked against a walk of the tree:
// - no entry equals an exclusion, and none that the expansion added lies below an excluded
//   directory (written with its trailing separator, as the expansion writes directories), unless
//   it comes from a selected entry that lies below that directory itself;
// - every entry is a selected one or lies below a selected directory (nothing unselected);
// - every file below a selected entry that no exclusion names (nor the entry itself) is still
//   covered by an entry (nothing lost). Symlinks to directories below an entry are neither followed
//   nor covered.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "backup/selection_file.hpp"
#include "fuzz/fuzz_targets.hpp"
#include "platform/file_system.hpp"

namespace sejfko::fuzz {

namespace {

const std::string& Tree() {
    static const std::string root = [] {
        const std::string tree = WorkDirectory() + "/tree";
        for (const char* dir : {"", "/a", "/a/y", "/a/y/deep", "/a/y/deep/er", "/b", "/b/g", "/s p",
                                "/n", "/b/g/h"}) {
            ::mkdir((tree + dir).c_str(), 0700);
        }
        for (const char* file : {"/a/x", "/a/q r", "/a/y/z", "/a/y/w", "/a/y/deep/er/est", "/b/f",
                                 "/b/g/h/i", "/c", "/s p/t", "/a-old", "/ab"}) {
            WriteWorkFile(std::string("tree") + file, "data");
        }
        static_cast<void>(::symlink("a", (tree + "/l").c_str()));
        static_cast<void>(::symlink("c", (tree + "/m").c_str()));
        static_cast<void>(::symlink("../b", (tree + "/a/up").c_str()));
        static_cast<void>(::symlink("none", (tree + "/b/dangling").c_str()));
        return tree;
    }();
    return root;
}

// The reader's verdict "entries read", from a yes/no or from a result whose first value is "read".
constexpr bool WasRead(bool result) {
    return result;
}
template <typename TResult>
constexpr bool WasRead(TResult result) {
    return result == TResult{};
}

bool IsTrimmed(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

bool ContainsNoCase(std::string_view text, std::string_view lowerWord) {
    for (std::size_t at = 0; at + lowerWord.size() <= text.size(); ++at) {
        bool same = true;
        for (std::size_t k = 0; k < lowerWord.size() && same; ++k) {
            const char c = text[at + k];
            same = (c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c) == lowerWord[k];
        }
        if (same) {
            return true;
        }
    }
    return false;
}

// For plain text (no NUL, no UTF-16 or byte order mark, no exclusion keyword anywhere) the rules
// are simple enough to state whole: lines end at LF, a CR cuts its line's text, Ctrl+Z ends the
// file, and each line trimmed of bytes 0..32 is one entry unless it is empty.
bool ModelIncludes(std::string_view content, std::vector<std::string>& include) {
    if (content.find('\0') != std::string_view::npos || content.starts_with("\xEF\xBB\xBF") ||
        content.starts_with("\xFF\xFE") || content.starts_with("\xFE\xFF") ||
        ContainsNoCase(content, "exclude")) {
        return false;
    }
    content = content.substr(0, content.find('\x1A'));
    while (!content.empty()) {
        const std::size_t end = content.find('\n');
        std::string_view line = content.substr(0, end);
        content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
        line = line.substr(0, line.find('\r'));
        while (!line.empty() && IsTrimmed(line.front())) {
            line.remove_prefix(1);
        }
        while (!line.empty() && IsTrimmed(line.back())) {
            line.remove_suffix(1);
        }
        if (!line.empty()) {
            include.emplace_back(line);
        }
    }
    return true;
}

void CheckEntries(const TStringList& entries, const char* kind) {
    for (const std::string& entry : entries) {
        FUZZ_CHECK(!entry.empty() && !IsTrimmed(entry.front()) && !IsTrimmed(entry.back()) &&
                       entry.find_first_of("\r\n\x1A") == std::string::npos,
                   std::string(kind) + " entry " + Quote(entry));
    }
}

// The entry as a path below the tree; false for one that could leave it.
bool MapIntoTree(const std::string& entry, std::string& path) {
    if (entry.find('\0') != std::string::npos) {
        return false;
    }
    std::size_t start = 0;
    while (start <= entry.size()) {
        const std::size_t end = std::min(entry.find('/', start), entry.size());
        if (entry.compare(start, end - start, "..") == 0) {
            return false;
        }
        start = end + 1;
    }
    path = Tree() + (entry.starts_with('/') ? "" : "/") + entry;
    return true;
}

TStringList MapList(const TStringList& entries) {
    TStringList mapped;
    std::string path;
    for (const std::string& entry : entries) {
        if (MapIntoTree(entry, path)) {
            mapped.push_back(path);
        }
    }
    return mapped;
}

bool IsExcluded(const std::string& path, const TStringList& exclude) {
    return std::any_of(exclude.begin(), exclude.end(), [&](const std::string& exclusion) {
        return path == exclusion || (exclusion.ends_with('/') && path.starts_with(exclusion));
    });
}

bool IsBelowDirectoryOf(const std::string& path, const std::string& entry) {
    const std::string prefix = IncludeTrailingPathDelimiter(entry);
    return path.size() > prefix.size() && path.starts_with(prefix);
}

bool IsStrictlyBelow(const std::string& path, const std::string& exclusion) {
    return exclusion.ends_with('/') && path.size() > exclusion.size() &&
           path.starts_with(exclusion);
}

// An entry the expansion made that an excluded directory should have taken away.
bool ExpandedIntoExclusion(const std::string& entry, const TStringList& selected,
                           const TStringList& exclude) {
    return std::any_of(exclude.begin(), exclude.end(), [&](const std::string& exclusion) {
        return IsStrictlyBelow(entry, exclusion) &&
               std::none_of(selected.begin(), selected.end(), [&](const std::string& origin) {
                   return IsBelowDirectoryOf(entry, origin) && IsStrictlyBelow(origin, exclusion);
               });
    });
}

// The files below `entry` as the expansion names them (symlinks to directories not followed).
void Walk(const std::string& entry, std::vector<std::string>& files) {
    std::vector<TDirectoryEntry> children;
    if (!ListDirectory(entry, children)) {
        return;
    }
    const std::string prefix = IncludeTrailingPathDelimiter(entry);
    for (const TDirectoryEntry& child : children) {
        if (child.Kind == TEntryKind::Directory) {
            Walk(prefix + child.Name + "/", files);
        } else if (child.Kind == TEntryKind::Regular || child.Kind == TEntryKind::Symlink) {
            files.push_back(prefix + child.Name);  // links are kept as links, never entered
        }
    }
}

std::string ListText(const TStringList& list) {
    std::string text;
    for (const std::string& entry : list) {
        text += "\n  " + Quote(entry);
    }
    return text;
}

void CheckExclusions(const TStringList& selected, const TStringList& exclude) {
    TStringList result = selected;
    TStringList links;
    FUZZ_CHECK(ApplyExclusions(result, exclude, {}, &links),
               std::string("cancelled without a query"));
    const std::string context = "\nselected:" + ListText(selected) +
                                "\nexcluded:" + ListText(exclude) + "\nresult:" + ListText(result) +
                                "\nlinks:" + ListText(links);
    for (const std::string& link : links) {
        FUZZ_CHECK(GetFileStatus(link, false).Kind == TEntryKind::Symlink,
                   "handed back as a link, but no link: " + Quote(link) + context);
    }
    // The links go to the archive as well: for what the checks below promise, they count alike,
    // but a link may stand beside a listed entry of its name (the link followed).
    const std::size_t firstLink = result.size();
    result.insert(result.end(), links.begin(), links.end());

    std::map<std::string, int> selectedCounts;
    for (const std::string& entry : selected) {
        ++selectedCounts[entry];
    }
    std::map<std::string, int> resultCounts;
    std::map<std::string, int> linkCounts;
    for (std::size_t at = 0; at < result.size(); ++at) {
        const std::string& entry = result[at];
        const bool chosen = selectedCounts.count(entry) != 0;
        FUZZ_CHECK(std::find(exclude.begin(), exclude.end(), entry) == exclude.end(),
                   "an excluded entry stays: " + Quote(entry) + context);
        FUZZ_CHECK(chosen || !ExpandedIntoExclusion(entry, selected, exclude),
                   "the expansion brought in an excluded path: " + Quote(entry) + context);
        FUZZ_CHECK(chosen || std::any_of(selected.begin(), selected.end(),
                                         [&](const std::string& s) {
                                             return IsBelowDirectoryOf(entry, s);
                                         }),
                   "an entry that was never selected: " + Quote(entry) + context);
        FUZZ_CHECK(++(at < firstLink ? resultCounts : linkCounts)[entry] <=
                       std::max(1, selectedCounts[entry]),
                   "an entry added twice: " + Quote(entry) + context);
    }
    for (const std::string& entry : selected) {
        // A listed path that is excluded as written goes whole, whatever it holds.
        if (std::find(exclude.begin(), exclude.end(), entry) != exclude.end()) {
            continue;
        }
        std::vector<std::string> files;
        if (GetFileStatus(entry).Kind == TEntryKind::Regular) {
            files.push_back(entry);
        } else {
            Walk(entry, files);
        }
        for (const std::string& file : files) {
            if (IsExcluded(file, exclude)) {
                continue;
            }
            FUZZ_CHECK(std::any_of(result.begin(), result.end(),
                                   [&](const std::string& r) {
                                       return r == file || IsBelowDirectoryOf(file, r);
                                   }),
                       "a selected file that no exclusion names is lost: " + Quote(file) + context);
        }
    }
}

}  // namespace

int FuzzSelectionFile(const uint8_t* data, std::size_t size) {
    const std::string_view content(reinterpret_cast<const char*>(data), size);
    const std::string path = WriteWorkFile("selection.txt", content);
    TStringList include;
    TStringList exclude;
    // A NUL byte may be refused: a name cut there would name another file.
    FUZZ_CHECK(WasRead(ReadSelectionFile(path, include, exclude)) ||
                   content.find('\0') != std::string_view::npos,
               std::string("a readable file refused"));
    CheckEntries(include, "include");
    CheckEntries(exclude, "exclude");
    std::vector<std::string> model;
    if (ModelIncludes(content, model)) {
        FUZZ_CHECK(exclude.empty() && include == model,
                   "read:" + ListText(include) + "\nexpected:" + ListText(model));
    }
    // A few dozen entries show every way the rules interact; more only cost time.
    if (include.size() + exclude.size() <= 64) {
        CheckExclusions(MapList(include), MapList(exclude));
    }
    return 0;
}

}  // namespace sejfko::fuzz

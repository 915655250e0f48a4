#pragma once
// Names from archives and deletion lists turned into paths below the restore directory, and the
// choice of files by `--only`. A name is refused rather than repaired when it could reach
// outside: an absolute name, a drive letter, a backslash, a ".." component.

#include <string>
#include <unordered_map>
#include <vector>

namespace sejfko {

// The folder that stored names continue from: restoring into it puts files back where they were.
constexpr const char* OriginalPlaceRoot = "/";

// The stored name as a relative path ("a/b/c": "." and empty components dropped, a trailing
// "/" of a directory entry too). False, with a Czech reason, for a name that is empty,
// absolute, starts with a drive letter, holds a backslash, a NUL byte or a ".." component.
bool SafeRelativePath(const std::string& stored, std::string& relative, std::string& reason);

// The paths named by `--only`: stored paths or the original absolute paths.
class TOnlyFilter {
public:
    TOnlyFilter() = default;
    // False, with the offending path in `bad`, for a path that no archive could hold.
    bool Set(const std::vector<std::string>& paths, std::string& bad);

    bool Empty() const { return FPaths.empty(); }
    // True when no filter is set, or `relative` is one of the paths or lies below one; with
    // `markUsed` the path that matched counts as found. Looks up each leading part of
    // `relative`, so a long list of paths (a selection made in a tree) costs no more per name.
    bool Matches(const std::string& relative, bool markUsed = true);
    // The paths that matched nothing so far, as the user gave them.
    std::vector<std::string> Unused() const;

private:
    std::vector<std::string> FPaths;
    std::unordered_map<std::string, std::vector<std::size_t>> FIndex;  // path -> indexes
    std::vector<std::string> FGiven;
    std::vector<bool> FUsed;
};

}  // namespace sejfko

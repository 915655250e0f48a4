#pragma once
// The regular files of a directory tree as a value: relative path -> content, modification time
// and permission bits. Tests record what a tree held and compare it with what a restore gave.

#include <sys/types.h>

#include <ctime>
#include <map>
#include <set>
#include <string>

namespace sejfko::test {

struct TSnapshotFile {
    std::string Content;
    std::time_t Modified = 0;
    mode_t Mode = 0;  // permission bits only
};

using TSnapshot = std::map<std::string, TSnapshotFile>;

// Every regular file below `root` (names relative to it, "/" between components). Anything
// else that is not a directory is listed with the content "<not a regular file>". A missing
// root gives an empty snapshot.
TSnapshot TakeSnapshot(const std::string& root);

// The differences between `expected` and `actual`, one per line (empty when they agree): files
// missing or extra, contents, times beyond `slackSeconds`, permission bits. Paths in `ignore`
// are not compared (present or not).
std::string CompareSnapshots(const TSnapshot& expected, const TSnapshot& actual,
                             int slackSeconds = 2, const std::set<std::string>& ignore = {});

// A name as C would write it, for messages: bytes outside printable ASCII escaped.
std::string Printable(const std::string& name);

}  // namespace sejfko::test

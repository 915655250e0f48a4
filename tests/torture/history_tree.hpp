#pragma once
// A source tree that changes at random, and the record of what it holds. Every change is made
// on disk and in the record at once and written to the log, so a failing history can be read
// back step by step and replayed from its seed.
//
// Names are chosen to be awkward: blanks at both ends, tabs, "*", "?", "%", quotes, Czech
// letters, bytes that are not UTF-8, components of 200 bytes (paths over 600 bytes). Contents
// are empty, small, or now and then over 4 MiB (the engine cuts those into pieces). Times are
// set explicitly, 2 s apart, so every change is one that a stamp can see.

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "support/tree_snapshot.hpp"

namespace sejfko::test {

class THistoryTree {
public:
    THistoryTree(std::string root, uint64_t seed);

    // One random change: edit, append, truncate, add, delete, rename, touch only, a file
    // becoming a directory or a directory becoming a file. Keeps the tree non-empty.
    void RandomChange();
    // Deletes a random file and returns its relative path (empty when there is none).
    std::string DeleteRandomFile();
    // The time the next change stamps its file with; moved on by every change.
    void SetChangeTime(std::time_t when) { FChangeTime = when; }

    const TSnapshot& Files() const { return FFiles; }
    const std::string& Root() const { return FRoot; }
    std::vector<std::string>& Log() { return FLog; }
    std::mt19937_64& Random() { return FRandom; }
    // A random number in [0, bound).
    uint64_t Below(uint64_t bound) { return bound == 0 ? 0 : FRandom() % bound; }
    bool Chance(unsigned percent) { return Below(100) < percent; }

    // Forgets a file without touching the disk (it was deleted behind the tree's back).
    void Forget(const std::string& relative) { FFiles.erase(relative); }

private:
    std::string Full(const std::string& relative) const { return FRoot + "/" + relative; }
    std::string NewName();
    std::string NewPath();
    std::string RandomContent();
    std::string PickFile();
    void Write(const std::string& relative, const std::string& content, mode_t mode);
    void Stamp(const std::string& relative);
    void Remove(const std::string& relative);
    // The files below `directory` (relative), for a directory that becomes a file.
    std::vector<std::string> FilesBelow(const std::string& directory) const;
    bool IsDirectoryPrefix(const std::string& relative) const;
    bool Taken(const std::string& relative) const;
    void Note(const std::string& what, const std::string& relative);

    std::string FRoot;
    std::mt19937_64 FRandom;
    std::time_t FChangeTime = 0;
    TSnapshot FFiles;
    std::vector<std::string> FLog;
};

}  // namespace sejfko::test

// ApplyExclusions replaces an include directory above an exclusion by its entries, level by
// level, until the excluded path is an entry of its own and can be deleted.
//
// Two shortcuts keep it near linear without changing its result:
// - After a directory is replaced, the scan goes on at the same position instead of starting
//   over: every entry before that position was already found not to occur in the exclusion, and
//   those entries have not changed.
// - "Is the child already included?" is answered by a count of entries per name, kept in step
//   with the list, instead of a scan of the list per child.
//
// An earlier exclusion may already have replaced a directory by its entries, so that a later
// exclusion of that directory (or of one above) no longer occurs as an entry: the entries the
// expansion added below an excluded directory go too, or the order of the selection's lines
// would decide whether the directory is left out. What the user listed inside an excluded
// directory stays, with everything the expansion makes of it, as it always did.

#include <algorithm>
#include <unordered_map>

#include "backup/selection_file.hpp"
#include "platform/file_system.hpp"

namespace sejfko {

namespace {

#ifdef _WIN32
// Windows names differ in letter case only when they differ in more than that.
char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
std::string NameKey(const std::string& name) {
    std::string key = name;
    for (char& c : key) {
        c = FoldCase(c);
    }
    return key;
}
#else
// POSIX names that differ in letter case are different files.
const std::string& NameKey(const std::string& name) {
    return name;
}
#endif

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && NameKey(a) == NameKey(b);
}

// True for a path below the directory `exclusion` names (written with its trailing separator,
// as the expansion writes directories).
bool IsBelowExcludedDirectory(const std::string& path, const std::string& exclusion) {
    return !exclusion.empty() && exclusion.back() == PathDelimiter &&
           path.size() > exclusion.size() && SameName(path.substr(0, exclusion.size()), exclusion);
}

class TExclusionRun {
public:
    TExclusionRun(TStringList& include, const TQueryAbort& query)
        : FInclude(include), FQuery(query), FSelected(include) {
        FOrigin.reserve(include.size());
        for (std::size_t i = 0; i < include.size(); ++i) {
            FOrigin.push_back(i);
        }
        FIsLink.assign(include.size(), false);
    }

    // False when cancelled.
    bool Apply(const std::string& exclusion) {
        std::size_t i = 0;
        while (i < FInclude.size()) {
            if (AskAbort()) {
                return false;
            }
            const std::string& entry = FInclude[i];
            if (exclusion.find(entry) == std::string::npos) {
                if (IsBelowExcludedDirectory(entry, exclusion) &&
                    !IsBelowExcludedDirectory(FSelected[FOrigin[i]], exclusion)) {
                    Erase(i);
                } else {
                    ++i;
                }
            } else if (SameName(entry, exclusion)) {
                Erase(i);
            } else if (FIsLink[i] || GetFileStatus(entry).Kind == TEntryKind::Regular) {
                // A file whose name begins the excluded path ("/a/notes" under the exclusion
                // "/a/notes-old/") is no directory above it: dropping it would lose a file the
                // user selected. A link the expansion met is never entered.
                ++i;
            } else {
                ReplaceByChildren(i);
            }
        }
        return true;
    }

    // Moves the links the expansion met out of the include list, in order, into `links`.
    void TakeLinks(TStringList* links) {
        if (std::find(FIsLink.begin(), FIsLink.end(), true) == FIsLink.end()) {
            return;
        }
        TStringList kept;
        kept.reserve(FInclude.size());
        for (std::size_t i = 0; i < FInclude.size(); ++i) {
            if (!FIsLink[i]) {
                kept.push_back(std::move(FInclude[i]));
            } else if (links != nullptr) {
                links->push_back(std::move(FInclude[i]));
            }
        }
        FInclude = std::move(kept);
    }

private:
    bool AskAbort() {
        bool abort = false;
        if (FQuery) {
            FQuery(abort);
        }
        return abort;
    }

    void ReplaceByChildren(std::size_t i) {
        const std::size_t origin = FOrigin[i];
        const std::string prefix = IncludeTrailingPathDelimiter(FInclude[i]);
        std::vector<TDirectoryEntry> entries;
        // A directory that cannot be listed (vanished, unreadable) would add nothing to the
        // backup either: it goes without replacement.
        if (ListDirectory(FInclude[i], entries)) {
            IndexNames();
            for (const TDirectoryEntry& entry : entries) {
                std::string child = prefix + entry.Name;
                if (entry.Kind == TEntryKind::Directory) {
                    child += PathDelimiter;
                }
                // A symlink met below an entry stays a link, as in the scan: it is marked, since
                // as an entry of the selection it would be followed. A listed entry of the same
                // name is that link followed, which does not stand for the link itself.
                const bool link = entry.Kind == TEntryKind::Symlink;
                if (FCounts.try_emplace(CountKey(child, link), 1).second) {
                    FInclude.push_back(std::move(child));
                    FOrigin.push_back(origin);
                    FIsLink.push_back(link);
                }
            }
        }
        Erase(i);
    }

    void IndexNames() {
        if (FIndexed) {
            return;
        }
        FCounts.reserve(FInclude.size() * 2);
        for (std::size_t i = 0; i < FInclude.size(); ++i) {
            ++FCounts[CountKey(FInclude[i], FIsLink[i])];
        }
        FIndexed = true;
    }

    void Erase(std::size_t i) {
        if (FIndexed) {
            const auto it = FCounts.find(CountKey(FInclude[i], FIsLink[i]));
            if (it != FCounts.end() && --it->second == 0) {
                FCounts.erase(it);
            }
        }
        FInclude.erase(FInclude.begin() + static_cast<std::ptrdiff_t>(i));
        FOrigin.erase(FOrigin.begin() + static_cast<std::ptrdiff_t>(i));
        FIsLink.erase(FIsLink.begin() + static_cast<std::ptrdiff_t>(i));
    }

    // Names never hold a NUL: a link's key cannot meet an entry's.
    static std::string CountKey(const std::string& name, bool link) {
        std::string key = NameKey(name);
        if (link) {
            key += '\0';
        }
        return key;
    }

    TStringList& FInclude;
    const TQueryAbort& FQuery;
    std::unordered_map<std::string, int> FCounts;  // entries per name key, once needed
    const TStringList FSelected;                   // the entries as the user listed them
    std::vector<std::size_t> FOrigin;  // per entry: the listed entry it was expanded from
    std::vector<bool> FIsLink;         // per entry: a symlink the expansion met
    bool FIndexed = false;
};

}  // namespace

bool ApplyExclusions(TStringList& include, const TStringList& exclude, const TQueryAbort& query,
                     TStringList* links) {
    TExclusionRun run(include, query);
    for (const std::string& exclusion : exclude) {
        if (!run.Apply(exclusion)) {
            run.TakeLinks(links);
            return false;
        }
    }
    run.TakeLinks(links);
    return true;
}

}  // namespace sejfko

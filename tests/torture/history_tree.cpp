#include "torture/history_tree.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace sejfko::test {

namespace {

// Pieces of names; a name is one or two of them with optional blanks and tabs at its ends.
const std::array<std::string, 16> NamePieces = {
    "a",        "notes",     "x*y",      "a?c",       "100%",   "it's", "\"q\"",        "ž",
    "kůň úpěl", "Dokumenty", "\xff\xfe", "tab\there", "%PATH%", "[1]",  "ďábelské ódy", "-rf"};

constexpr std::array<mode_t, 4> Modes = {0644, 0600, 0755, 0640};

}  // namespace

THistoryTree::THistoryTree(std::string root, uint64_t seed)
    : FRoot(std::move(root)), FRandom(seed) {
    std::filesystem::create_directories(FRoot);
}

void THistoryTree::Note(const std::string& what, const std::string& relative) {
    FLog.push_back(what + " " + Printable(relative));
}

std::string THistoryTree::NewName() {
    if (Chance(8)) {
        return std::string(200, static_cast<char>('L' + Below(3)));  // for paths over 600 bytes
    }
    std::string name = NamePieces[Below(NamePieces.size())];
    if (Chance(30)) {
        name += NamePieces[Below(NamePieces.size())];
    }
    if (Chance(15)) {
        name = " " + name;
    }
    if (Chance(15)) {
        name += " ";
    }
    if (Chance(8)) {
        name += "\t";
    }
    if (Chance(50)) {
        name += Chance(50) ? ".txt" : ".bin";
    }
    return name;
}

bool THistoryTree::IsDirectoryPrefix(const std::string& relative) const {
    const auto next = FFiles.lower_bound(relative + "/");
    return next != FFiles.end() && next->first.compare(0, relative.size() + 1, relative + "/") == 0;
}

bool THistoryTree::Taken(const std::string& relative) const {
    if (FFiles.count(relative) != 0 || IsDirectoryPrefix(relative)) {
        return true;
    }
    // A file on the way would have to be a directory.
    for (std::size_t slash = relative.find('/'); slash != std::string::npos;
         slash = relative.find('/', slash + 1)) {
        if (FFiles.count(relative.substr(0, slash)) != 0) {
            return true;
        }
    }
    return false;
}

std::string THistoryTree::NewPath() {
    for (;;) {
        std::string path;
        if (!FFiles.empty() && Chance(60)) {
            // Beside an existing file, or one level below its directory.
            const std::string sibling = PickFile();
            const std::size_t slash = sibling.rfind('/');
            if (slash != std::string::npos) {
                path = sibling.substr(0, slash) + "/";
            }
        }
        const std::size_t depth = Below(3);
        for (std::size_t level = 0; level < depth; ++level) {
            path += NewName() + "/";
        }
        path += NewName();
        if (!Taken(path)) {
            return path;
        }
    }
}

std::string THistoryTree::RandomContent() {
    std::size_t size = 0;
    if (Chance(3)) {
        size = (4u << 20) + Below(2u << 20);  // several pieces in the engine
    } else if (!Chance(10)) {
        size = Below(3000);
    }
    std::string content(size, '\0');
    const bool text = Chance(50);
    for (std::size_t i = 0; i < size; ++i) {
        content[i] =
            text ? static_cast<char>("abc def\n"[FRandom() % 8]) : static_cast<char>(FRandom());
    }
    return content;
}

std::string THistoryTree::PickFile() {
    auto it = FFiles.begin();
    std::advance(it, static_cast<long>(Below(FFiles.size())));
    return it->first;
}

void THistoryTree::Write(const std::string& relative, const std::string& content, mode_t mode) {
    const std::string path = Full(relative);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        if (!out) {
            throw std::runtime_error("cannot write " + path);
        }
    }
    ::chmod(path.c_str(), mode);
    FFiles[relative] = {content, 0, mode};
    Stamp(relative);
}

void THistoryTree::Stamp(const std::string& relative) {
    const timespec times[2] = {{FChangeTime, 0}, {FChangeTime, 0}};
    if (::utimensat(AT_FDCWD, Full(relative).c_str(), times, 0) != 0) {
        throw std::runtime_error("cannot stamp " + Full(relative));
    }
    FFiles[relative].Modified = FChangeTime;
    FChangeTime += 2;
}

void THistoryTree::Remove(const std::string& relative) {
    ::unlink(Full(relative).c_str());
    FFiles.erase(relative);
    // Empty directories go too, so that their names can become files again.
    std::string directory = relative;
    for (std::size_t slash = directory.rfind('/'); slash != std::string::npos;
         slash = directory.rfind('/')) {
        directory.resize(slash);
        if (::rmdir(Full(directory).c_str()) != 0) {
            break;
        }
    }
}

std::vector<std::string> THistoryTree::FilesBelow(const std::string& directory) const {
    std::vector<std::string> files;
    for (auto it = FFiles.lower_bound(directory + "/");
         it != FFiles.end() && it->first.compare(0, directory.size() + 1, directory + "/") == 0;
         ++it) {
        files.push_back(it->first);
    }
    return files;
}

std::string THistoryTree::DeleteRandomFile() {
    if (FFiles.empty()) {
        return {};
    }
    const std::string victim = PickFile();
    Note("delete", victim);
    Remove(victim);
    return victim;
}

void THistoryTree::RandomChange() {
    if (FFiles.size() < 3) {
        const std::string path = NewPath();
        Note("add", path);
        Write(path, RandomContent(), Modes[Below(Modes.size())]);
        return;
    }
    const std::string file = PickFile();
    TSnapshotFile& state = FFiles[file];
    switch (Below(10)) {
        case 0:
        case 1: {
            Note("edit", file);
            const mode_t mode = Chance(30) ? Modes[Below(Modes.size())] : state.Mode;
            Write(file, RandomContent(), mode);
            break;
        }
        case 2: {
            Note("append", file);
            Write(file, state.Content + RandomContent().substr(0, 100) + "+", state.Mode);
            break;
        }
        case 3: {
            Note("truncate", file);
            Write(file, state.Content.substr(0, Below(state.Content.size() + 1) / 2), state.Mode);
            break;
        }
        case 4:
        case 5: {
            const std::string path = NewPath();
            Note("add", path);
            Write(path, RandomContent(), Modes[Below(Modes.size())]);
            break;
        }
        case 6: {
            Note("delete", file);
            Remove(file);
            break;
        }
        case 7: {
            const std::string target = NewPath();
            Note("rename " + Printable(file) + " ->", target);
            std::filesystem::create_directories(std::filesystem::path(Full(target)).parent_path());
            if (::rename(Full(file).c_str(), Full(target).c_str()) != 0) {
                throw std::runtime_error("cannot rename " + Full(file));
            }
            const TSnapshotFile moved = state;
            Remove(file);  // the name only; the file itself is at its new name
            FFiles[target] = moved;
            break;
        }
        case 8: {
            Note("touch", file);
            Stamp(file);
            break;
        }
        default: {
            const std::size_t slash = file.rfind('/');
            if (slash != std::string::npos && Chance(50)) {
                // Its directory becomes a file.
                const std::string directory = file.substr(0, slash);
                Note("directory becomes a file", directory);
                for (const std::string& below : FilesBelow(directory)) {
                    Remove(below);
                }
                std::filesystem::remove_all(Full(directory));
                Write(directory, RandomContent(), 0644);
            } else {
                Note("file becomes a directory", file);
                Remove(file);
                Write(file + "/" + NewName(), RandomContent(), 0644);
            }
            break;
        }
    }
}

}  // namespace sejfko::test

// The walk streams into the writer: random trees against an oracle of the archive's order
// (depth first, byte order), of the callbacks (every file announced or reported as left out in
// walk order) and of the total, judged by unzip.
#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <random>
#include <sstream>

#include "archive/zip_reader.hpp"
#include "support/temp_dir.hpp"
#include "zipengine/engine_harness.hpp"

namespace sejfko::test {
namespace {

// Bytes that sort differently as signed and unsigned chars, case and dots.
const std::vector<std::string> PARTS = {"a", "B", "b", ".h", "z", "\xC3\xA9", "a b", "A", "0"};

struct TExpected {
    std::vector<std::string> Events;  // "item PATH" or "skip PATH", in callback order
    std::vector<std::string> Names;   // stored names, in archive order
    std::vector<std::string> Contents;
    uint64_t Total = 0;
};

struct TOracle {
    bool Hidden;
    bool JunkDir;
    std::string Exclude;
    std::map<std::string, std::pair<dev_t, ino_t>> Taken;
    TExpected Out;

    void File(const std::string& path, const std::string& stored, const struct stat& st) {
        const auto [it, added] = Taken.try_emplace(stored, st.st_dev, st.st_ino);
        if (!added) {
            if (it->second != std::make_pair(st.st_dev, st.st_ino)) {
                Out.Events.push_back("skip " + path);
            }
            return;
        }
        Out.Events.push_back("item " + path);
        Out.Names.push_back(stored);
        std::string content;
        if (S_ISLNK(st.st_mode)) {
            content.resize(4096);
            content.resize(static_cast<size_t>(readlink(path.c_str(), content.data(), 4096)));
        } else {
            content = ReadWholeFile(path);
        }
        Out.Contents.push_back(content);
        Out.Total += static_cast<uint64_t>(st.st_size);
    }

    void Walk(const std::string& dir, const std::string& root) {
        std::vector<std::string> names = EntryNames(dir);
        std::sort(names.begin(), names.end());  // EntryNames' order is not promised
        for (const std::string& name : names) {
            if (!Hidden && name[0] == '.') {
                continue;
            }
            const std::string path = dir + "/" + name;
            struct stat st {};
            ASSERT_EQ(lstat(path.c_str(), &st), 0);
            if (S_ISDIR(st.st_mode)) {
                Walk(path, root);
                continue;
            }
            // The pattern ends in a name's last bytes: on the path it matches as on the name.
            if (!Exclude.empty() && fnmatch(Exclude.c_str(), name.c_str(), 0) == 0) {
                continue;
            }
            File(path, JunkDir ? name : path.substr(root.size() + 1), st);
        }
    }
};

// A tree of `count` entries below `root`: files of 0..3000 bytes (now and then one of 5 MiB, in
// two pieces), directories, links and hard links to earlier files.
void MakeTree(const TTempDir& dir, const std::string& root, std::mt19937& random, int count) {
    std::vector<std::string> dirs = {root};
    std::vector<std::string> files;
    for (int i = 0; i < count; ++i) {
        const std::string parent = dirs[random() % dirs.size()];
        std::string name = PARTS[random() % PARTS.size()];
        if (random() % 3 != 0) {
            name += PARTS[random() % PARTS.size()] + std::to_string(random() % 5);
        }
        const std::string path = parent + "/" + name;
        struct stat st {};
        if (lstat(path.c_str(), &st) == 0) {
            continue;
        }
        const unsigned kind = random() % 10;
        if (kind < 2) {
            dir.MakeDir(path.substr(dir.Path().size() + 1));
            dirs.push_back(path);
        } else if (kind == 2) {
            ASSERT_EQ(symlink(("target-" + std::to_string(i)).c_str(), path.c_str()), 0);
        } else if (kind == 3 && !files.empty()) {
            ASSERT_EQ(link(files[random() % files.size()].c_str(), path.c_str()), 0);
        } else {
            const size_t size = random() % 40 == 0 ? (5u << 20) + 17 : random() % 3000;
            std::string content(size, 0);
            for (size_t k = 0; k < size; ++k) {
                content[k] = static_cast<char>("ab \n"[random() % 4] + (k % 7 == 0 ? k % 5 : 0));
            }
            dir.WriteFile(path.substr(dir.Path().size() + 1), content);
            files.push_back(path);
        }
    }
}

TEST(ZipEngineWalk, RandomTreesComeOutInWalkOrderWithTheirCallbacks) {
    TEngineRun engine;
    ASSERT_NE(engine.Exec, nullptr) << dlerror();
    for (unsigned seed = 1; seed <= 16; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        TTempDir dir;
        std::mt19937 random(seed);
        const std::string root = dir.MakeDir("t");
        MakeTree(dir, root, random, 300);
        const std::string second = dir.MakeDir("u");
        MakeTree(dir, second, random, 60);
        TOracle oracle{seed % 2 == 0, seed % 4 == 1, seed % 3 == 0 ? "*z?" : "", {}, {}};
        engine.Hidden = oracle.Hidden;
        engine.JunkDir = oracle.JunkDir;
        engine.Excludes.clear();
        if (!oracle.Exclude.empty()) {
            engine.Excludes.push_back(oracle.Exclude);
        }
        // Two roots, the second named twice (taken once), and a literal name that is gone.
        oracle.Walk(root, dir.Path());
        oracle.Walk(second, dir.Path());
        oracle.Walk(second, dir.Path());
        const std::string gone = dir / "gone";
        oracle.Out.Events.push_back("skip " + gone);
        const std::string archive = dir / "out.zip";
        const int32_t added = engine.Run(archive, {{root + "/*.*", true, dir.Path()},
                                                   {second + "/*.*", true, dir.Path()},
                                                   {second + "/*.*", true, dir.Path()},
                                                   {gone, false, dir.Path(), true}});
        const TExpected& expected = oracle.Out;
        EXPECT_EQ(added, static_cast<int32_t>(expected.Names.size()));

        std::vector<std::string> events;
        for (const TCallbackCall& call : engine.Calls) {
            if (call.Action == zacItem) {
                events.push_back("item " + call.FullText);
            } else if (call.Action == zacMessage) {
                EXPECT_EQ(call.Error, zecSkipped);
                events.push_back("skip " + call.FullText);
            }
        }
        EXPECT_EQ(events, expected.Events);
        const auto sizes = engine.CallsOf(zacSize);
        ASSERT_EQ(sizes.size(), 1u);
        EXPECT_EQ(sizes[0].Size, expected.Total);

        const auto [status, listing] = RunCommand("unzip -Z1 " + Quote(archive));
        ASSERT_EQ(status, 0) << listing;
        std::vector<std::string> listed;
        std::istringstream lines(listing);
        for (std::string line; std::getline(lines, line);) {
            listed.push_back(line);
        }
        EXPECT_EQ(listed, expected.Names);
        const auto [tested, output] = RunCommand("unzip -tqq " + Quote(archive));
        EXPECT_EQ(tested, 0) << output;
        TZipReader reader;
        reader.Open(archive);
        ASSERT_EQ(reader.Entries().size(), expected.Contents.size());
        for (size_t i = 0; i < expected.Contents.size(); ++i) {
            std::string content;
            reader.ExtractTo(reader.Entries()[i],
                             [&](const char* data, size_t size) { content.append(data, size); });
            EXPECT_TRUE(content == expected.Contents[i]) << expected.Names[i];
        }
    }
}

}  // namespace
}  // namespace sejfko::test

// The picks against std::unordered_map over random sets, erasures, re-sets and growth, with
// keys that share hashes' low bits (one directory, numbered names) and keys moved to new storage.

#include "restore/path_picks.hpp"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <random>
#include <string>
#include <unordered_map>

namespace sejfko {
namespace {

TEST(PathPicks, AgreeWithAMapThroughRandomChanges) {
    for (unsigned seed = 1; seed <= 4; ++seed) {
        std::mt19937 random(seed);
        std::deque<std::string> storage;  // keys stay where they are, as in the readers
        std::unordered_map<std::string, TPick> oracle;
        TPathPicks picks;
        const int paths = seed == 4 ? 60000 : 3000;
        for (int step = 0; step < 4 * paths; ++step) {
            const std::string path = "d/" + std::to_string(random() % paths) + ".txt";
            const unsigned action = random() % 8;
            if (action < 5) {
                const TPick pick{static_cast<uint32_t>(random() % 5), static_cast<uint32_t>(step)};
                picks.Set(storage.emplace_back(path), pick);
                oracle[path] = pick;
            } else if (action < 7) {
                picks.Erase(path);
                oracle.erase(path);
            } else {
                ASSERT_EQ(picks.Contains(path), oracle.count(path) != 0) << path;
            }
            if (step % 5000 == 0) {
                picks.Reserve(random() % 2000);
            }
        }
        ASSERT_EQ(picks.Size(), oracle.size());
        std::map<std::string, TPick> seen;
        picks.ForEach([&](std::string_view path, TPick pick) {
            EXPECT_TRUE(seen.emplace(std::string(path), pick).second) << path;
        });
        ASSERT_EQ(seen.size(), oracle.size());
        for (const auto& [path, pick] : oracle) {
            ASSERT_EQ(seen.count(path), 1u) << path;
            EXPECT_EQ(seen[path].Archive, pick.Archive) << path;
            EXPECT_EQ(seen[path].Entry, pick.Entry) << path;
        }
        picks.Clear();
        EXPECT_FALSE(picks.Contains("d/1.txt"));
        EXPECT_EQ(picks.Size(), 0u);
    }
}

}  // namespace
}  // namespace sejfko

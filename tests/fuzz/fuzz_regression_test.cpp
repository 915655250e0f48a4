// Every seed and every input that once broke a target, replayed through the same entry as the
// fuzzer uses: tests/fuzz/corpus/<target>/ and tests/fuzz/regressions/<target>/. A broken promise
// aborts the test program, so each input runs as a test of its own.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "fuzz/fuzz_targets.hpp"

namespace sejfko::fuzz {
namespace {

struct TReplayCase {
    const TNamedTarget* Target;
    std::string Kind;  // "corpus" or "regressions"
    std::filesystem::path File;
};

void PrintTo(const TReplayCase& c, std::ostream* out) {
    *out << c.File.string();
}

std::vector<TReplayCase> ReplayCases() {
    std::vector<TReplayCase> cases;
    const std::filesystem::path base = std::filesystem::path(SEJFKO_SOURCE_DIR) / "tests/fuzz";
    for (const TNamedTarget& target : FuzzTargets) {
        for (const char* kind : {"corpus", "regressions"}) {
            const std::filesystem::path folder = base / kind / target.Name;
            if (!std::filesystem::is_directory(folder)) {
                continue;
            }
            std::vector<std::filesystem::path> files;
            for (const auto& entry : std::filesystem::directory_iterator(folder)) {
                if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') {
                    files.push_back(entry.path());
                }
            }
            std::sort(files.begin(), files.end());
            for (const auto& file : files) {
                cases.push_back(TReplayCase{&target, kind, file});
            }
        }
    }
    return cases;
}

std::string CaseName(const testing::TestParamInfo<TReplayCase>& info) {
    std::string name = std::string(info.param.Target->Name) + "_" + info.param.Kind + "_" +
                       info.param.File.filename().string();
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            c = '_';
        }
    }
    return name;
}

class FuzzReplay : public testing::TestWithParam<TReplayCase> {};

TEST_P(FuzzReplay, KeepsItsPromises) {
    std::ifstream in(GetParam().File, std::ios::binary);
    ASSERT_TRUE(in) << GetParam().File;
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(
        GetParam().Target->Entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0);
}

INSTANTIATE_TEST_SUITE_P(Inputs, FuzzReplay, testing::ValuesIn(ReplayCases()), CaseName);

// An empty input reaches every target's shortest path.
TEST(FuzzReplay, EmptyInputs) {
    for (const TNamedTarget& target : FuzzTargets) {
        EXPECT_EQ(target.Entry(nullptr, 0), 0) << target.Name;
    }
}

}  // namespace
}  // namespace sejfko::fuzz

// Encryption across the threads of a batch (label unit, so that the sanitizer builds run it): the
// pieces of large files are compressed anywhere and sealed in order by whichever thread is next,
// small files encrypt themselves; every entry must come back through our reader.
#include <random>

#include "archive/zip_reader.hpp"
#include "support/temp_dir.hpp"
#include "zipengine/engine_harness.hpp"

namespace sejfko::test {
namespace {

TEST(AesEngineThreads, PiecesAndSmallFilesInterleavedComeBackWhole) {
    TEngineRun engine;
    ASSERT_NE(engine.Exec, nullptr) << dlerror();
    engine.Password = "vlákna";
    TTempDir dir;
    const std::string root = dir.MakeDir("tree");
    std::mt19937 random(4);
    std::map<std::string, std::string> files;
    // Large files of a few pieces between runs of small ones, so that sealing hands over
    // between threads while small files are encrypted beside it.
    for (int large = 0; large < 3; ++large) {
        std::string data;
        while (data.size() < (9u << 20) + 1000u * static_cast<unsigned>(large)) {
            data += "kus " + std::to_string(random() % 1000) + "\n";
        }
        files["f" + std::to_string(large) + "-large"] = data;
        for (int small = 0; small < 20; ++small) {
            files["f" + std::to_string(large) + "-small" + std::to_string(small)] =
                std::string(random() % 3000, static_cast<char>('a' + small));
        }
    }
    for (const auto& [name, data] : files) {
        dir.WriteFile("tree/" + name, data);
    }
    for (int run = 0; run < 2; ++run) {
        const std::string archive = dir / ("out" + std::to_string(run) + ".fbk");
        ASSERT_EQ(engine.Run(archive, {{root + "/*.*", true, root}}),
                  static_cast<int32_t>(files.size()));
        TZipReader reader;
        reader.Open(archive);
        reader.SetPasswords({engine.Password});
        ASSERT_EQ(reader.Entries().size(), files.size());
        for (const TZipDirEntry& entry : reader.Entries()) {
            ASSERT_TRUE(entry.IsEncrypted());
            std::string data;
            reader.ExtractTo(entry, [&](const char* p, size_t n) { data.append(p, n); });
            EXPECT_EQ(data, files.at(entry.Name)) << entry.Name;
        }
    }
}

}  // namespace
}  // namespace sejfko::test

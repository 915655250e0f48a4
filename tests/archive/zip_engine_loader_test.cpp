#include "archive/zip_engine_loader.hpp"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "archive/fake_engine/fake_engine_handle.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using test::FakeEngineDirectory;
using test::FakeEnginePath;
using test::TFakeEngine;

class TZipEngineLoaderTest : public ::testing::Test {
protected:
    void SetUp() override { TFakeEngine::Instance().Reset(); }
    test::TTempDir Temp;
};

TEST_F(TZipEngineLoaderTest, PathPrefersDllDirectoryThenFallsBackToPlainName) {
    TZipEngineLoader loader;
    EXPECT_EQ(loader.LibraryPath(FakeEngineDirectory()), FakeEnginePath());
    EXPECT_EQ(loader.LibraryPath(FakeEngineDirectory() + "/"), FakeEnginePath());
    // The test program's directory holds no engine, nor (here) the installation's.
    EXPECT_EQ(loader.LibraryPath(Temp.Path()), "libzipengine.so");
    EXPECT_EQ(loader.LibraryPath(""), "libzipengine.so");
    // The fake sits in "fake_engine" beside the test program.
    const std::string relative = loader.LibraryPath("./fake_engine");
    EXPECT_NE(relative.find("/./fake_engine/libzipengine.so"), std::string::npos) << relative;
}

TEST_F(TZipEngineLoaderTest, StateBitsKeepTheLibraryUntilTheLastIsReleased) {
    TZipEngineLoader loader;
    std::vector<std::pair<int32_t, std::string>> messages;
    loader.OnMessage = [&](int32_t code, const std::string& text) {
        messages.emplace_back(code, text);
    };
    loader.Load(TZipEngineLoader::lsExplicit, 173, FakeEngineDirectory(), true);
    loader.Load(TZipEngineLoader::lsOperation, 173, FakeEngineDirectory(), true);
    EXPECT_EQ(loader.State(), TZipEngineLoader::lsExplicit | TZipEngineLoader::lsOperation);
    EXPECT_EQ(loader.LoadedPath(), FakeEnginePath());
    EXPECT_EQ(loader.Version(), 173);
    loader.Release(TZipEngineLoader::lsOperation);
    EXPECT_TRUE(loader.Loaded());
    loader.Release(TZipEngineLoader::lsExplicit);
    EXPECT_FALSE(loader.Loaded());
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].first, zaeLoaded);
    EXPECT_EQ(messages[0].second, ZipArchiverText(zaeLoaded) + FakeEnginePath());
    EXPECT_EQ(messages[1].first, zaeUnloaded);
}

TEST_F(TZipEngineLoaderTest, MissingLibraryRaises10650WithThePath) {
    TZipEngineLoader loader("libsejfko_no_such_engine.so");
    try {
        loader.Load(TZipEngineLoader::lsOperation, 173, Temp.Path(), false);
        FAIL() << "no error";
    } catch (const EZipArchiver& error) {
        EXPECT_EQ(error.Code, zaeLoadFailed);
        EXPECT_EQ(error.ExtraText, "libsejfko_no_such_engine.so");
        EXPECT_EQ(std::string(error.what()), ZipArchiverText(zaeLoadFailed) + error.ExtraText);
    }
    EXPECT_FALSE(loader.Loaded());
    EXPECT_EQ(loader.State(), 0u);
}

struct TVersionCase {
    int32_t Version;
    bool Accepted;
    bool NamedByPath;  // the error names the loaded file, else the library name
};

class TZipEngineVersionTest : public TZipEngineLoaderTest,
                              public ::testing::WithParamInterface<TVersionCase> {};

TEST_P(TZipEngineVersionTest, AcceptsOnly173To300) {
    const TVersionCase& row = GetParam();
    TFakeEngine::Instance().Script().Version = row.Version;
    TZipEngineLoader loader;
    try {
        loader.Load(TZipEngineLoader::lsOperation, 173, FakeEngineDirectory(), false);
        EXPECT_TRUE(row.Accepted);
        EXPECT_TRUE(loader.Loaded());
    } catch (const EZipArchiver& error) {
        EXPECT_FALSE(row.Accepted);
        EXPECT_EQ(error.Code, zaeBadVersion);
        EXPECT_EQ(error.ExtraText, row.NamedByPath ? FakeEnginePath() : "libzipengine.so");
        EXPECT_FALSE(loader.Loaded());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Versions, TZipEngineVersionTest,
    ::testing::Values(TVersionCase{0, false, true}, TVersionCase{152, false, true},
                      TVersionCase{153, false, false}, TVersionCase{172, false, false},
                      TVersionCase{173, true, false}, TVersionCase{300, true, false},
                      TVersionCase{301, false, true}));

TEST(TZipArchiverMessageTest, CodesWithoutTextUseTheGenericForm) {
    EXPECT_EQ(ZipArchiverMessage(12345, "x.zip", ZipArchiverText(12345)),
              "ZipArchiver [ 12345 ], x.zip");
    EXPECT_EQ(EZipArchiver(zaeNoDestination, "/a").what(),
              ZipArchiverText(zaeNoDestination) + "/a");
}

}  // namespace
}  // namespace sejfko

// Encrypted archives written by the engine (AES-256, AE-2), judged by 7zz and by our own reader:
// the right password opens every entry, a wrong one none, nothing of the data shows in the
// archive's bytes, and a single flipped byte fails the authentication. Passwords reach 7zz on its
// standard input from a file, never on its command line.
#include <fstream>
#include <random>
#include <set>

#include "archive/aes_zip.hpp"
#include "archive/zip_read_format.hpp"
#include "archive/zip_reader.hpp"
#include "support/temp_dir.hpp"
#include "zipengine/archive_readers.hpp"
#include "zipengine/engine_harness.hpp"

namespace sejfko::test {
namespace {

constexpr size_t Piece = 4u << 20;
const std::string Password = "Tajné heslo 1";
const std::string Marker = "PLAINTEXT-MARKER-7Q";

std::string Noise(size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string data(size, 0);
    for (char& c : data) {
        c = static_cast<char>(generator());
    }
    return data;
}

// Compressible text that carries the marker all through.
std::string MarkedText(size_t size) {
    std::string text;
    while (text.size() < size) {
        text += Marker + " line " + std::to_string(text.size()) + "\n";
    }
    text.resize(size);
    return text;
}

class AesEngine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(Engine.Exec, nullptr) << dlerror();
        Engine.Password = Password;
        Right = Dir.WriteFile("right.txt", Password + "\n");
        Wrong = Dir.WriteFile("wrong.txt", "Tajné heslo 2\n");
    }

    // 7zz's verdict with the password from `file` on its standard input.
    int SevenTest(const std::string& archive, const std::string& file) {
        return RunCommand("7zz t -bso0 -bsp0 " + Quote(archive) + " < " + Quote(file)).first;
    }

    // Every entry through our reader: name -> data.
    std::map<std::string, std::string> ReadAll(const std::string& archive,
                                               std::vector<std::string> passwords) {
        TZipReader reader;
        reader.Open(archive);
        reader.SetPasswords(std::move(passwords));
        std::map<std::string, std::string> out;
        for (const TZipDirEntry& entry : reader.Entries()) {
            std::string data;
            reader.ExtractTo(entry, [&](const char* p, size_t n) { data.append(p, n); });
            out[entry.Name] = data;
        }
        return out;
    }

    // Where an entry's data (the salt first) starts in the archive.
    static uint64_t DataOffset(const std::string& bytes, const TZipDirEntry& entry) {
        const auto* header = zipread::Bytes(bytes.data() + entry.LocalHeaderOffset);
        return entry.LocalHeaderOffset + zipread::LocalHeaderSize + zipread::Get16(header + 26) +
               zipread::Get16(header + 28);
    }

    TTempDir Dir;
    TEngineRun Engine;
    std::string Right;
    std::string Wrong;
};

TEST_F(AesEngine, SmallEmptyPiecedAndStoredFilesOpenOnlyWithThePassword) {
    const std::string root = Dir.MakeDir("tree");
    std::map<std::string, std::string> files = {
        {"small.txt", Marker + " small\n"},
        {"empty.txt", ""},
        {"big.txt", MarkedText(2 * Piece + 12345)},          // three pieces, deflated
        {"noise.dat", Noise(300000, 1) + Marker},            // does not shrink: stored
        {"photo.png", MarkedText(50000)},                    // stored by its suffix
        {"noise-big.dat", Noise(Piece + 100, 2) + Marker}};  // pieces of stored blocks
    for (const auto& [name, data] : files) {
        Dir.WriteFile("tree/" + name, data);
    }
    const std::string archive = Dir / "out.fbk";
    ASSERT_EQ(Engine.Run(archive, {{root + "/*.*", true, root}}), 6);

    EXPECT_EQ(SevenTest(archive, Right), 0);
    EXPECT_NE(SevenTest(archive, Wrong), 0);
    const std::string bytes = ReadWholeFile(archive);
    EXPECT_EQ(bytes.find(Marker), std::string::npos) << "plaintext in the archive";
    EXPECT_EQ(bytes.find(" line 1"), std::string::npos);

    // 7zz's extraction equals the input.
    const std::string out = Dir.MakeDir("seven");
    ASSERT_EQ(RunCommand("7zz x -bso0 -bsp0 -o" + Quote(out) + " " + Quote(archive) + " < " +
                         Quote(Right))
                  .first,
              0);
    for (const auto& [name, data] : files) {
        EXPECT_EQ(ReadWholeFile(out + "/" + name), data) << name;
    }
    // So does ours, also with the right password after a wrong one.
    EXPECT_EQ(ReadAll(archive, {"Tajné heslo 2", Password}), files);

    // The headers: method 99, AE-2, AES-256, the real method inside, no CRC; a salt of its own
    // for every entry.
    TZipReader reader;
    reader.Open(archive);
    std::set<std::string> salts;
    for (const TZipDirEntry& entry : reader.Entries()) {
        EXPECT_TRUE(entry.IsEncrypted()) << entry.Name;
        EXPECT_EQ(entry.Method, aeszip::MethodAes) << entry.Name;
        EXPECT_EQ(entry.AesVersion, aeszip::VendorAe2) << entry.Name;
        EXPECT_EQ(entry.AesStrength, aeszip::Strength256) << entry.Name;
        EXPECT_EQ(entry.Crc32, 0u) << entry.Name;
        const bool deflated = entry.Name == "big.txt" || entry.Name == "noise-big.dat";
        if (entry.Name != "small.txt") {  // too short to tell which way deflate goes
            EXPECT_EQ(entry.AesMethod, deflated ? 8 : 0) << entry.Name;
        }
        EXPECT_EQ(entry.CompressedSize >= 28, true);
        salts.insert(bytes.substr(DataOffset(bytes, entry), 16));
    }
    EXPECT_EQ(salts.size(), files.size());
}

TEST_F(AesEngine, AFlippedByteFailsTheAuthenticationEverywhere) {
    const std::string root = Dir.MakeDir("tree");
    Dir.WriteFile("tree/big.txt", MarkedText(Piece + 777));
    Dir.WriteFile("tree/small.txt", "short and sweet\n");
    const std::string archive = Dir / "out.fbk";
    ASSERT_EQ(Engine.Run(archive, {{root + "/*.*", true, root}}), 2);
    const std::string original = ReadWholeFile(archive);
    TZipReader reader;
    reader.Open(archive);
    const std::vector<TZipDirEntry> entries = reader.Entries();
    reader.Close();

    for (const TZipDirEntry& entry : entries) {
        const uint64_t start = DataOffset(original, entry) + 18;  // past salt and verifier
        const uint64_t length = entry.CompressedSize - 28;
        // At the start, in the middle (inside a later piece for the big file), the last byte.
        for (const uint64_t at : {start, start + length / 2, start + length - 1}) {
            std::string bytes = original;
            bytes[at] = static_cast<char>(bytes[at] ^ 0x20);
            const std::string damaged = Dir.WriteFile("damaged.fbk", bytes);
            EXPECT_NE(SevenTest(damaged, Right), 0) << entry.Name << " at " << at;
            TZipReader ours;
            ours.Open(damaged);
            ours.SetPasswords({Password});
            for (const TZipDirEntry& other : ours.Entries()) {
                if (other.Name != entry.Name) {
                    EXPECT_NO_THROW(ours.ExtractTo(other, {}));
                    continue;
                }
                try {
                    ours.ExtractTo(other, {});
                    ADD_FAILURE() << entry.Name << " at " << at << " was accepted";
                } catch (const EZipReadError& error) {
                    EXPECT_EQ(error.Code, 11015) << error.what();
                    EXPECT_NE(std::string(error.what()).find("kód ověření"), std::string::npos)
                        << error.what();
                }
            }
        }
    }
}

TEST_F(AesEngine, WrongOrMissingPasswordsAreToldApart) {
    const std::string root = Dir.MakeDir("tree");
    Dir.WriteFile("tree/a.txt", "alfa\n");
    const std::string archive = Dir / "out.fbk";
    ASSERT_EQ(Engine.Run(archive, {{root + "/*.*", true, root}}), 1);
    TZipReader reader;
    reader.Open(archive);
    const TZipDirEntry& entry = reader.Entries().at(0);
    for (const auto& [passwords, code] : std::vector<std::pair<std::vector<std::string>, int>>{
             {{}, 11017}, {{"jiné", "tajné heslo 1"}, 11016}}) {
        reader.SetPasswords(passwords);
        std::string delivered;
        try {
            reader.ExtractTo(entry, [&](const char* p, size_t n) { delivered.append(p, n); });
            ADD_FAILURE() << "read without the password";
        } catch (const EZipReadError& error) {
            EXPECT_EQ(error.Code, code) << error.what();
        }
        EXPECT_THROW(reader.CheckPassword(entry), EZipReadError);
        EXPECT_TRUE(delivered.empty());
    }
    reader.SetPasswords({Password});
    EXPECT_NO_THROW(reader.CheckPassword(entry));
}

// Sizes around the piece and block boundaries, compressible and not, deflated and stored, all
// read back by both readers.
TEST_F(AesEngine, SizesAroundEveryBoundaryRoundTrip) {
    const std::string root = Dir.MakeDir("tree");
    std::map<std::string, std::string> files;
    unsigned seed = 10;
    for (const size_t size : {size_t{1}, size_t{15}, size_t{16}, size_t{17}, size_t{4095},
                              Piece - 1, Piece, Piece + 1, 2 * Piece + 16}) {
        files["t" + std::to_string(size)] = MarkedText(size);
        files["n" + std::to_string(size)] = Noise(size, ++seed);
    }
    for (const auto& [name, data] : files) {
        Dir.WriteFile("tree/" + name, data);
    }
    for (const int level : {0, 9}) {
        Engine.Level = level;
        const std::string archive = Dir / ("level" + std::to_string(level) + ".fbk");
        ASSERT_EQ(Engine.Run(archive, {{root + "/*.*", true, root}}),
                  static_cast<int32_t>(files.size()));
        EXPECT_EQ(SevenTest(archive, Right), 0) << level;
        EXPECT_EQ(ReadAll(archive, {Password}), files) << level;
    }
}

TEST_F(AesEngine, EncryptionWithoutAPasswordIsRefused) {
    const std::string root = Dir.MakeDir("tree");
    Dir.WriteFile("tree/a.txt", "alfa\n");
    Engine.Password.clear();
    Engine.Hook = nullptr;
    // The spec asks for encryption, neither it nor the command has a password.
    std::vector<TZipSpec> spec(1);
    const std::string pattern = root + "/*.*";
    spec[0].Spec = pattern.c_str();
    spec[0].Encrypt = -1;
    const std::string archive = Dir / "out.fbk";
    Engine.Run(archive, {{pattern, true, root}});  // fills the command like the job does
    Engine.Command.Specs = spec.data();
    Engine.Calls.clear();
    EXPECT_LT(Engine.Exec(&Engine.Command), 0);
    const auto messages = Engine.CallsOf(zacMessage);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].Error, zecBadCommand);
    EXPECT_NE(messages[0].Text.find("bez hesla"), std::string::npos);
}

}  // namespace
}  // namespace sejfko::test

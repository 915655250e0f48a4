// The restore's workers against the truth: random archives of many small and a few large files
// (several chunks each, stored and deflated), with a damaged entry somewhere or a stop request
// part-way. Whatever the interleaving of the workers, the restored tree holds exactly the files
// before the damage (or some whole files, after a stop), each byte for byte, and no temporary
// file. Meant to run under ThreadSanitizer too.

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "archive/zip_read_fixtures.hpp"
#include "platform/cancel_event.hpp"
#include "platform/file_system.hpp"
#include "restore/restore_chain.hpp"
#include "restore/restore_run.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using test::ReadWholeFile;
using test::TTempDir;

struct TFile {
    std::string Name;
    std::string Content;
    bool Deflated = true;
};

void Put(std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out += static_cast<char>(value >> (8 * i));
    }
}

std::string Deflate(const std::string& data) {
    z_stream stream{};
    deflateInit2(&stream, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, data.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// A plain zip archive made on POSIX (regular files, mode 0640); `damaged` >= 0 flips a byte in
// the data of that entry and its CRC-32, so that the damage shows whatever the byte was.
std::string ZipOf(const std::vector<TFile>& files, int damaged) {
    std::string archive;
    std::string directory;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const TFile& file = files[i];
        std::string data = file.Deflated ? Deflate(file.Content) : file.Content;
        if (static_cast<int>(i) == damaged) {
            data[data.size() / 2] ^= 0x55;
        }
        uint32_t crc =
            static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(file.Content.data()),
                                        static_cast<uInt>(file.Content.size())));
        if (static_cast<int>(i) == damaged) {
            crc ^= 0x01000000;
        }
        const uint64_t offset = archive.size();
        const uint16_t method = file.Deflated ? 8 : 0;
        const uint32_t stamp = (46u << 25) | (1u << 21) | (2u << 16) | (3u << 11);
        std::string common;
        Put(common, 20, 2);     // version needed
        Put(common, 0x800, 2);  // UTF-8 names
        Put(common, method, 2);
        Put(common, stamp, 4);  // time, date
        Put(common, crc, 4);
        Put(common, data.size(), 4);
        Put(common, file.Content.size(), 4);
        Put(common, file.Name.size(), 2);
        Put(common, 0, 2);  // extra
        Put(archive, 0x04034b50, 4);
        archive += common + file.Name + data;
        Put(directory, 0x02014b50, 4);
        Put(directory, (3u << 8) | 20, 2);  // made on POSIX
        directory += common;
        Put(directory, 0, 2);  // comment
        Put(directory, 0, 2);  // disk
        Put(directory, 0, 2);  // internal attributes
        Put(directory, static_cast<uint64_t>(0100640) << 16, 4);
        Put(directory, offset, 4);
        directory += file.Name;
    }
    const uint64_t at = archive.size();
    archive += directory;
    Put(archive, 0x06054b50, 4);
    Put(archive, 0, 4);
    Put(archive, files.size(), 2);
    Put(archive, files.size(), 2);
    Put(archive, directory.size(), 4);
    Put(archive, at, 4);
    Put(archive, 0, 2);
    return archive;
}

std::vector<TFile> RandomFiles(std::mt19937& random) {
    std::vector<TFile> files;
    const int count = 150 + static_cast<int>(random() % 150);
    for (int i = 0; i < count; ++i) {
        TFile file;
        file.Name = "d" + std::to_string(random() % 6) + "/f" + std::to_string(i);
        // A few files of several chunks; the rest small, some empty.
        const std::size_t size =
            random() % 40 == 0 ? (1u << 20) + random() % (3u << 20) : random() % 3000;
        file.Content.resize(size);
        const char base = static_cast<char>('a' + random() % 26);
        for (std::size_t at = 0; at < size; ++at) {
            // Compressible text with runs of zeros (holes) now and then.
            file.Content[at] =
                (at / 8192) % 7 == 3 ? '\0' : static_cast<char>(base + (at * 7 + i) % 13);
        }
        file.Deflated = random() % 4 != 0;
        files.push_back(std::move(file));
    }
    return files;
}

// Every file below `root` (names relative), with its content.
void ReadTree(const std::string& root, const std::string& prefix,
              std::map<std::string, std::string>& out) {
    std::vector<TDirectoryEntry> entries;
    ListDirectory(root, entries);
    for (const TDirectoryEntry& entry : entries) {
        const std::string path = root + "/" + entry.Name;
        if (GetFileStatus(path).Kind == TEntryKind::Directory) {
            ReadTree(path, prefix + entry.Name + "/", out);
        } else {
            out[prefix + entry.Name] = ReadWholeFile(path);
        }
    }
}

class TStopAfter : public TRestoreObserver {
public:
    TStopAfter(TCancelEvent& cancel, uint64_t bytes) : FCancel(cancel), FBytes(bytes) {}
    void Progress(uint64_t done, uint64_t) override {
        if (done >= FBytes) {
            FCancel.Set();
        }
    }
    std::vector<std::string> Problems;
    void Problem(const std::string& message) override { Problems.push_back(message); }

private:
    TCancelEvent& FCancel;
    uint64_t FBytes;
};

TEST(RestorePipeline, RandomArchivesRestoreExactlyUpToDamageOrStop) {
    for (unsigned seed = 1; seed <= 6; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        const std::vector<TFile> files = RandomFiles(random);
        // Even seeds: a damaged entry; odd seeds: a stop request part-way (or none for seed 1).
        int damaged = seed % 2 == 0 ? static_cast<int>(random() % files.size()) : -1;
        while (damaged >= 0 && files[damaged].Content.empty()) {
            damaged = (damaged + 1) % static_cast<int>(files.size());
        }
        uint64_t total = 0;
        for (const TFile& file : files) {
            total += file.Content.size();
        }
        const uint64_t stopAt = seed == 1 || damaged >= 0 ? UINT64_MAX : total / (seed + 1);
        TTempDir dir;
        const std::string archive = dir / "Backup_20260102_0304_full.fbk";
        test::WriteBytes(archive, ZipOf(files, damaged));
        dir.MakeDir("out");

        TCancelEvent cancel;
        TStopAfter observer(cancel, stopAt);
        TRestoreOptions options;
        options.Target = dir / "out";
        options.Cancel = &cancel;
        TArchiveRef ref;
        ref.Path = archive;
        ref.Name = "Backup_20260102_0304_full.fbk";
        const TRestoreSummary summary = RestoreChain({ref}, options, observer);

        std::map<std::string, std::string> restored;
        ReadTree(dir / "out", "", restored);
        std::map<std::string, std::string> truth;
        for (const TFile& file : files) {
            truth[file.Name] = file.Content;
        }
        // Whole files only, each exactly as stored; no temporary file is left.
        for (const auto& [name, content] : restored) {
            ASSERT_EQ(truth.count(name), 1u) << name;
            EXPECT_TRUE(content == truth[name]) << name;
        }
        EXPECT_EQ(summary.FilesWritten, restored.size());
        if (damaged >= 0) {
            EXPECT_TRUE(summary.Stopped);
            ASSERT_EQ(observer.Problems.size(), 1u);
            EXPECT_NE(observer.Problems[0].find("\"" + files[damaged].Name + "\""),
                      std::string::npos)
                << observer.Problems[0];
            // Exactly the files before the damaged one.
            EXPECT_EQ(restored.size(), static_cast<std::size_t>(damaged));
            for (int i = 0; i < damaged; ++i) {
                EXPECT_EQ(restored.count(files[i].Name), 1u) << files[i].Name;
            }
        } else if (stopAt == UINT64_MAX) {
            EXPECT_TRUE(summary.Succeeded());
            EXPECT_EQ(restored.size(), files.size());
        } else {
            EXPECT_TRUE(summary.Cancelled);
            EXPECT_LT(restored.size(), files.size());
        }
    }
}

}  // namespace
}  // namespace sejfko

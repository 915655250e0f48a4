#include "platform/file_io.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <ostream>
#include <thread>
#include <vector>

#include "platform/exceptions.hpp"
#include "platform/fault_injection.hpp"
#include "platform/file_system.hpp"
#include "platform/temp_file.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using test::ReadWholeFile;
using test::TTempDir;

std::vector<std::string> Names(const std::string& directory) {
    std::vector<TDirectoryEntry> entries;
    EXPECT_TRUE(ListDirectory(directory, entries));
    std::vector<std::string> names;
    for (const auto& entry : entries) {
        names.push_back(entry.Name);
    }
    return names;
}

unsigned ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_mode & 07777;
}

TEST(AtomicFileWriter, CommitReplacesTheFileWithExactModeAndContent) {
    TTempDir dir;
    const std::string target = dir.WriteFile("Options.ini", "old");
    ::chmod(target.c_str(), 0644);
    // Pieces below, at and above the buffer size, so buffered and direct writes interleave.
    std::string expected;
    TAtomicFileWriter writer(target);
    for (std::size_t size : {1u, 70000u, 65536u, 10u, 200000u, 3u}) {
        const std::string piece(size, static_cast<char>('a' + size % 26));
        writer.Write(piece);
        expected += piece;
    }
    EXPECT_EQ(ReadWholeFile(target), "old");
    writer.Commit();
    EXPECT_EQ(ReadWholeFile(target), expected);
    EXPECT_EQ(ModeOf(target), 0600u);
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"Options.ini"});

    WriteFileAtomically(target, "shared", 0644);
    EXPECT_EQ(ReadWholeFile(target), "shared");
    EXPECT_EQ(ModeOf(target), 0644u);
}

TEST(AtomicFileWriter, AbandonedWriterLeavesOldFileAndNoTemporary) {
    TTempDir dir;
    const std::string target = dir.WriteFile("IncSelect.ini", "old");
    {
        TAtomicFileWriter writer(target);
        writer.Write(std::string(300000, 'x'));
        EXPECT_EQ(ExtractFileDir(writer.TemporaryPath()), dir.Path());
        EXPECT_EQ(ExtractFileName(writer.TemporaryPath()).substr(0, 15), ".IncSelect.ini.");
    }
    EXPECT_EQ(ReadWholeFile(target), "old");
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"IncSelect.ini"});
}

TEST(AtomicFileWriter, LongestFileNameStillGetsATemporaryName) {
    TTempDir dir;
    const std::string target = dir / std::string(255, 'n');
    WriteFileAtomically(target, "ok");
    EXPECT_EQ(ReadWholeFile(target), "ok");
}

TEST(AtomicFileWriter, CrashBeforeCommitLeavesTheOldFileAndTheNextWriteClearsUp) {
    TTempDir dir;
    const std::string target = dir.WriteFile("Options.ini", "old content");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TAtomicFileWriter writer(target);
        writer.Write(std::string(1 << 20, 'n'));
        ::_exit(0);  // no destructor, no commit: as if the process died here
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(ReadWholeFile(target), "old content");

    // The dead writer's temporary file goes with the next write; one in use stays.
    const auto hidden = [&] {
        std::vector<std::string> names;
        for (const std::string& name : test::EntryNames(dir.Path())) {
            if (name.front() == '.') {
                names.push_back(name);
            }
        }
        return names;
    };
    ASSERT_EQ(hidden().size(), 1u);
    TAtomicFileWriter active(target);
    active.Write("in use");
    {
        TAtomicFileWriter next(target);
        next.Write("new content");
        next.Commit();
    }
    EXPECT_EQ(hidden(), std::vector<std::string>{ExtractFileName(active.TemporaryPath())});
    EXPECT_EQ(ReadWholeFile(target), "new content");
}

struct TWriterFault {
    TFileOperation Operation;
    std::size_t DataSize;  // small data fails only at Commit, large data already in Write
};
// Keeps test names short when the test runner lists the cases.
void PrintTo(const TWriterFault& c, std::ostream* out) {
    *out << static_cast<int>(c.Operation);
}

class AtomicFileWriterFault : public ::testing::TestWithParam<TWriterFault> {};

TEST_P(AtomicFileWriterFault, ThrowsNamingTheTargetAndKeepsTheOldFile) {
    TTempDir dir;
    const std::string target = dir.WriteFile("Options.ini", "old");
    TScopedFault fault(FailUnder(dir.Path(), GetParam().Operation, ENOSPC));
    try {
        WriteFileAtomically(target, std::string(GetParam().DataSize, 'x'));
        FAIL() << "no exception";
    } catch (const EOSError& error) {
        EXPECT_EQ(error.Code, ENOSPC);
        EXPECT_NE(std::string(error.what()).find(target), std::string::npos) << error.what();
    }
    EXPECT_EQ(ReadWholeFile(target), "old");
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"Options.ini"});
}

INSTANTIATE_TEST_SUITE_P(Seam, AtomicFileWriterFault,
                         ::testing::Values(TWriterFault{TFileOperation::Create, 10},
                                           TWriterFault{TFileOperation::Write, 10},
                                           TWriterFault{TFileOperation::Write, 1 << 20},
                                           TWriterFault{TFileOperation::Rename, 10}));

TEST(ReadFile, ReadsRegularFilesAndSymlinksToThem) {
    TTempDir dir;
    const std::string file = dir.WriteFile("data", std::string(100000, 'd'));
    ASSERT_EQ(::symlink(file.c_str(), (dir / "link").c_str()), 0);
    TReadFile reader;
    ASSERT_TRUE(reader.Open(dir / "link"));
    EXPECT_EQ(reader.Size(), 100000);
    std::vector<char> buffer(70000);
    EXPECT_EQ(reader.Read(buffer.data(), buffer.size()), 70000);
    EXPECT_EQ(reader.Read(buffer.data(), buffer.size()), 30000);
    EXPECT_EQ(reader.Read(buffer.data(), buffer.size()), 0);
    EXPECT_EQ(ReadSmallFile(file), std::string(100000, 'd'));
}

TEST(ReadFile, RefusesWhatIsNotARegularFileWithoutBlocking) {
    TTempDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);  // opening it would wait for a writer
    ASSERT_EQ(::symlink((dir / "fifo").c_str(), (dir / "fifo-link").c_str()), 0);
    dir.MakeDir("sub");
    const std::pair<std::string, int> cases[] = {
        {dir / "fifo", EINVAL}, {dir / "fifo-link", EINVAL}, {dir / "sub", EINVAL},
        {"/dev/zero", EINVAL},  {dir / "missing", ENOENT},
    };
    for (const auto& [path, error] : cases) {
        TReadFile reader;
        EXPECT_FALSE(reader.Open(path)) << path;
        EXPECT_EQ(reader.Error(), error) << path;
    }
    try {
        ReadSmallFile(dir / "missing");
        FAIL() << "no exception";
    } catch (const EOSError& error) {
        EXPECT_EQ(error.Code, ENOENT);
        EXPECT_NE(std::string(error.what()).find(dir / "missing"), std::string::npos);
    }
}

TEST(ReadFile, SeamFailsOpeningAndReading) {
    TTempDir dir;
    const std::string file = dir.WriteFile("data", "abc");
    TReadFile reader;
    {
        TScopedFault fault(FailUnder(file, TFileOperation::OpenRead, EACCES));
        EXPECT_FALSE(reader.Open(file));
        EXPECT_EQ(reader.Error(), EACCES);
    }
    ASSERT_TRUE(reader.Open(file));
    TScopedFault fault(FailUnder(file, TFileOperation::Read, EIO));
    char buffer[4];
    EXPECT_EQ(reader.Read(buffer, sizeof buffer), -1);
    EXPECT_EQ(reader.Error(), EIO);
}

TEST(FaultInjection, HookMayBeReplacedWhileOtherThreadsConsultIt) {
    std::atomic<bool> stop{false};
    std::atomic<int> seen{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i) {
        readers.emplace_back([&] {
            while (!stop.load()) {
                if (InjectedFault(TFileOperation::Write, "/x/y") == EIO) {
                    ++seen;
                }
            }
        });
    }
    for (int i = 0; i < 2000; ++i) {
        SetFaultHook(i % 2 == 0 ? FailUnder("/x", TFileOperation::Write, EIO) : TFaultHook{});
    }
    SetFaultHook(FailUnder("/x", TFileOperation::Write, EIO));
    while (seen.load() == 0) {
        std::this_thread::yield();
    }
    stop = true;
    for (auto& reader : readers) {
        reader.join();
    }
    SetFaultHook({});
    EXPECT_EQ(InjectedFault(TFileOperation::Write, "/x/y"), 0);
    EXPECT_EQ(FailUnder("/x", TFileOperation::Write, EIO)(TFileOperation::Read, "/x/y"), 0);
}

TEST(TempFile, UniqueHiddenFilesAndPrivateDirectories) {
    TTempDir dir;
    const std::string first = CreateUniqueTempFile(dir.Path());
    const std::string second = CreateUniqueTempFile(dir.Path());
    EXPECT_NE(first, second);
    EXPECT_EQ(ExtractFileName(first).substr(0, 4), ".fbk");
    EXPECT_EQ(ExtractFileDir(first), dir.Path());
    EXPECT_TRUE(FileExists(first));
    EXPECT_EQ(ModeOf(first), 0600u);
    const std::string private_ = CreatePrivateTempDirectory(dir.Path(), ".del");
    EXPECT_TRUE(DirectoryExists(private_));
    EXPECT_EQ(ModeOf(private_), 0700u);

    TScopedFault fault(FailUnder(dir.Path(), TFileOperation::Create, EROFS));
    EXPECT_THROW(CreateUniqueTempFile(dir.Path()), EOSError);
}

}  // namespace
}  // namespace sejfko

#include "config/options.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <mutex>
#include <ostream>
#include <thread>
#include <vector>

#include "platform/data_directory.hpp"
#include "platform/fault_injection.hpp"
#include "platform/file_system.hpp"
#include "platform/message_sink.hpp"
#include "support/temp_dir.hpp"

namespace sejfko {
namespace {

using test::ReadWholeFile;
using test::TTempDir;

class TRecordingSink : public TMessageSink {
public:
    void Post(unsigned message, intptr_t, intptr_t) override {
        std::lock_guard lock(FMutex);
        Messages.push_back(message);
    }
    void ShowException(const std::string&) override {}
    std::vector<unsigned> Taken() {
        std::lock_guard lock(FMutex);
        return std::exchange(Messages, {});
    }

private:
    std::mutex FMutex;
    std::vector<unsigned> Messages;
};

const TLocaleFormat PointLocale = TLocaleFormat::FromName("C", "C");

// Loads `content` (when given) as Options.ini of a fresh directory.
struct TLoaded {
    TTempDir Dir;
    TOptions Store{PointLocale};
    std::string Path = Dir / "Options.ini";
    explicit TLoaded(const std::string* content = nullptr) {
        if (content != nullptr) {
            Dir.WriteFile("Options.ini", *content);
        }
        Store.Load(Dir.Path());
    }
};

// A write killed half way leaves its temporary file; a process that only reads the options
// clears it, and never one that a live writer still holds.
TEST(Options, LoadingClearsTheTemporaryOfAKilledWriteOnly) {
    TTempDir dir;
    const std::string stale = dir.WriteFile(".Options.ini.Ab12Cd", "[Options]\n");
    const std::string live = dir.WriteFile(".Options.ini.Ef34Gh", "[Options]\n");
    const int held = ::open(live.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    const std::string other = dir.WriteFile(".Other.ini.Ab12Cd", "x");
    TOptions store{PointLocale};
    store.Load(dir.Path());
    EXPECT_FALSE(FileExists(stale));
    EXPECT_TRUE(FileExists(live));
    EXPECT_TRUE(FileExists(other));
    ::close(held);
}

TEST(Options, FirstStartHasDefaultsAndNoFile) {
    TLoaded loaded;
    const TOptions& o = loaded.Store;
    EXPECT_EQ(o.RunEvery(), 1);
    EXPECT_EQ(o.InTime(), 0.0);
    EXPECT_EQ(o.FileChoose(), "");
    EXPECT_EQ(o.BackupKind(), bkFull);
    EXPECT_EQ(o.CompletelyWeekBackupDay(), 1);
    EXPECT_EQ(o.CompletelyMonthBackupDay(), 1);
    EXPECT_EQ(o.SavingKind(), skLocal);
    EXPECT_EQ(o.LocalDirectory(), "");
    EXPECT_EQ(o.LocalTemporaryDirectory(), DefaultLocalTemporaryDirectory(loaded.Dir.Path()));
    EXPECT_EQ(o.RemoteHost() + o.RemoteUser() + o.RemotePassword(), "");
    EXPECT_EQ(o.BackupCount(), 10);
    EXPECT_EQ(o.LastRun(), 0.0);
    EXPECT_EQ(o.FileCountForTransfer(), 0);
    EXPECT_EQ(o.LastTransfer(), 0.0);
    EXPECT_EQ(o.FileName(), loaded.Path);
    EXPECT_FALSE(FileExists(loaded.Path));

    loaded.Store.SetBackupCount(5);
    EXPECT_EQ(ReadWholeFile(loaded.Path), "[Options]\nBackup count=5\n");
}

TEST(Options, PassiveModeDefaultsToActiveAndKeepsTheStoredValue) {
    TLoaded loaded;
    EXPECT_EQ(loaded.Store.PassiveMode(), 0);
    loaded.Store.SetPassiveMode(1);
    EXPECT_EQ(ReadWholeFile(loaded.Path), "[Options]\nPassive mode=1\n");

    const std::string stored = "[OPTIONS]\npassive MODE=2\n";
    TLoaded other(&stored);
    EXPECT_EQ(other.Store.PassiveMode(), 2);
    const std::string garbage = "[Options]\nPassive mode=yes\n";
    TLoaded third(&garbage);
    EXPECT_EQ(third.Store.PassiveMode(), 0);
}

TEST(Options, FtpSecurityDefaultsToPlainAndTheCertificateToNone) {
    TLoaded loaded;
    EXPECT_EQ(loaded.Store.FtpSecurity(), 0);
    EXPECT_EQ(loaded.Store.FtpCertificate(), "");
    loaded.Store.SetFtpSecurity(1);
    loaded.Store.SetFtpCertificate("ab:CD");
    EXPECT_EQ(ReadWholeFile(loaded.Path), "[Options]\nFTP security=1\nFTP certificate=ab:CD\n");
    const std::string stored = "[Options]\nftp SECURITY=7\n";
    TLoaded other(&stored);
    EXPECT_EQ(other.Store.FtpSecurity(), 7);
}

// An archive password comes back byte for byte, whatever an INI file could mistake in it: a
// password read back otherwise would encrypt the archives with something else than the user
// keeps.
TEST(Options, ArchivePasswordSurvivesTheFileExactly) {
    TLoaded loaded;
    EXPECT_EQ(loaded.Store.ArchivePassword(), "");
    for (const std::string& password :
         {std::string(" mezera na kraji "), std::string("a;b # c"), std::string("\"v uvozovkách\""),
          std::string("x=y=z"), std::string("'jedna'"), std::string("[sekce]"),
          std::string("Příliš žluťoučký kůň")}) {
        loaded.Store.SetArchivePassword(password);
        TOptions reread(PointLocale);
        reread.Load(loaded.Dir.Path());
        EXPECT_EQ(reread.ArchivePassword(), password);
    }
}

TEST(Options, NeverLoadedStoreHasConstructionValuesAndRefusesSetters) {
    TOptions o(PointLocale);
    EXPECT_FALSE(o.Loaded());
    EXPECT_EQ(o.BackupCount(), 0);
    EXPECT_EQ(o.RunEvery(), 0);
    EXPECT_EQ(o.CompletelyWeekBackupDay(), 1);
    EXPECT_EQ(o.LocalTemporaryDirectory(), "");
    const std::vector<std::function<void()>> setters = {
        [&] { o.SetRunEvery(3); },
        [&] { o.SetInTime(0.5); },
        [&] { o.SetFileChoose("x"); },
        [&] { o.SetBackupKind(bkIncWeek); },
        [&] { o.SetCompletelyWeekBackupDay(3); },
        [&] { o.SetCompletelyMonthBackupDay(3); },
        [&] { o.SetSavingKind(skRemote); },
        [&] { o.SetLocalDirectory("x"); },
        [&] { o.SetLocalTemporaryDirectory("x"); },
        [&] { o.SetRemoteHost("x"); },
        [&] { o.SetRemoteUser("x"); },
        [&] { o.SetRemotePassword("x"); },
        [&] { o.SetBackupCount(3); },
        [&] { o.SetLastRun(3); },
        [&] { o.SetFileCountForTransfer(3); },
        [&] { o.SetLastTransfer(3); },
    };
    for (const auto& set : setters) {
        try {
            set();
            ADD_FAILURE() << "no exception";
        } catch (const EOptionsInvalidUsing& error) {
            EXPECT_STREQ(error.what(), "Invalid using of TOptions");
        }
    }
    EXPECT_EQ(o.RunEvery(), 0);
    EXPECT_EQ(o.BackupCount(), 0);
    EXPECT_EQ(o.BackupKind(), bkFull);
    EXPECT_EQ(o.RemoteHost(), "");
}

TEST(Options, EverySetterWritesItsOwnKey) {
    TLoaded loaded;
    TOptions& o = loaded.Store;
    o.SetRunEvery(2);
    o.SetInTime(0.875);
    o.SetFileChoose("/home/u/výběr.txt");
    o.SetBackupKind(bkIncMonth);
    o.SetCompletelyWeekBackupDay(5);
    o.SetCompletelyMonthBackupDay(31);
    o.SetSavingKind(skRemote);
    o.SetLocalDirectory("/zalohy");
    o.SetLocalTemporaryDirectory("/var/tmp/s");
    o.SetRemoteHost("ftp.example.cz");
    o.SetRemoteUser("novak");
    o.SetRemotePassword("tajné heslo");
    o.SetBackupCount(-4);
    o.SetLastRun(45000.25);
    o.SetFileCountForTransfer(3);
    o.SetLastTransfer(45001.5);

    TOptions r(PointLocale);
    r.Load(loaded.Dir.Path());
    EXPECT_EQ(r.RunEvery(), 2);
    EXPECT_EQ(r.InTime(), 0.875);
    EXPECT_EQ(r.FileChoose(), "/home/u/výběr.txt");
    EXPECT_EQ(r.BackupKind(), bkIncMonth);
    EXPECT_EQ(r.CompletelyWeekBackupDay(), 5);
    EXPECT_EQ(r.CompletelyMonthBackupDay(), 31);
    EXPECT_EQ(r.SavingKind(), skRemote);
    EXPECT_EQ(r.LocalDirectory(), "/zalohy");
    EXPECT_EQ(r.LocalTemporaryDirectory(), "/var/tmp/s");
    EXPECT_EQ(r.RemoteHost(), "ftp.example.cz");
    EXPECT_EQ(r.RemoteUser(), "novak");
    EXPECT_EQ(r.RemotePassword(), "tajné heslo");
    EXPECT_EQ(r.BackupCount(), -4);
    EXPECT_EQ(r.LastRun(), 45000.25);
    EXPECT_EQ(r.FileCountForTransfer(), 3);
    EXPECT_EQ(r.LastTransfer(), 45001.5);

    std::string content = ReadWholeFile(loaded.Path);
    EXPECT_NE(content.find("\nRemote password=tajné heslo\n"), std::string::npos);
    EXPECT_NE(content.find("[Backup status]\nLast run=45000.25\n"), std::string::npos);
}

struct TStoredCase {
    const char* Name;
    const char* Stored;  // the file's "Backup count" / "Backup kind" text
    int32_t BackupCount;
    int BackupKind;
};
// Keeps test names short when the test runner lists the cases.
void PrintTo(const TStoredCase& c, std::ostream* out) {
    *out << c.Name;
}

class OptionsStoredIntegerTest : public testing::TestWithParam<TStoredCase> {};

TEST_P(OptionsStoredIntegerTest, Reads) {
    const TStoredCase& c = GetParam();
    std::string content = std::string("[Options]\nBackup count=") + c.Stored +
                          "\nBackup kind=" + c.Stored + "\nSaving kind=" + c.Stored + "\n";
    TLoaded loaded(&content);
    EXPECT_EQ(loaded.Store.BackupCount(), c.BackupCount);
    EXPECT_EQ(static_cast<int>(loaded.Store.BackupKind()), c.BackupKind);
    EXPECT_EQ(static_cast<int>(loaded.Store.SavingKind()), c.BackupKind);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OptionsStoredIntegerTest,
    testing::Values(TStoredCase{"Hex", "0x1F", 31, 31}, TStoredCase{"Dollar", "$1F", 31, 31},
                    TStoredCase{"NotANumber", "abc", 10, 0}, TStoredCase{"Empty", "", 10, 0},
                    // Enumerations keep the low 8 bits, in the table or not.
                    TStoredCase{"LowBits", "258", 258, 2}, TStoredCase{"Outside", "7", 7, 7},
                    TStoredCase{"Negative", "-1", -1, 255}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(Options, DateTimeFollowsTheLocaleSeparator) {
    TLocaleFormat czech = TLocaleFormat::FromName("cs_CZ.UTF-8", "cs_CZ.UTF-8");
    if (czech.DecimalSeparator() != ',') {
        GTEST_SKIP() << "locale cs_CZ.UTF-8 is not installed";
    }
    TTempDir dir;
    TOptions writer(czech);
    writer.Load(dir.Path());
    writer.SetInTime(0.875);
    writer.SetLastRun(45000.5);
    EXPECT_EQ(ReadWholeFile(dir / "Options.ini"),
              "[Options]\nIn time=0,875\n[Backup status]\nLast run=45000,5\n");

    TOptions sameLocale(czech);
    sameLocale.Load(dir.Path());
    EXPECT_EQ(sameLocale.InTime(), 0.875);
    EXPECT_EQ(sameLocale.LastRun(), 45000.5);

    // Written with a comma, read where the separator is a point (a service's C locale), and
    // back: the same values, and each writes its own locale's separator.
    TOptions pointLocale(PointLocale);
    pointLocale.Load(dir.Path());
    EXPECT_EQ(pointLocale.InTime(), 0.875);
    EXPECT_EQ(pointLocale.LastRun(), 45000.5);
    pointLocale.SetLastTransfer(45001.25);
    EXPECT_EQ(ReadWholeFile(dir / "Options.ini"),
              "[Options]\nIn time=0,875\n[Backup status]\nLast run=45000,5\n"
              "Last transfer=45001.25\n");
    TOptions czechAgain(czech);
    czechAgain.Load(dir.Path());
    EXPECT_EQ(czechAgain.LastTransfer(), 45001.25);
}

TEST(Options, ValueCutAtItsNulAndFirstSectionBehindAByteOrderMark) {
    const std::string content = std::string("\xEF\xBB\xBF[Options]\r\nRemote host=ftp.example.cz") +
                                std::string("\0\r\nDELE x", 9) + "\r\nBackup count=4\r\n";
    TLoaded loaded(&content);
    EXPECT_EQ(loaded.Store.RemoteHost(), "ftp.example.cz");
    EXPECT_EQ(loaded.Store.BackupCount(), 4);
    loaded.Store.SetBackupCount(5);
    EXPECT_EQ(ReadWholeFile(loaded.Path),
              std::string("\xEF\xBB\xBF[Options]\r\nRemote host=ftp.example.cz") +
                  std::string("\0\r\nDELE x", 9) + "\r\nBackup count=5\r\n");
}

TEST(Options, TakesInWhatAnotherProcessWrote) {
    TLoaded loaded;
    TOptions& mine = loaded.Store;
    TOptions other(PointLocale);
    other.Load(loaded.Dir.Path());
    TRecordingSink sink;
    TScopedMessageSink scopedSink(sink);
    mine.SetBackupCount(7);
    EXPECT_FALSE(mine.ReloadIfChanged());  // its own write

    other.SetRemoteHost("server");
    other.SetLastRun(45000.5);
    sink.Taken();
    EXPECT_EQ(mine.RemoteHost(), "");
    EXPECT_TRUE(mine.ReloadIfChanged());
    EXPECT_EQ(mine.RemoteHost(), "server");
    EXPECT_EQ(mine.LastRun(), 45000.5);
    EXPECT_EQ(mine.BackupCount(), 7);
    EXPECT_EQ(sink.Taken(), std::vector<unsigned>{WM_LAST_RUN_CHANGED});
    EXPECT_FALSE(mine.ReloadIfChanged());

    // A change that came before one of its own writes is still taken in afterwards.
    other.SetRemoteUser("jana");
    mine.SetFileCountForTransfer(2);
    EXPECT_TRUE(mine.ReloadIfChanged());
    EXPECT_EQ(mine.RemoteUser(), "jana");
    EXPECT_EQ(mine.FileCountForTransfer(), 2);

    // A file that cannot be read now keeps the values; it is read once it can be.
    other.SetRemoteUser("karel");
    {
        TScopedFault fault(FailUnder(loaded.Path, TFileOperation::OpenRead, EACCES));
        EXPECT_FALSE(mine.ReloadIfChanged());
        EXPECT_EQ(mine.RemoteUser(), "jana");
        EXPECT_EQ(mine.RemoteHost(), "server");
    }
    EXPECT_TRUE(mine.ReloadIfChanged());
    EXPECT_EQ(mine.RemoteUser(), "karel");

    TOptions never(PointLocale);
    EXPECT_FALSE(never.ReloadIfChanged());
}

TEST(Options, WritingLeavesEverythingElseAlone) {
    const std::string before =
        "; made by hand\r\n[Other]\r\nx = 1\r\n\r\n[OPTIONS]\r\nbackup count = 4 \r\n"
        "Remote host=h\r\n# note\r\n[Backup status]\r\nLast run=45000.5\r\n";
    TLoaded loaded(&before);
    EXPECT_EQ(loaded.Store.BackupCount(), 4);
    loaded.Store.SetBackupCount(12);
    loaded.Store.SetFileCountForTransfer(2);
    EXPECT_EQ(ReadWholeFile(loaded.Path),
              "; made by hand\r\n[Other]\r\nx = 1\r\n\r\n[OPTIONS]\r\nBackup count=12\r\n"
              "Remote host=h\r\n# note\r\n[Backup status]\r\nLast run=45000.5\r\n"
              "File count for transfer=2\r\n");
}

TEST(Options, UnwritableDirectoryRaisesAfterTheFieldChanged) {
    for (TFileOperation operation : {TFileOperation::Create, TFileOperation::Rename}) {
        TLoaded loaded;
        TRecordingSink sink;
        TScopedMessageSink scopedSink(sink);
        TScopedFault fault(FailUnder(loaded.Dir.Path(), operation, EACCES));
        try {
            loaded.Store.SetLastRun(45000.5);
            ADD_FAILURE() << "no exception";
        } catch (const EIniFileException& error) {
            EXPECT_EQ(std::string(error.what()), "Unable to write to " + loaded.Path);
        }
        EXPECT_EQ(loaded.Store.LastRun(), 45000.5);
        EXPECT_EQ(sink.Taken(), std::vector<unsigned>{WM_LAST_RUN_CHANGED});
        EXPECT_FALSE(FileExists(loaded.Path));
        // The lock is released: the next setter works once the fault is gone.
        SetFaultHook({});
        loaded.Store.SetBackupCount(3);
        EXPECT_EQ(ReadWholeFile(loaded.Path), "[Options]\nBackup count=3\n");
    }
}

TEST(Options, StatusSettersPostOneNotificationEach) {
    TLoaded loaded;
    TRecordingSink sink;
    TScopedMessageSink scopedSink(sink);
    loaded.Store.SetLastRun(100.0);
    loaded.Store.SetLastRun(100.0);  // unchanged value: still posted
    EXPECT_EQ(sink.Taken(), (std::vector<unsigned>{WM_LAST_RUN_CHANGED, WM_LAST_RUN_CHANGED}));
    loaded.Store.SetLastTransfer(1.0);
    EXPECT_EQ(sink.Taken(), std::vector<unsigned>{WM_LAST_TRANSFER_CHANGED});
    loaded.Store.SetFileCountForTransfer(1);
    EXPECT_EQ(sink.Taken(), std::vector<unsigned>{WM_TRANSFER_COUNT_CHANGED});
    loaded.Store.SetBackupCount(1);
    loaded.Store.SetRemoteHost("h");
    EXPECT_TRUE(sink.Taken().empty());
}

TEST(Options, ReloadReplacesEveryValue) {
    TLoaded loaded;
    loaded.Store.SetBackupCount(7);
    TTempDir other;
    loaded.Store.Load(other.Path());
    EXPECT_EQ(loaded.Store.BackupCount(), 10);
    EXPECT_EQ(loaded.Store.Directory(), other.Path());
}

TEST(Options, ConcurrentReadersAndWritersSeeWholeValues) {
    TLoaded loaded;
    TOptions& o = loaded.Store;
    constexpr int Rounds = 60;
    o.SetBackupCount(0);  // below every value the writer sets
    std::vector<std::thread> threads;
    for (int writer = 0; writer < 2; ++writer) {
        threads.emplace_back([&o, writer] {
            for (int i = 1; i <= Rounds; ++i) {
                if (writer == 0) {
                    o.SetRemoteHost(std::string(static_cast<std::size_t>(i), 'h'));
                    o.SetLastRun(1000.0 + i);
                } else {
                    o.SetBackupCount(i);
                    o.SetFileCountForTransfer(i);
                }
            }
        });
    }
    for (int reader = 0; reader < 2; ++reader) {
        threads.emplace_back([&o] {
            // One writer per key: a reader sees its values whole and never going back.
            int32_t lastCount = 0;
            TDateTime lastRun = 0.0;
            for (int i = 0; i < Rounds * 4; ++i) {
                std::string host = o.RemoteHost();
                EXPECT_EQ(host, std::string(host.size(), 'h'));
                int32_t count = o.BackupCount();
                EXPECT_GE(count, lastCount);
                lastCount = count;
                TDateTime run = o.LastRun();
                EXPECT_GE(run, lastRun);
                lastRun = run;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    TOptions r(PointLocale);
    r.Load(loaded.Dir.Path());
    EXPECT_EQ(r.RemoteHost(), std::string(Rounds, 'h'));
    EXPECT_EQ(r.LastRun(), 1000.0 + Rounds);
    EXPECT_EQ(r.BackupCount(), Rounds);
    EXPECT_EQ(r.FileCountForTransfer(), Rounds);
}

}  // namespace
}  // namespace sejfko

#pragma once
// Whole backup runs through the worker's loop, over simulated days: the clock is a manual one,
// file times are set explicitly (stamps have 2-second resolution), and the archives are judged
// by unzip, which no one here wrote.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "archive/backup_job.hpp"
#include "archive/zip_reader.hpp"
#include "backup/backup_thread.hpp"
#include "backup/file_list.hpp"
#include "backup/worker_harness.hpp"
#include "config/options.hpp"
#include "platform/clock.hpp"
#include "platform/file_system.hpp"
#include "support/local_time.hpp"
#include "support/temp_dir.hpp"

namespace sejfko::test {

using Names = std::vector<std::string>;

inline std::string Quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

inline std::string Capture(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r")) {
        char buffer[4096];
        std::size_t count;
        while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            out.append(buffer, count);
        }
        ::pclose(pipe);
    }
    return out;
}

// The entry names as unzip lists them, sorted; empty when unzip finds the archive bad.
inline Names ArchiveEntries(const std::string& archive) {
    if (std::system(("unzip -tqq " + Quote(archive) + " >/dev/null 2>&1").c_str()) != 0) {
        ADD_FAILURE() << "unzip -t refuses " << archive;
        return {};
    }
    Names names;
    const std::string listing = Capture("unzip -Z1 " + Quote(archive));
    std::size_t start = 0;
    for (std::size_t end; (end = listing.find('\n', start)) != std::string::npos; start = end + 1) {
        names.push_back(listing.substr(start, end - start));
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The entry names exactly as stored (bytes, blanks and line ends included), sorted.
inline Names StoredNames(const std::string& archive) {
    Names names;
    TZipReader reader;
    reader.Open(archive);
    for (const TZipDirEntry& entry : reader.Entries()) {
        names.push_back(entry.Name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The entry name of a file under the test's directory: its path without the leading "/".
inline std::string Stored(const std::string& path) {
    return path.substr(1);
}

inline void SetStamp(const std::string& path, int month, int day, int hour) {
    const timespec at{test::LocalSeconds(2024, month, day, hour, 0, 0), 0};
    const timespec times[2] = {at, at};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

inline std::string RandomBytes(std::size_t size) {
    std::mt19937 random(5);
    std::string data(size, '\0');
    for (char& c : data) {
        c = static_cast<char>(random());
    }
    return data;
}

class BackupRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetZipEngineDirectory(SEJFKO_ZIPENGINE_DIR);
        Options.Load(Dir.MakeDir("data"));
        Options.SetInTime(EncodeTime(20, 0, 0));
        Options.SetRunEvery(1);
        Options.SetLocalDirectory(Dir / "out");
        Options.SetCompletelyWeekBackupDay(7);  // Sunday: no complete day in the test weeks
        Dir.MakeDir("src");
        Dir.WriteFile("data/selection.txt", Dir / "src" + "\r\n");
        Options.SetFileChoose("selection.txt");
    }
    void TearDown() override {
        Thread.reset();
        BackupThread.reset();
        SetZipEngineDirectory("");
    }

    std::string Source(const std::string& name, const std::string& content, int day = 1) {
        const std::string path = Dir.WriteFile("src/" + name, content);
        SetStamp(path, 1, day, 10);
        return path;
    }

    // One pass of the worker on that day of January 2024, a few seconds after "In time".
    void RunOn(int day) {
        Clock.Set(EncodeDateTime(2024, 1, day, 20, 0, 5));
        if (!Thread) {
            Thread = std::make_unique<TSteppedThread>();
        }
        ASSERT_TRUE(Thread->Step());
        ASSERT_FALSE(Thread->BackupRunning.load());
    }

    // An immediate backup ("Zálohovat hned") at `moment`.
    void RunNowAt(TDateTime moment) {
        Clock.Set(moment);
        if (!Thread) {
            Thread = std::make_unique<TSteppedThread>();
        }
        Thread->NextRun.store(moment - 1.0 / 86400);
        ASSERT_TRUE(Thread->Step());
        ASSERT_FALSE(Thread->BackupRunning.load());
    }

    static std::string ArchiveOf(int day, bool full) {
        std::string name = "Backup_202401";
        AppendPadded(name, day, 2);
        return name + "_2000" + (full ? "_full" : "") + ".fbk";
    }
    Names Archives() const { return ListArchiveNamesIn(Dir / "out"); }
    static Names ListArchiveNamesIn(const std::string& directory) {
        std::vector<TDirectoryEntry> entries;
        ListDirectory(directory, entries);
        Names names;
        for (const TDirectoryEntry& entry : entries) {
            names.push_back(entry.Name);
        }
        return names;
    }
    std::vector<TFileItem> State() const {
        TFileList list;
        list.LoadFromFile(Dir / "data/IncSelect.ini");
        std::vector<TFileItem> items(static_cast<std::size_t>(list.Count()));
        for (int i = 0; i < list.Count(); ++i) {
            list.GetItem(i, items[static_cast<std::size_t>(i)]);
        }
        return items;
    }
    Names StateNames() const {
        Names names;
        for (const TFileItem& item : State()) {
            names.push_back(item.Name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    TTempDir Dir;
    TManualClock Clock;
    TScopedClock ClockGuard{Clock};
    TRecordingSink Sink;
    TScopedMessageSink SinkGuard{Sink};
    std::unique_ptr<TSteppedThread> Thread;
};

}  // namespace sejfko::test

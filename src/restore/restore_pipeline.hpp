#pragma once
// The files of one archive read, inflated, checked and written on worker threads, and handed
// back in the order of the archive for the last step: the rename into place.
//
// Each worker takes the next file, streams its data through its own handle of the archive into
// a temporary file (TConfinedFileWriter, prepared up to the rename) and leaves the result in a
// ring of slots; the restoring thread takes the results in order with Next and commits them.
// So every file is still made whole or not at all, and a damaged entry or a full disk stops the
// restore with everything before it in place and nothing after it: what was written ahead is a
// temporary file, removed when its result is dropped.
//
// Bounded: at most Window results wait for the restoring thread, one file per worker is being
// written, and each holds fixed buffers (the reader's, and the writer's 1 MiB of pending data),
// whatever the sizes of the files; a file of many GiB streams through like any other.
//
// A stop request is seen by the workers between chunks of data and before each file, and by
// Next while it waits (at least every 100 ms).

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/file_io.hpp"

namespace sejfko {

class TCancelEvent;
class TConfinedDirectory;
class TConfinedFileWriter;
class TZipReader;
struct TZipDirEntry;

// Two words per entry, for a million of them: the mode and time come from the entry.
struct TRestoreJob {
    const TZipDirEntry* Entry = nullptr;  // a file, directory or link of the archive
    std::string_view Relative;            // where it goes below the directory
};

// The permission bits a restored file gets (set-user-ID and set-group-ID bits from an archive
// are not trusted; 0644 where the archive keeps none) and its modification time.
unsigned RestoredMode(const TZipDirEntry& entry);
// A regular file's data is written by the pipeline; directories and links are the caller's.
bool IsRestoredFile(const TZipDirEntry& entry);
std::optional<std::timespec> RestoredTime(const TZipDirEntry& entry);

struct TRestoreJobResult {
    enum class TKind {
        Ready,        // File holds the whole data, checked, prepared; only the rename is left
        Damaged,      // the entry (or the archive) could not be read: Message says why
        WriteFailed,  // the temporary file could not be written: Code is the errno value
        Cancelled,    // a stop request came first
        Failed,       // anything else: Error holds it
    };
    TKind Kind = TKind::Cancelled;
    std::unique_ptr<TConfinedFileWriter> File;
    std::string Message;
    int Code = 0;
    std::exception_ptr Error;

    TRestoreJobResult();
    TRestoreJobResult(TRestoreJobResult&&) noexcept;
    TRestoreJobResult& operator=(TRestoreJobResult&&) noexcept;
    ~TRestoreJobResult();  // an uncommitted file goes with its temporary file
};

class TRestorePipeline {
public:
    static constexpr std::size_t Window = 32;

    // Starts the workers on `jobs`, which must outlive the pipeline, as must `reader` and
    // `directory`. `workers` 0 takes one per processor (at least two).
    TRestorePipeline(const TZipReader& reader, TConfinedDirectory& directory,
                     const std::vector<TRestoreJob>& jobs, const TCancelEvent* cancel,
                     unsigned workers = 0);
    // Stops and joins the workers; results not taken are dropped with their temporary files.
    ~TRestorePipeline();
    TRestorePipeline(const TRestorePipeline&) = delete;
    TRestorePipeline& operator=(const TRestorePipeline&) = delete;

    // The result of the next file of `jobs`, in their order (call once per file; the other
    // entries are passed over). While it waits it
    // calls `waiting` (on this thread, without any lock held), so the caller can report progress.
    // A stop request gives Cancelled at once, without waiting for the job.
    TRestoreJobResult Next(const std::function<void()>& waiting);
    // Bytes of data written by the workers so far.
    uint64_t BytesWritten() const;
    // No further file is started and those being written end at their next chunk (Cancelled).
    void Stop();

private:
    void Work();
    TRestoreJobResult Run(const TRestoreJob& job, const TReadFile& file);
    bool Abandoned() const;
    void SkipOthers(std::size_t& index) const;  // to the next file from `index`

    const TZipReader& FReader;
    TConfinedDirectory& FDirectory;
    const std::vector<TRestoreJob>& FJobs;
    const TCancelEvent* FCancel;
    mutable std::mutex FLock;
    std::condition_variable FWorkersWake;
    std::condition_variable FResultReady;
    std::vector<std::optional<TRestoreJobResult>> FSlots;  // job i in slot i % Window
    std::size_t FNextJob = 0;                              // the next job a worker takes
    std::size_t FTaken = 0;                                // the next job Next hands out
    bool FStopping = false;
    std::atomic<bool> FAbandon{false};
    std::atomic<uint64_t> FWritten{0};
    std::vector<std::thread> FWorkers;
};

}  // namespace sejfko

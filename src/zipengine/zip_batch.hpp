#pragma once
// One run of the engine over a command record.
//
// The tree is walked once: the walk adds up the sizes (the caller's percentage needs the total
// before the first file), keeping each stored name with its file in compact records; then the
// files are taken from those records in walk order, so no list of paths is ever held and what
// is in flight towards the writer is bounded like the jobs. Each file is opened by its path when
// it is read: one replaced since the walk is taken as it is now, one that vanished is reported
// as skipped, one made since waits for the next run. Entries of the central directory wait as
// fixed records pointing into the same arena of stored names (stored_names.hpp).
//
// Threads: the calling thread walks the file patterns and hands out jobs in archive order
// (zip_job.hpp): a small file is one job that a worker opens, reads and compresses itself; a
// large file is opened here and cut into pieces of CHUNK_SIZE, read and compressed by the
// workers into one deflate stream (deflate_chunk.hpp) with their checksums combined. The calling
// thread is the single writer of the archive: it takes finished jobs from the front only, so the
// archive and every callback come out in archive order, and while the front job is not finished
// it runs waiting jobs itself. Jobs in flight are bounded in number and bytes and their buffers
// are reused, so memory stays bounded whatever the file sizes.
//
// Failure: a file that vanishes or cannot be read is reported (zecSkipped) and left out: when it
// fails after its first pieces were written, the archive is cut back to where its entry began.
// A write failure or a -1 answer from the callback stops everything: the workers are joined, the
// partial archive is deleted and the result is negative.

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "zipengine/archive_output.hpp"
#include "zipengine/central_directory.hpp"
#include "zipengine/file_walker.hpp"
#include "zipengine/stored_names.hpp"
#include "zipengine/work_pool.hpp"
#include "zipengine/zip_engine_api.h"
#include "zipengine/zip_format.hpp"
#include "zipengine/zip_job.hpp"

namespace sejfko::zipengine {

constexpr size_t CHUNK_SIZE = 4u << 20;

// Thrown when the callback answered -1.
struct EStopped {};

class TZipBatch {
public:
    explicit TZipBatch(const TZipCommand& command);
    ~TZipBatch();
    // Files added, or a negative value (see zip_engine_api.h).
    int32_t Run();

private:
    void Notify(int32_t action, int32_t error, uint64_t size, const std::string& text);
    bool IsStoredName(const std::string& name) const;
    TWalkOptions WalkOptions() const;
    // Walks every spec with `options`; false after reporting a spec that cannot be encrypted.
    bool WalkSpecs(TFileWalker& walker);
    // From the walk: a file found, and what it leaves out in its place (a literal name that
    // names nothing, a second file under a name already taken).
    void FindFile(TWalkItem& item, uint64_t& total);
    // Hands on the file the walk found under name `index`.
    void TakeFile(uint32_t index);
    uint16_t PasswordNumber(const std::string* password) const;
    // Index in FPrefixes of the part of the file's path before its stored name.
    uint32_t PathPrefix(const TWalkItem& item, bool& wholePath);
    void LeaveOut(const std::string& path);
    void OpenOutput();
    void AddFile(const std::shared_ptr<const TWalkItem>& item);
    std::unique_ptr<TZipJob> NewJob(const std::shared_ptr<const TWalkItem>& item, int level);
    void Dispatch(std::unique_ptr<TZipJob> job, size_t bytes);
    void WriteReadyJobs(bool wait);
    void WriteJob(TZipJob& job);
    void WriteGrownFile(std::shared_ptr<const TWalkItem> item, int level);
    // The password a spec encrypts with; null when it does not encrypt. Throws for a spec that
    // asks for encryption without a password.
    const std::string* SpecPassword(const TZipSpec& spec);
    void Report(uint64_t bytes);

    const TZipCommand& FCommand;
    std::vector<std::string> FStoreSuffixes;
    std::deque<std::string> FPasswords;  // of the specs that encrypt; a deque keeps addresses
    std::unique_ptr<TArchiveOutput> FOutput;
    std::unique_ptr<TWorkPool> FPool;
    std::deque<std::pair<std::unique_ptr<TZipJob>, size_t>> FQueue;  // with the bytes counted
    std::vector<std::unique_ptr<TZipJob>> FIdle;
    size_t FQueuedBytes = 0;
    size_t FQueueLimit = 0;
    const std::string* FSpecPassword = nullptr;  // of the spec being walked
    bool FFirstFile = true;
    uint64_t FNotified = 0;  // callbacks so far
    TStoredNames FNames;
    std::vector<std::string> FPrefixes;
    std::unordered_map<std::string, uint32_t> FPrefixIndex;
    // Paths reported as left out, each before the name of that index (rare: vanished literal
    // names, name clashes).
    std::vector<std::pair<uint32_t, std::string>> FLeftOut;
    uint32_t FLastPrefix = 0;
    TCentralDirectory FCentral;
    // The file the writer is in: its entry once its first data is written, the bytes reported
    // so far, and whether it is over (later pieces of it are dropped).
    TZipEntry FEntry;
    bool FEntryOpen = false;
    uint64_t FReported = 0;
    uint64_t FItemSize = 0;
    bool FFileOver = true;
};

}  // namespace sejfko::zipengine

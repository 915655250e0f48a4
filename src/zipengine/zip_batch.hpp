#pragma once
// One run of the engine over a command record.
//
// Threads: the calling thread walks the specifications, then reads the files in archive order,
// makes every callback, and is the single writer of the archive. Worker threads (one per core)
// only compress and checksum pieces: a small file is one piece, a large file is cut into pieces
// of CHUNK_SIZE that become one deflate stream (deflate_chunk.hpp) with their checksums combined.
// Pieces wait in a queue in archive order; the reader stops reading while the queue holds more
// than a bounded number of bytes, so memory stays bounded whatever the file sizes. The writer
// takes finished pieces from the front only, so the archive comes out in order.
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
#include <vector>

#include "zipengine/archive_output.hpp"
#include "zipengine/file_walker.hpp"
#include "zipengine/work_pool.hpp"
#include "zipengine/zip_engine_api.h"
#include "zipengine/zip_format.hpp"

namespace sejfko::zipengine {

constexpr size_t CHUNK_SIZE = 4u << 20;

// Reads the files being archived (read(2)); tests put a failing reader here.
extern ssize_t (*GReadFileData)(int handle, void* data, size_t size);

// Thrown when the callback answered -1.
struct EStopped {};

class TZipBatch {
public:
    explicit TZipBatch(const TZipCommand& command);
    ~TZipBatch();
    // Files added, or a negative value (see zip_engine_api.h).
    int32_t Run();

private:
    struct TPiece;
    struct TFileState;

    void Notify(int32_t action, int32_t error, uint64_t size, const std::string& text);
    void AddFile(const TWalkItem& item);
    bool IsStoredName(const std::string& name) const;
    void Enqueue(std::unique_ptr<TPiece> piece);
    void WriteReadyPieces(bool wait);
    void WritePiece(TPiece& piece);
    void WriteCentralDirectory();

    const TZipCommand& FCommand;
    std::vector<std::string> FStoreSuffixes;
    std::unique_ptr<TArchiveOutput> FOutput;
    std::unique_ptr<TWorkPool> FPool;
    std::deque<std::unique_ptr<TPiece>> FQueue;
    size_t FQueuedBytes = 0;
    size_t FQueueLimit = 0;
    std::vector<TZipEntry> FEntries;
    std::unique_ptr<TFileState> FWriting;  // the entry the writer is in, if any
};

}  // namespace sejfko::zipengine

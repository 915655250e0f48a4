#pragma once
// One unit of work for the threads of a batch: a whole small file (opened, read, checksummed and
// compressed by whichever thread runs the job) or one piece of a large file that the calling
// thread opened (read with pread at the piece's offset, so pieces run on any thread in any
// order). The results wait in the job until the calling thread writes them in archive order.

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/aes_zip.hpp"
#include "zipengine/deflate_chunk.hpp"

namespace sejfko::zipengine {

struct TWalkItem;
class TEntrySealer;

// Reads the files being archived (pread(2)); tests put a failing reader here.
extern ssize_t (*GReadFileData)(int handle, void* data, size_t size, off_t offset);

// A large file, opened once by the calling thread and shared by its pieces.
struct TOpenFile {
    explicit TOpenFile(int handle) : Handle(handle) {}
    ~TOpenFile();
    TOpenFile(const TOpenFile&) = delete;
    TOpenFile& operator=(const TOpenFile&) = delete;
    int Handle;
};

// What one thread keeps between jobs, so that a job allocates nothing large.
struct TJobContext {
    TCompressors Compressors;
    TBuffer Input;
    aeszip::TAesCipher Cipher;  // for whole files
};

// LeftOut: no data, a file the walk left out (its stored name was taken), reported in its place.
enum class EJobOutcome { Ok, Skipped, Grown, LeftOut };

struct TZipJob {
    // Set by the calling thread before the job is submitted. The file's pieces share it; it goes
    // with the last of them once written.
    std::shared_ptr<const TWalkItem> Item;
    std::shared_ptr<TOpenFile> File;  // a piece of a large file; null: the job opens the file
    uint64_t Offset = 0;
    size_t Want = 0;  // bytes of the piece; for a whole file, the most it may hold
    bool First = true;
    bool Last = true;
    int Level = 0;          // libdeflate level, 0 stores
    uint64_t StatSize = 0;  // a large file's size when opened (first piece)
    // Encryption: the password (null: none); for the pieces of a large file, their sealer and
    // the piece's number. A whole file is encrypted by the job itself.
    const std::string* Password = nullptr;
    std::shared_ptr<TEntrySealer> Sealer;
    uint32_t Piece = 0;

    // Results.
    EJobOutcome Outcome = EJobOutcome::Ok;
    bool Ended = false;   // the file's data ends with this job (last piece, or the file shrank)
    bool Failed = false;  // no compressor could be had
    bool CipherFailed = false;  // OpenSSL failed (no random source, no memory)
    bool Sealed = false;        // a piece: encrypted by its sealer (guarded by the sealer's lock)
    bool Stored = false;        // Output holds the data as it is
    uint32_t Crc = 0;
    uint64_t Size = 0;  // bytes read
    uint32_t Mode = 0;  // of the file (whole file or first piece)
    int64_t MTime = 0;
    TBuffer Output;
    bool Done = false;  // guarded by the pool's lock

    // With a sealer, the piece is offered to it afterwards: Done then means compressed, and the
    // writer also waits for Sealed.
    void Run(TJobContext& context);
    // Ready for another file; large buffers are let go so that idle jobs hold little memory.
    void Reset();

private:
    // For a link (Item->Link): its target text as the stored data, mode S_IFLNK | 0777 and the
    // link's own time; Skipped when it is no longer a link or cannot be read.
    void ReadLink();
    void RunUnguarded(TJobContext& context);
    void ReadWholeFile(TJobContext& context);
    void Compress(TJobContext& context);
    void Encrypt(TJobContext& context);
};

}  // namespace sejfko::zipengine

#include "zipengine/zip_job.hpp"

#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include "zipengine/entry_sealer.hpp"
#include "zipengine/file_walker.hpp"

namespace sejfko::zipengine {

ssize_t (*GReadFileData)(int handle, void* data, size_t size, off_t offset) = ::pread;

namespace {

// Output buffers up to this size stay with an idle job; small files then allocate nothing.
constexpr size_t KEPT_OUTPUT = 64u << 10;
// Far beyond what any file system allows a link's target.
constexpr size_t MAX_LINK_TARGET = 1u << 20;

// Reads up to `size` bytes at `offset`; fewer only at end of file. -1 on a read error.
ssize_t ReadAt(int handle, uint8_t* data, size_t size, uint64_t offset) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n =
            GReadFileData(handle, data + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return -1;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

}  // namespace

TOpenFile::~TOpenFile() {
    if (Handle >= 0) {
        close(Handle);
    }
}

void TZipJob::Reset() {
    Item.reset();
    File.reset();
    Sealer.reset();
    Password = nullptr;
    Piece = 0;
    Outcome = EJobOutcome::Ok;
    Ended = Failed = CipherFailed = Sealed = Stored = Done = false;
    First = Last = true;
    Offset = 0;
    StatSize = 0;
    Size = 0;
    Crc = 0;
    if (Output.capacity() > KEPT_OUTPUT) {
        Output = {};
    }
    Output.clear();
}

void TZipJob::Run(TJobContext& context) {
    // Runs on worker threads, where an escaping exception would end the process.
    try {
        RunUnguarded(context);
    } catch (const std::bad_alloc&) {
        Failed = true;
    }
    // Whatever became of the piece: the pieces after it wait for it in the sealer.
    if (Sealer) {
        Sealer->Offer(*this);
    }
}

void TZipJob::RunUnguarded(TJobContext& context) {
    if (Item->Link) {
        ReadLink();
        if (Outcome == EJobOutcome::Ok) {
            Encrypt(context);  // a link's target is data like a file's content
        }
        return;
    }
    if (File) {
        context.Input.resize(Want);
        const ssize_t got = ReadAt(File->Handle, context.Input.data(), Want, Offset);
        if (got < 0) {
            Outcome = EJobOutcome::Skipped;
            return;
        }
        context.Input.resize(static_cast<size_t>(got));
        Ended = Last || static_cast<size_t>(got) < Want;
    } else {
        ReadWholeFile(context);
        if (Outcome != EJobOutcome::Ok) {
            return;
        }
        Ended = true;
    }
    Size = context.Input.size();
    Compress(context);
}

void TZipJob::ReadLink() {
    Outcome = EJobOutcome::Skipped;
    struct stat st {};
    if (lstat(Item->Path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
        return;
    }
    // st_size is the target's length on most file systems, 0 on some: grow until it fits.
    std::string target(std::max<size_t>(static_cast<size_t>(st.st_size) + 1, 256), '\0');
    for (;;) {
        const ssize_t length = readlink(Item->Path.c_str(), target.data(), target.size());
        if (length < 0) {
            return;
        }
        if (static_cast<size_t>(length) < target.size()) {
            target.resize(static_cast<size_t>(length));
            break;
        }
        if (target.size() >= MAX_LINK_TARGET) {
            return;
        }
        target.resize(target.size() * 2);
    }
    Output.assign(target.begin(), target.end());
    Crc = static_cast<uint32_t>(libdeflate_crc32(0, Output.data(), Output.size()));
    Size = Output.size();
    Stored = true;
    Ended = true;
    Mode = S_IFLNK | 0777;
    MTime = st.st_mtime;
    Outcome = EJobOutcome::Ok;
}

void TZipJob::ReadWholeFile(TJobContext& context) {
    // Non-blocking open: a FIFO put in place of the file since the walk must not hang us.
    const int handle = open(Item->Path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (handle < 0) {
        Outcome = EJobOutcome::Skipped;
        return;
    }
    TOpenFile file(handle);
    struct stat st {};
    if (fstat(handle, &st) != 0 || !S_ISREG(st.st_mode)) {
        Outcome = EJobOutcome::Skipped;
        return;
    }
    if (static_cast<uint64_t>(st.st_size) > Want) {
        Outcome = EJobOutcome::Grown;  // the calling thread reads it in pieces
        return;
    }
    Mode = st.st_mode;
    MTime = st.st_mtime;
    // Read no more than the size seen now, as for a large file.
    context.Input.resize(static_cast<size_t>(st.st_size));
    const ssize_t got = ReadAt(handle, context.Input.data(), context.Input.size(), 0);
    if (got < 0) {
        Outcome = EJobOutcome::Skipped;
        return;
    }
    context.Input.resize(static_cast<size_t>(got));
}

void TZipJob::Compress(TJobContext& context) {
    const TBuffer& input = context.Input;
    Crc = static_cast<uint32_t>(libdeflate_crc32(0, input.data(), input.size()));
    const bool whole = First && Ended;
    if (Level != 0 && !(whole && input.empty())) {
        if (!CompressChunk(context.Compressors, input.data(), input.size(), Level, Ended, Output)) {
            Failed = !whole;
            Stored = whole;
        } else if (whole && Output.size() >= input.size()) {
            Stored = true;  // a whole file that deflate cannot shrink is stored
        }
        if (!Stored) {
            Encrypt(context);
            return;
        }
    }
    Stored = true;
    Output.assign(input.begin(), input.end());
    Encrypt(context);
}

void TZipJob::Encrypt(TJobContext& context) {
    if (Password != nullptr && !Sealer && !Failed) {
        CipherFailed = !SealWhole(context.Cipher, *Password, Output);
    }
}

}  // namespace sejfko::zipengine

#include "zipengine/zip_batch.hpp"

#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "zipengine/deflate_chunk.hpp"

namespace sejfko::zipengine {

ssize_t (*GReadFileData)(int handle, void* data, size_t size) = ::read;

namespace {

// A file this close to 4 GiB gets the Zip64 field in its local header before its compressed size
// is known: deflate never grows data by more than a few bytes per 64 KiB.
constexpr uint64_t LOCAL_ZIP64_MARGIN = 64u << 20;
constexpr int32_t RESULT_FAILED = -1;
constexpr int32_t RESULT_WRITE = -2;
constexpr int32_t RESULT_STOPPED = -3;

class TFileHandle {
public:
    explicit TFileHandle(int handle) : FHandle(handle) {}
    ~TFileHandle() {
        if (FHandle >= 0) {
            close(FHandle);
        }
    }
    TFileHandle(const TFileHandle&) = delete;
    TFileHandle& operator=(const TFileHandle&) = delete;
    int Get() const { return FHandle; }

private:
    int FHandle;
};

// Reads up to `size` bytes; fewer only at end of file. -1 on a read error.
ssize_t ReadFully(int handle, uint8_t* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = GReadFileData(handle, data + done, size - done);
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

bool EndsWithNoCase(const std::string& text, const std::string& suffix) {
    if (suffix.empty() || suffix.size() > text.size()) {
        return false;
    }
    return std::equal(suffix.begin(), suffix.end(), text.end() - static_cast<long>(suffix.size()),
                      [](char a, char b) {
                          return std::tolower(static_cast<unsigned char>(a)) ==
                                 std::tolower(static_cast<unsigned char>(b));
                      });
}

}  // namespace

struct TZipBatch::TPiece {
    TZipEntry Entry;  // the file's entry so far (used by the first piece)
    bool First = false;
    bool Last = false;
    bool Abort = false;  // the file failed: drop whatever of it was written
    int Level = 0;       // libdeflate level, 0 stores
    std::vector<uint8_t> Input;
    std::vector<uint8_t> Output;
    uint32_t Crc = 0;
    bool Stored = false;  // Input is written as it is
    bool Failed = false;  // the compressor could not be had
    bool Done = false;    // guarded by the pool's lock

    void Compress() {
        Crc = static_cast<uint32_t>(libdeflate_crc32(0, Input.data(), Input.size()));
        if (Level == 0 || (First && Last && Input.empty())) {
            Stored = true;
            return;
        }
        if (!CompressChunk(Input, Level, Last, Output)) {
            Failed = !(First && Last);
            Stored = First && Last;
        } else if (First && Last && Output.size() >= Input.size()) {
            Stored = true;  // a single piece that deflate cannot shrink is stored
        }
        if (Stored) {
            Output = {};
        }
    }
};

struct TZipBatch::TFileState {
    TZipEntry Entry;
};

TZipBatch::TZipBatch(const TZipCommand& command) : FCommand(command) {
    if (command.StoreSuffixes != nullptr) {
        std::string list = command.StoreSuffixes;
        size_t start = 0;
        while (start <= list.size()) {
            const size_t end = std::min(list.find(':', start), list.size());
            if (end > start) {
                FStoreSuffixes.push_back(list.substr(start, end - start));
            }
            start = end + 1;
        }
    }
}

TZipBatch::~TZipBatch() {
    if (FPool) {
        FPool->Stop();  // before the queued pieces the workers may use are freed
    }
}

void TZipBatch::Notify(int32_t action, int32_t error, uint64_t size, const std::string& text) {
    TZipCallbackRecord record{};
    record.Handle = FCommand.Handle;
    record.Caller = FCommand.Caller;
    record.Version = ZIP_ENGINE_VERSION;
    record.IsOperationZip = -1;
    record.ActionCode = action;
    record.ErrorCode = error;
    record.Size = size;
    size_t length = std::min(text.size(), sizeof(record.Text) - 1);
    // Never cut a UTF-8 sequence in half.
    while (length < text.size() && length > 0 &&
           (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) {
        --length;
    }
    std::memcpy(record.Text, text.data(), length);
    if (FCommand.Callback(&record) < 0) {
        throw EStopped{};
    }
}

bool TZipBatch::IsStoredName(const std::string& name) const {
    return std::any_of(FStoreSuffixes.begin(), FStoreSuffixes.end(),
                       [&](const std::string& suffix) { return EndsWithNoCase(name, suffix); });
}

int32_t TZipBatch::Run() {
    if (FCommand.Callback == nullptr) {
        return RESULT_FAILED;
    }
    try {
        if (FCommand.ZipFileName == nullptr || *FCommand.ZipFileName == 0 ||
            FCommand.ArgCount < 0 || (FCommand.ArgCount > 0 && FCommand.Specs == nullptr) ||
            FCommand.ExcludeCount < 0 ||
            (FCommand.ExcludeCount > 0 && FCommand.Excludes == nullptr)) {
            Notify(zacMessage, zecBadCommand, 0, "Invalid command record");
            return RESULT_FAILED;
        }
        TWalkOptions options;
        options.IncludeHidden = FCommand.System != 0;
        options.JunkDirs = FCommand.JunkDir != 0;
        // An archive of the same name inside the tree is never taken in (it is being replaced).
        struct stat archive {};
        if (stat(FCommand.ZipFileName, &archive) == 0) {
            options.SkipDevice = archive.st_dev;
            options.SkipInode = archive.st_ino;
        }
        for (int32_t i = 0; i < FCommand.ExcludeCount; ++i) {
            if (FCommand.Excludes[i] != nullptr) {
                options.Excludes.emplace_back(FCommand.Excludes[i]);
            }
        }
        TFileWalker walker(std::move(options));
        for (int32_t i = 0; i < FCommand.ArgCount; ++i) {
            const TZipSpec& spec = FCommand.Specs[i];
            if (spec.Spec != nullptr && *spec.Spec != 0) {
                walker.AddSpec(spec.Spec, spec.Recurse != 0, spec.RootDir);
            }
        }
        Notify(zacSize, 0, walker.TotalSize(), "");
        for (const std::string& clash : walker.Clashes()) {
            Notify(zacMessage, zecSkipped, 0, clash);
        }
        if (walker.Items().empty()) {
            Notify(zacEndOfBatch, 0, 0, "");  // no archive is made (an existing one stays)
            return 0;
        }
        FOutput = std::make_unique<TArchiveOutput>(FCommand.ZipFileName);
        const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
        FQueueLimit = 2 * threads * CHUNK_SIZE;
        FPool = std::make_unique<TWorkPool>(threads);
        for (const TWalkItem& item : walker.Items()) {
            AddFile(item);
        }
        while (!FQueue.empty()) {
            WriteReadyPieces(true);
        }
        WriteCentralDirectory();
        FOutput->Finish();
        FPool->Stop();
        Notify(zacEndOfBatch, 0, 0, "");
        return static_cast<int32_t>(std::min<size_t>(FEntries.size(), INT32_MAX));
    } catch (const EStopped&) {
        if (FPool) {
            FPool->Stop();
        }
        if (FOutput) {
            FOutput->Remove();
        }
        return RESULT_STOPPED;
    } catch (const std::exception& error) {
        if (FPool) {
            FPool->Stop();
        }
        if (FOutput) {
            FOutput->Remove();
        }
        const bool write = dynamic_cast<const EArchiveWrite*>(&error) != nullptr;
        try {
            Notify(zacMessage, write ? zecWrite : zecBadCommand, 0, error.what());
        } catch (const EStopped&) {
        }
        return write ? RESULT_WRITE : RESULT_FAILED;
    }
}

void TZipBatch::AddFile(const TWalkItem& item) {
    Notify(zacItem, 0, item.Size, item.Path);
    uint64_t reported = 0;
    auto report = [&](uint64_t bytes) {
        const uint64_t part = std::min(bytes, item.Size - reported);
        reported += part;
        Notify(zacProgress, 0, part, "");
    };
    auto skip = [&](bool started) {
        if (started) {
            auto abort = std::make_unique<TPiece>();
            abort->Abort = true;
            abort->Done = true;
            Enqueue(std::move(abort));
        }
        Notify(zacMessage, zecSkipped, 0, item.Path);
        report(item.Size - reported);
    };
    // Non-blocking open: a FIFO put in place of the file since the walk must not hang us.
    TFileHandle file(open(item.Path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (file.Get() < 0 || fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        skip(false);
        return;
    }
    TZipEntry entry;
    entry.Name = item.StoredName;
    entry.Mode = st.st_mode;
    entry.MTime = st.st_mtime;
    const int level = FCommand.Level <= 0 || IsStoredName(item.StoredName)
                          ? 0
                          : DeflateLevel(std::min(FCommand.Level, 9));
    entry.Method = level == 0 ? zmStored : zmDeflated;
    // Read no more than the size seen now, so the local header's Zip64 choice stays right.
    uint64_t remaining = static_cast<uint64_t>(st.st_size);
    entry.LocalZip64 = remaining >= ZIP32_LIMIT - LOCAL_ZIP64_MARGIN;
    bool first = true;
    for (;;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(CHUNK_SIZE, remaining));
        while (!FQueue.empty() &&
               (FQueuedBytes + want > FQueueLimit || FQueue.size() >= FQueueLimit / 4096)) {
            WriteReadyPieces(true);
        }
        auto piece = std::make_unique<TPiece>();
        piece->Input.resize(want);
        const ssize_t got = ReadFully(file.Get(), piece->Input.data(), want);
        if (got < 0) {
            skip(!first);
            return;
        }
        piece->Input.resize(static_cast<size_t>(got));
        remaining -= static_cast<uint64_t>(got);
        piece->First = first;
        piece->Last = static_cast<size_t>(got) < want || remaining == 0;
        piece->Level = level;
        if (first) {
            piece->Entry = entry;
        }
        first = false;
        const bool last = piece->Last;
        report(static_cast<uint64_t>(got));
        Enqueue(std::move(piece));
        WriteReadyPieces(false);
        if (last) {
            break;
        }
    }
    if (reported < item.Size) {
        report(item.Size - reported);  // the file shrank since the walk
    }
}

void TZipBatch::Enqueue(std::unique_ptr<TPiece> piece) {
    TPiece* raw = piece.get();
    FQueuedBytes += raw->Input.size();
    FQueue.push_back(std::move(piece));
    if (!raw->Done) {
        FPool->Submit([raw] { raw->Compress(); }, &raw->Done);
    }
}

void TZipBatch::WriteReadyPieces(bool wait) {
    while (!FQueue.empty()) {
        TPiece& front = *FQueue.front();
        if (wait) {
            FPool->Wait(&front.Done);
            wait = false;
        } else if (!FPool->IsDone(&front.Done)) {
            return;
        }
        WritePiece(front);
        FQueuedBytes -= front.Input.size();
        FQueue.pop_front();
    }
}

void TZipBatch::WritePiece(TPiece& piece) {
    if (piece.Abort) {
        if (FWriting) {
            FOutput->TruncateTo(FWriting->Entry.LocalOffset);
            FWriting.reset();
        }
        return;
    }
    if (piece.Failed) {
        throw std::runtime_error("Not enough memory to compress");
    }
    const std::vector<uint8_t>& data = piece.Stored ? piece.Input : piece.Output;
    if (piece.First) {
        FWriting = std::make_unique<TFileState>();
        TZipEntry& entry = FWriting->Entry;
        entry = std::move(piece.Entry);
        entry.LocalOffset = FOutput->Offset();
        if (piece.Stored) {
            entry.Method = zmStored;
        }
        entry.Crc = piece.Crc;
        entry.Size = piece.Input.size();
        entry.CompressedSize = data.size();
        FOutput->Write(LocalHeader(entry));  // final for a single piece, else patched below
    } else if (FWriting) {
        TZipEntry& entry = FWriting->Entry;
        entry.Crc = static_cast<uint32_t>(
            crc32_combine(entry.Crc, piece.Crc, static_cast<z_off_t>(piece.Input.size())));
        entry.Size += piece.Input.size();
        entry.CompressedSize += data.size();
    } else {
        return;
    }
    FOutput->Write(data);
    if (!piece.Last) {
        return;
    }
    TZipEntry& entry = FWriting->Entry;
    if (!piece.First) {
        if (!entry.LocalZip64 &&
            (entry.Size >= ZIP32_LIMIT || entry.CompressedSize >= ZIP32_LIMIT)) {
            throw EArchiveWrite("Entry too large for its header: " + entry.Name);
        }
        FOutput->Patch(entry.LocalOffset + LocalCrcOffset(), LocalCrcAndSizes(entry));
        if (entry.LocalZip64) {
            FOutput->Patch(entry.LocalOffset + LocalSizesOffset(entry), LocalZip64Sizes(entry));
        }
    }
    FEntries.push_back(std::move(entry));
    FWriting.reset();
}

void TZipBatch::WriteCentralDirectory() {
    const uint64_t start = FOutput->Offset();
    for (const TZipEntry& entry : FEntries) {
        FOutput->Write(CentralHeader(entry));
    }
    const uint64_t end = FOutput->Offset();
    FOutput->Write(EndRecords(FEntries.size(), start, end - start, end));
}

}  // namespace sejfko::zipengine

#include "zipengine/zip_batch.hpp"

#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <thread>

#include "platform/file_system.hpp"
#include "zipengine/deflate_chunk.hpp"
#include "zipengine/entry_sealer.hpp"

namespace sejfko::zipengine {

namespace {

// A file this close to 4 GiB gets the Zip64 field in its local header before its compressed size
// is known: deflate never grows data by more than a few bytes per 64 KiB.
constexpr uint64_t LOCAL_ZIP64_MARGIN = 64u << 20;
constexpr int32_t RESULT_FAILED = -1;
constexpr int32_t RESULT_WRITE = -2;
constexpr int32_t RESULT_STOPPED = -3;
// Enough files ahead of the writer to keep every thread busy; more only holds memory.
constexpr size_t MAX_JOBS = 64;
// Entries of the walk between two keep-alive callbacks.
constexpr uint32_t WalkTickEntries = 256;

// How many pieces a large file of `size` bytes is cut into (at least one).
size_t PieceCount(uint64_t size) {
    return static_cast<size_t>(std::max<uint64_t>(1, (size + CHUNK_SIZE - 1) / CHUNK_SIZE));
}

struct ENoPassword : std::runtime_error {
    ENoPassword() : std::runtime_error("Šifrování bez hesla není možné") {}
};

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
    ++FNotified;
    record.FullText = text.empty() ? nullptr : text.c_str();
    if (FCommand.Callback(&record) < 0) {
        throw EStopped{};
    }
}

const std::string* TZipBatch::SpecPassword(const TZipSpec& spec) {
    if (spec.Encrypt == 0) {
        return nullptr;
    }
    const char* password = spec.Password != nullptr ? spec.Password : FCommand.Password;
    if (password == nullptr || *password == 0) {
        throw ENoPassword();
    }
    for (const std::string& known : FPasswords) {
        if (known == password) {
            return &known;
        }
    }
    return &FPasswords.emplace_back(password);
}

bool TZipBatch::IsStoredName(const std::string& name) const {
    return std::any_of(FStoreSuffixes.begin(), FStoreSuffixes.end(),
                       [&](const std::string& suffix) { return EndsWithNoCase(name, suffix); });
}

TWalkOptions TZipBatch::WalkOptions() const {
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
            options.Excludes.emplace_back(PortableSeparators(FCommand.Excludes[i]));
        }
    }
    return options;
}

bool TZipBatch::WalkSpecs(TFileWalker& walker) {
    for (int32_t i = 0; i < FCommand.ArgCount; ++i) {
        const TZipSpec& spec = FCommand.Specs[i];
        if (spec.Spec != nullptr && *spec.Spec != 0) {
            try {
                FSpecPassword = SpecPassword(spec);
            } catch (const ENoPassword& error) {
                Notify(zacMessage, zecBadCommand, 0, error.what());
                return false;
            }
            // The walk and the stored names separate with "/" (Windows takes it too).
            const std::string rootDir =
                spec.RootDir != nullptr ? PortableSeparators(spec.RootDir) : "";
            walker.AddSpec(PortableSeparators(spec.Spec), spec.Recurse != 0,
                           spec.RootDir != nullptr ? rootDir.c_str() : nullptr, spec.Literal != 0,
                           spec.AsLink != 0);
        }
    }
    return true;
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
            Notify(zacMessage, zecBadCommand, 0, "Neplatný příkaz pro knihovnu zip engine");
            return RESULT_FAILED;
        }
        uint64_t total = 0;
        {
            // The walk: the total, and each stored name with the file that takes it, its size
            // and where it was found. The caller hears from it now and then, so that it can
            // stop it.
            TWalkOptions options = WalkOptions();
            options.OnEntry = [this, seen = uint32_t{0}]() mutable {
                if (++seen % WalkTickEntries == 0) {
                    Notify(zacTick, 0, 0, "");
                }
            };
            options.OnFile = [this, &total](TWalkItem& item) { FindFile(item, total); };
            options.OnMissing = [this](const std::string& path) {
                FLeftOut.emplace_back(static_cast<uint32_t>(FNames.Count()), path);
            };
            TFileWalker walker(std::move(options));
            if (!WalkSpecs(walker)) {
                return RESULT_FAILED;
            }
        }
        Notify(zacSize, 0, total, "");
        // Names given exactly that vanished were found and then skipped: the archive is made (it
        // may hold nothing), as when files vanish while they are read.
        if (FNames.Count() == 0 && FLeftOut.empty()) {
            Notify(zacEndOfBatch, 0, 0, "");  // no archive is made (an existing one stays)
            return 0;
        }
        const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
        FQueueLimit = 2 * threads * CHUNK_SIZE;
        // The calling thread compresses too whenever the file it is to write is not ready.
        FPool = std::make_unique<TWorkPool>(std::max(1u, threads - 1));
        size_t leftOut = 0;
        uint64_t heard = 0;
        for (uint32_t i = 0; i < FNames.Count(); ++i) {
            for (; leftOut < FLeftOut.size() && FLeftOut[leftOut].first <= i; ++leftOut) {
                LeaveOut(FLeftOut[leftOut].second);
            }
            // Where a stretch of files gives no callback yet, the caller still hears now and
            // then (with nothing done), so that it can stop.
            if ((i + 1) % WalkTickEntries == 0) {
                if (FNotified == heard) {
                    Notify(zacProgress, 0, 0, "");
                }
                heard = FNotified;
            }
            TakeFile(i);
        }
        for (; leftOut < FLeftOut.size(); ++leftOut) {
            LeaveOut(FLeftOut[leftOut].second);
        }
        FLeftOut = {};
        FPrefixes = {};
        FPrefixIndex = {};
        while (!FQueue.empty()) {
            WriteReadyJobs(true);
        }
        FCentral.Write(*FOutput, FNames);
        FOutput->Finish();
        FPool->Stop();
        Notify(zacEndOfBatch, 0, 0, "");
        return static_cast<int32_t>(std::min<size_t>(FCentral.Count(), INT32_MAX));
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

void TZipBatch::OpenOutput() {
    if (!FOutput) {
        FOutput = std::make_unique<TArchiveOutput>(FCommand.ZipFileName);
    }
}

uint32_t TZipBatch::PathPrefix(const TWalkItem& item, bool& wholePath) {
    // The stored name is the end of the path but where its parts were cleaned up; the prefixes
    // are few (a root, or the directories when names go without them).
    const std::string& path = item.Path;
    const std::string& name = item.StoredName;
    wholePath = !(path.size() >= name.size() &&
                  path.compare(path.size() - name.size(), name.size(), name) == 0);
    const std::string_view prefix =
        wholePath ? std::string_view(path)
                  : std::string_view(path).substr(0, path.size() - name.size());
    if (!FPrefixes.empty() && FPrefixes[FLastPrefix] == prefix) {
        return FLastPrefix;
    }
    const auto [it, added] =
        FPrefixIndex.try_emplace(std::string(prefix), static_cast<uint32_t>(FPrefixes.size()));
    if (added) {
        FPrefixes.emplace_back(prefix);
    }
    FLastPrefix = it->second;
    return FLastPrefix;
}

void TZipBatch::FindFile(TWalkItem& item, uint64_t& total) {
    uint32_t index = 0;
    switch (FNames.Add(item.StoredName, item.Device, item.Inode, index)) {
        case TStoredNames::EAdd::Added: {
            total += item.Size;
            TStoredNames::TFile& file = FNames.File(index);
            file.Size = item.Size;
            file.Prefix = PathPrefix(item, file.WholePath);
            file.Link = item.Link;
            file.Password = PasswordNumber(FSpecPassword);
            break;
        }
        case TStoredNames::EAdd::OtherFile:
            // File names only, or the same name below two roots: the first file keeps it.
            FLeftOut.emplace_back(static_cast<uint32_t>(FNames.Count()), item.Path);
            break;
        case TStoredNames::EAdd::SameFile:
            break;  // named twice: taken once
    }
}

uint16_t TZipBatch::PasswordNumber(const std::string* password) const {
    for (size_t i = 0; i < FPasswords.size() && password != nullptr; ++i) {
        if (&FPasswords[i] == password) {
            return static_cast<uint16_t>(i + 1);
        }
    }
    return 0;
}

void TZipBatch::TakeFile(uint32_t index) {
    const TStoredNames::TFile& file = FNames.File(index);
    auto item = std::make_shared<TWalkItem>();
    item->StoredName = FNames.Name(index);
    item->Path =
        file.WholePath ? FPrefixes[file.Prefix] : FPrefixes[file.Prefix] + item->StoredName;
    // Announced with the size the walk counted, so that the progress adds up to the total.
    item->Size = file.Size;
    item->Device = static_cast<dev_t>(file.Device);
    item->Inode = static_cast<ino_t>(file.Inode);
    item->Link = file.Link;
    item->Name = index;
    item->Password = file.Password == 0 ? nullptr : &FPasswords[file.Password - 1U];
    OpenOutput();
    AddFile(item);
    if (FFirstFile) {
        // The first file is written before any other is opened, so the caller's first progress
        // comes before the rest of the tree is touched; it costs one file once.
        FFirstFile = false;
        while (!FQueue.empty()) {
            WriteReadyJobs(true);
        }
    }
}

void TZipBatch::LeaveOut(const std::string& path) {
    OpenOutput();
    auto item = std::make_shared<TWalkItem>();
    item->Path = path;
    // Reported in its place among the files, in the order of the walk.
    std::unique_ptr<TZipJob> job = NewJob(item, 0);
    job->Outcome = EJobOutcome::LeftOut;
    job->Done = true;
    Dispatch(std::move(job), 0);
}

void TZipBatch::AddFile(const std::shared_ptr<const TWalkItem>& shared) {
    const TWalkItem& item = *shared;
    if (item.Link) {
        // A few bytes: read (and encrypted) by a worker, as a small file.
        Dispatch(NewJob(shared, 0), 0);
        return;
    }
    const int level = FCommand.Level <= 0 || IsStoredName(item.StoredName)
                          ? 0
                          : DeflateLevel(std::min(FCommand.Level, 9));
    if (item.Size <= CHUNK_SIZE) {
        std::unique_ptr<TZipJob> job = NewJob(shared, level);
        job->Want = CHUNK_SIZE;
        Dispatch(std::move(job), item.Size);
        return;
    }
    const int handle = open(item.Path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    auto file = handle >= 0 ? std::make_shared<TOpenFile>(handle) : nullptr;
    struct stat st {};
    if (!file || fstat(handle, &st) != 0 || !S_ISREG(st.st_mode)) {
        std::unique_ptr<TZipJob> job = NewJob(shared, level);
        job->Outcome = EJobOutcome::Skipped;
        job->Done = true;
        Dispatch(std::move(job), 0);
        return;
    }
    // Read no more than the size seen now, so the local header's Zip64 choice stays right.
    const auto size = static_cast<uint64_t>(st.st_size);
    std::shared_ptr<TEntrySealer> sealer;
    if (item.Password != nullptr) {
        sealer = std::make_shared<TEntrySealer>(*item.Password, PieceCount(size));
    }
    uint64_t offset = 0;
    uint32_t piece = 0;
    do {
        std::unique_ptr<TZipJob> job = NewJob(shared, level);
        job->Sealer = sealer;
        job->Piece = piece++;
        job->File = file;
        job->Offset = offset;
        job->Want = static_cast<size_t>(std::min<uint64_t>(CHUNK_SIZE, size - offset));
        job->First = offset == 0;
        job->Last = offset + job->Want == size;
        job->Mode = st.st_mode;
        job->MTime = st.st_mtime;
        job->StatSize = size;
        offset += job->Want;
        const size_t bytes = job->Want;
        Dispatch(std::move(job), bytes);
    } while (offset < size);
}

std::unique_ptr<TZipJob> TZipBatch::NewJob(const std::shared_ptr<const TWalkItem>& item,
                                           int level) {
    std::unique_ptr<TZipJob> job;
    if (FIdle.empty()) {
        job = std::make_unique<TZipJob>();
    } else {
        job = std::move(FIdle.back());
        FIdle.pop_back();
    }
    job->Item = item;
    job->Level = level;
    job->Password = item->Password;
    return job;
}

void TZipBatch::Dispatch(std::unique_ptr<TZipJob> job, size_t bytes) {
    while (!FQueue.empty() && (FQueuedBytes + bytes > FQueueLimit || FQueue.size() >= MAX_JOBS)) {
        WriteReadyJobs(true);
    }
    TZipJob* raw = job.get();
    FQueuedBytes += bytes;
    FQueue.emplace_back(std::move(job), bytes);
    if (!raw->Done) {
        FPool->Submit(raw);
    }
    WriteReadyJobs(false);
}

void TZipBatch::WriteReadyJobs(bool wait) {
    while (!FQueue.empty()) {
        const TZipJob* front = FQueue.front().first.get();
        if (wait) {
            FPool->Wait(front);
            wait = false;
        } else if (!FPool->IsDone(front)) {
            return;
        }
        std::unique_ptr<TZipJob> job = std::move(FQueue.front().first);
        FQueuedBytes -= FQueue.front().second;
        FQueue.pop_front();
        if (job->Sealer) {
            job->Sealer->WaitSealed(*job);  // a worker may still be encrypting it
        }
        if (job->Outcome == EJobOutcome::LeftOut) {
            Notify(zacMessage, zecSkipped, 0, job->Item->Path);
            job->Reset();
            FIdle.push_back(std::move(job));
            continue;
        }
        if (job->First) {
            Notify(zacItem, 0, job->Item->Size, job->Item->Path);
            FItemSize = job->Item->Size;
            FReported = 0;
            FFileOver = false;
            FEntryOpen = false;
        }
        if (!FFileOver) {
            WriteJob(*job);
        }
        job->Reset();
        FIdle.push_back(std::move(job));
    }
}

void TZipBatch::Report(uint64_t bytes) {
    const uint64_t part = std::min(bytes, FItemSize - FReported);
    FReported += part;
    Notify(zacProgress, 0, part, "");
}

void TZipBatch::WriteJob(TZipJob& job) {
    const TWalkItem& item = *job.Item;
    if (job.Outcome == EJobOutcome::Grown) {
        WriteGrownFile(job.Item, job.Level);
        return;
    }
    if (job.Outcome == EJobOutcome::Skipped) {
        if (FEntryOpen) {
            FOutput->TruncateTo(FEntry.LocalOffset);
            FEntryOpen = false;
        }
        FFileOver = true;
        Notify(zacMessage, zecSkipped, 0, item.Path);
        Report(FItemSize - FReported);
        return;
    }
    if (job.Failed) {
        throw std::runtime_error("Nedostatek paměti pro kompresi");
    }
    if (job.CipherFailed) {
        throw std::runtime_error("Data nelze zašifrovat (chyba knihovny OpenSSL)");
    }
    if (job.First) {
        FEntry = TZipEntry{};
        FEntry.Name = item.StoredName;
        FEntry.Mode = job.Mode;
        FEntry.MTime = job.MTime;
        FEntry.Method = job.Stored ? zmStored : zmDeflated;
        FEntry.Encrypted = job.Password != nullptr;
        FEntry.LocalZip64 = job.StatSize >= ZIP32_LIMIT - LOCAL_ZIP64_MARGIN;
        FEntry.LocalOffset = FOutput->Offset();
        FEntry.Crc = FEntry.Encrypted ? 0 : job.Crc;  // the authentication code replaces it
        FEntry.Size = job.Size;
        FEntry.CompressedSize = job.Output.size();
        FOutput->Write(LocalHeader(FEntry));  // final for a whole file, else patched below
        FEntryOpen = true;
    } else {
        if (!FEntry.Encrypted) {
            FEntry.Crc = static_cast<uint32_t>(
                crc32_combine(FEntry.Crc, job.Crc, static_cast<z_off_t>(job.Size)));
        }
        FEntry.Size += job.Size;
        FEntry.CompressedSize += job.Output.size();
    }
    FOutput->Write(job.Output.data(), job.Output.size());
    Report(job.Size);
    if (!job.Ended) {
        return;
    }
    if (!job.First) {
        if (!FEntry.LocalZip64 &&
            (FEntry.Size >= ZIP32_LIMIT || FEntry.CompressedSize >= ZIP32_LIMIT)) {
            throw EArchiveWrite("Soubor '" + FEntry.Name +
                                "' je pro svou hlavičku v archivu příliš velký");
        }
        FOutput->Patch(FEntry.LocalOffset + LocalCrcOffset(), LocalCrcAndSizes(FEntry));
        if (FEntry.LocalZip64) {
            FOutput->Patch(FEntry.LocalOffset + LocalSizesOffset(FEntry), LocalZip64Sizes(FEntry));
        }
    }
    FCentral.Add(FEntry, item.Name);
    FEntryOpen = false;
    FFileOver = true;
    if (FReported < FItemSize) {
        Report(FItemSize - FReported);  // the file shrank since the walk
    }
}

void TZipBatch::WriteGrownFile(std::shared_ptr<const TWalkItem> shared, int level) {
    const TWalkItem& item = *shared;
    // Rare: a file grew past one piece after the walk. It is read here, piece by piece, on
    // this thread; the jobs queued behind it wait.
    const int handle = open(item.Path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    auto file = handle >= 0 ? std::make_shared<TOpenFile>(handle) : nullptr;
    struct stat st {};
    TZipJob piece;
    piece.Item = shared;
    piece.Level = level;
    if (!file || fstat(handle, &st) != 0 || !S_ISREG(st.st_mode)) {
        piece.Outcome = EJobOutcome::Skipped;
        WriteJob(piece);
        return;
    }
    const auto size = static_cast<uint64_t>(st.st_size);
    std::shared_ptr<TEntrySealer> sealer;
    if (item.Password != nullptr) {
        sealer = std::make_shared<TEntrySealer>(*item.Password, PieceCount(size));
    }
    uint64_t offset = 0;
    uint32_t number = 0;
    while (!FFileOver) {
        piece.Reset();
        piece.Item = shared;
        piece.Password = item.Password;
        piece.Sealer = sealer;
        piece.Piece = number++;
        piece.File = file;
        piece.Offset = offset;
        piece.Want = static_cast<size_t>(std::min<uint64_t>(CHUNK_SIZE, size - offset));
        piece.First = offset == 0;
        piece.Last = offset + piece.Want == size;
        piece.Mode = st.st_mode;
        piece.MTime = st.st_mtime;
        piece.StatSize = size;
        offset += piece.Want;
        FPool->RunHere(piece);
        WriteJob(piece);
    }
}

}  // namespace sejfko::zipengine

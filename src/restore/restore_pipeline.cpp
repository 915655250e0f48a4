#include "restore/restore_pipeline.hpp"

#include <algorithm>
#include <chrono>

#include "archive/zip_reader.hpp"
#include "platform/cancel_event.hpp"
#include "platform/confined_directory.hpp"
#include "platform/exceptions.hpp"

namespace sejfko {

namespace {

// Thrown through the reader when the pipeline stops: the writer's destructor removes the
// temporary file on the way out.
class EAbandon {};

constexpr auto CancelCheck = std::chrono::milliseconds(100);

}  // namespace

bool IsRestoredFile(const TZipDirEntry& entry) {
    const bool madeOnPosix = (entry.VersionMadeBy >> 8) == 3;
    const bool directory = entry.IsDirectory() ||
                           (madeOnPosix && ((entry.ExternalAttributes >> 16) & 0170000) == 0040000);
    return !directory && !entry.IsSymlink();
}

unsigned RestoredMode(const TZipDirEntry& entry) {
    const bool madeOnPosix = (entry.VersionMadeBy >> 8) == 3;
    const unsigned mode = madeOnPosix ? (entry.ExternalAttributes >> 16) & 0777 : 0;
    return mode != 0 ? mode : 0644;
}

std::optional<std::timespec> RestoredTime(const TZipDirEntry& entry) {
    if (!entry.ModifiedUnix) {
        return std::nullopt;
    }
    return std::timespec{static_cast<std::time_t>(*entry.ModifiedUnix), 0};
}

TRestoreJobResult::TRestoreJobResult() = default;
TRestoreJobResult::TRestoreJobResult(TRestoreJobResult&&) noexcept = default;
TRestoreJobResult& TRestoreJobResult::operator=(TRestoreJobResult&&) noexcept = default;
TRestoreJobResult::~TRestoreJobResult() = default;

TRestorePipeline::TRestorePipeline(const TZipReader& reader, TConfinedDirectory& directory,
                                   const std::vector<TRestoreJob>& jobs, const TCancelEvent* cancel,
                                   unsigned workers)
    : FReader(reader), FDirectory(directory), FJobs(jobs), FCancel(cancel), FSlots(Window) {
    if (workers == 0) {
        workers = std::clamp(std::thread::hardware_concurrency(), 2u, 8u);
    }
    workers = static_cast<unsigned>(
        std::min<std::size_t>(workers, std::max<std::size_t>(jobs.size(), 1)));
    FWorkers.reserve(workers);
    try {
        for (unsigned i = 0; i < workers; ++i) {
            FWorkers.emplace_back([this] { Work(); });
        }
    } catch (...) {
        Stop();
        for (std::thread& worker : FWorkers) {
            worker.join();
        }
        throw;
    }
}

TRestorePipeline::~TRestorePipeline() {
    Stop();
    for (std::thread& worker : FWorkers) {
        worker.join();
    }
}

void TRestorePipeline::Stop() {
    {
        std::lock_guard<std::mutex> lock(FLock);
        FStopping = true;
    }
    FAbandon = true;
    FWorkersWake.notify_all();
    FResultReady.notify_all();
}

bool TRestorePipeline::Abandoned() const {
    return FAbandon.load(std::memory_order_relaxed) || (FCancel != nullptr && FCancel->IsSet());
}

uint64_t TRestorePipeline::BytesWritten() const {
    return FWritten.load(std::memory_order_relaxed);
}

void TRestorePipeline::Work() {
    // Each worker reads through its own handle: the reader's keeps one error value.
    TReadFile file;
    std::string openFailure;
    try {
        FReader.OpenSameArchive(file);
    } catch (const EZipReadError& error) {
        openFailure = error.what();
    }
    for (;;) {
        std::size_t index = 0;
        {
            std::unique_lock<std::mutex> lock(FLock);
            FWorkersWake.wait(lock, [&] {
                SkipOthers(FNextJob);
                return FStopping || FNextJob >= FJobs.size() || FNextJob < FTaken + Window;
            });
            if (FStopping || FNextJob >= FJobs.size()) {
                return;
            }
            index = FNextJob++;
        }
        TRestoreJobResult result;
        if (!openFailure.empty()) {
            result.Kind = TRestoreJobResult::TKind::Damaged;
            result.Message = openFailure;
        } else {
            result = Run(FJobs[index], file);
        }
        {
            std::lock_guard<std::mutex> lock(FLock);
            FSlots[index % Window] = std::move(result);
        }
        FResultReady.notify_all();
    }
}

TRestoreJobResult TRestorePipeline::Run(const TRestoreJob& job, const TReadFile& file) {
    using TKind = TRestoreJobResult::TKind;
    TRestoreJobResult result;
    try {
        if (Abandoned()) {
            return result;
        }
        auto writer = std::make_unique<TConfinedFileWriter>(FDirectory, std::string(job.Relative));
        FReader.ExtractTo(
            *job.Entry,
            [&](const char* data, std::size_t size) {
                if (Abandoned()) {
                    throw EAbandon();
                }
                writer->Write(data, size);
                FWritten.fetch_add(size, std::memory_order_relaxed);
            },
            file);
        writer->Prepare(RestoredMode(*job.Entry), RestoredTime(*job.Entry));
        result.File = std::move(writer);
        result.Kind = TKind::Ready;
    } catch (const EAbandon&) {
        result.Kind = TKind::Cancelled;
    } catch (const EZipReadError& error) {
        result.Kind = TKind::Damaged;
        result.Message = error.what();
    } catch (const EOSError& error) {
        result.Kind = TKind::WriteFailed;
        result.Code = error.Code;
    } catch (...) {
        result.Kind = TKind::Failed;
        result.Error = std::current_exception();
    }
    return result;
}

void TRestorePipeline::SkipOthers(std::size_t& index) const {
    while (index < FJobs.size() && !IsRestoredFile(*FJobs[index].Entry)) {
        ++index;
    }
}

TRestoreJobResult TRestorePipeline::Next(const std::function<void()>& waiting) {
    std::unique_lock<std::mutex> lock(FLock);
    SkipOthers(FTaken);
    std::optional<TRestoreJobResult>& slot = FSlots[FTaken % Window];
    for (;;) {
        if (slot) {
            break;
        }
        if (FStopping || (FCancel != nullptr && FCancel->IsSet())) {
            return TRestoreJobResult();
        }
        FResultReady.wait_for(lock, CancelCheck);
        if (!slot && waiting) {
            lock.unlock();
            waiting();
            lock.lock();
        }
    }
    TRestoreJobResult result = std::move(*slot);
    slot.reset();
    ++FTaken;
    lock.unlock();
    FWorkersWake.notify_all();
    return result;
}

}  // namespace sejfko

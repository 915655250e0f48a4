#include "gui/restore_worker.hpp"

#include <QMetaObject>
#include <exception>
#include <set>
#include <utility>

#include "config/options.hpp"
#include "platform/cancel_event.hpp"
#include "platform/clock.hpp"
#include "platform/file_system.hpp"
#include "restore/restore_session.hpp"

namespace sejfko {

namespace {

// Archives made with the configured password open with it; those made without need none.
std::vector<std::string> ConfiguredPasswords() {
    const std::string password = Options.ArchivePassword();
    return password.empty() ? std::vector<std::string>{} : std::vector<std::string>{password};
}

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The archives of the folders that exist; for the server, those the server holds that no
// folder does (an archive waiting for transfer is read where it waits).
std::vector<TArchiveRef> SourceArchives(const TRestoreSource& source, const TCancelEvent& cancel) {
    std::vector<std::string> folders;
    for (const std::string& folder : source.Folders) {
        if (!source.FromServer || DirectoryExists(folder)) {
            folders.push_back(folder);
        }
    }
    std::vector<TArchiveRef> archives;
    if (!folders.empty()) {
        archives = CollectArchives(folders);
    }
    if (source.FromServer) {
        std::set<std::string> local;
        for (const TArchiveRef& ref : archives) {
            local.insert(ref.Name);
        }
        for (TArchiveRef& ref : ListServerArchives(source.Server, &cancel)) {
            if (local.count(ref.Name) == 0) {
                archives.push_back(std::move(ref));
            }
        }
    }
    return archives;
}

// Collects the dry run's files and problems, and passes the restore's course on.
class TWorkerObserver final : public TRestoreObserver {
public:
    explicit TWorkerObserver(TRestoreWorker& worker) : FWorker(worker) {}

    void ArchiveStarted(const TArchiveRef& archive, std::size_t index, std::size_t count) override {
        emit FWorker.Step(
            QStringLiteral("Archiv %1/%2: %3").arg(index).arg(count).arg(FromUtf8(archive.Name)));
    }
    void Progress(uint64_t done, uint64_t total) override {
        const int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
        if (percent != FPercent) {
            FPercent = percent;
            emit FWorker.Progress(percent);
        }
    }
    void Problem(const std::string& message) override { Problems.append(FromUtf8(message)); }
    void Planned(bool remove, const std::string& relative, uint64_t size,
                 std::time_t modified) override {
        if (!remove) {
            Files.push_back(TPointFile{relative, size, modified});
        }
    }

    QStringList Problems;
    std::vector<TPointFile> Files;

private:
    TRestoreWorker& FWorker;
    int FPercent = -1;
};

}  // namespace

TRestoreWorker::TRestoreWorker(QObject* parent) : QObject(parent) {}

TRestoreWorker::~TRestoreWorker() {
    CancelAndWait();
}

void TRestoreWorker::Cancel() {
    if (FCancel) {
        FCancel->Set();
    }
}

void TRestoreWorker::CancelAndWait() {
    Cancel();
    Join();
    FBusy = false;
    ++FJob;  // its result, already queued perhaps, is no longer awaited
}

void TRestoreWorker::Join() {
    if (FThread.joinable()) {
        FThread.join();
    }
}

void TRestoreWorker::Start(std::function<std::function<void()>(const TCancelEvent&)> job) {
    CancelAndWait();
    FCancel = std::make_unique<TCancelEvent>();
    FBusy = true;
    const uint64_t id = FJob;
    const TCancelEvent* cancel = FCancel.get();
    FThread = std::thread([this, id, cancel, job = std::move(job)] {
        std::function<void()> finish = job(*cancel);
        QMetaObject::invokeMethod(
            this,
            [this, id, finish = std::move(finish)] {
                if (id == FJob) {
                    FBusy = false;
                    finish();
                }
            },
            Qt::QueuedConnection);
    });
}

void TRestoreWorker::ListPoints(const TRestoreSource& source,
                                std::function<void(std::vector<TArchiveRef>, QString)> done) {
    Start([source, done = std::move(done)](const TCancelEvent& cancel) -> std::function<void()> {
        std::vector<TArchiveRef> points;
        QString error;
        try {
            points = RestorePoints(SourceArchives(source, cancel));
        } catch (const std::exception& failure) {
            error = FromUtf8(failure.what());
        }
        return [done, points = std::move(points), error] { done(points, error); };
    });
}

void TRestoreWorker::ListFiles(
    const TRestoreSource& source, std::vector<TArchiveRef> chain,
    std::function<void(std::vector<TArchiveRef>, std::vector<TPointFile>, QStringList, QString)>
        done) {
    Start([this, source, chain = std::move(chain),
           done = std::move(done)](const TCancelEvent& cancel) mutable -> std::function<void()> {
        TWorkerObserver observer(*this);
        QString error;
        try {
            if (source.FromServer) {
                DownloadArchives(
                    source.Server, chain, source.DownloadDirectory,
                    [this](const std::string& name, std::size_t index, std::size_t count) {
                        emit Step(QStringLiteral("Stahuji %1/%2: %3")
                                      .arg(index)
                                      .arg(count)
                                      .arg(FromUtf8(name)));
                    },
                    &cancel);
            }
            TRestoreOptions listing;
            listing.DryRun = true;
            listing.Passwords = ConfiguredPasswords();
            listing.Cancel = &cancel;
            const TRestoreSummary summary = RestoreChain(chain, listing, observer);
            if (summary.Stopped && !observer.Problems.empty()) {
                error = observer.Problems.back();
            }
        } catch (const std::exception& failure) {
            error = FromUtf8(failure.what());
        }
        if (cancel.IsSet()) {
            error = QStringLiteral("Načítání bylo zrušeno.");
        }
        return [done, chain = std::move(chain), files = std::move(observer.Files),
                problems = observer.Problems, error] { done(chain, files, problems, error); };
    });
}

void TRestoreWorker::Restore(std::vector<TArchiveRef> chain, TRestoreOptions options,
                             const std::string& dataDirectory,
                             std::function<void(TRestoreOutcome)> done) {
    Start([this, chain = std::move(chain), options = std::move(options), dataDirectory,
           done = std::move(done)](const TCancelEvent& cancel) mutable -> std::function<void()> {
        TWorkerObserver observer(*this);
        TRestoreOutcome outcome;
        THistoryRecord record;
        record.Start = Now();
        record.Kind = HistoryRestore;
        if (!chain.empty()) {
            record.Archive = chain.back().Name;
        }
        options.Cancel = &cancel;
        options.Passwords = ConfiguredPasswords();
        try {
            PrepareRestoreTarget(options.Target, options.Force, false);
            outcome.Summary = RestoreChain(chain, options, observer);
            FillRestoreRecord(record, options.Target, outcome.Summary);
        } catch (const std::exception& failure) {
            outcome.Error = FromUtf8(failure.what());
            record.Result = failure.what();
        }
        RecordRestore(dataDirectory, record);
        outcome.Problems = observer.Problems;
        return [done, outcome = std::move(outcome)] { done(outcome); };
    });
}

}  // namespace sejfko

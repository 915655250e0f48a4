#pragma once
// TRestoreWorker: the thread of the restore dialog. Each job (list the points of a source, list
// the files of a point, restore) runs on a thread of its own through the core's restore code,
// never on the user-interface thread; what it finds comes back to the GUI thread as one call
// queued to this object, and the restore's progress likewise (only when the percentage moves).
// One job at a time: starting one cancels the one before, whose result is then dropped. Cancel
// sets the job's stop request: the core sees it between files and
// between the chunks of a file, and every network wait ends at once. The destructor cancels
// and waits. GUI thread only, except where said.

#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "restore/restore_download.hpp"
#include "restore/restore_run.hpp"

namespace sejfko {

class TCancelEvent;

// Where the archives come from: folders of archives, or the FTP server (with the archives that
// still wait for transfer in the folders, used in place of the server's copies).
struct TRestoreSource {
    std::vector<std::string> Folders;
    bool FromServer = false;
    TServerSource Server;
    std::string DownloadDirectory;  // for archives from the server; must exist
};

// One file of a point in time, as the chain would restore it.
struct TPointFile {
    std::string Relative;  // stored name ("home/jana/a.txt")
    uint64_t Size = 0;
    std::time_t Modified = 0;  // 0 when the archive has none
};

struct TRestoreOutcome {
    TRestoreSummary Summary;
    QStringList Problems;  // as the core worded them
    QString Error;         // the restore could not start or go on (ERestoreError and the like)
};

class TRestoreWorker : public QObject {
    Q_OBJECT
public:
    explicit TRestoreWorker(QObject* parent = nullptr);
    ~TRestoreWorker() override;

    bool Busy() const { return FBusy; }
    // Sets the stop request of the running job; safe without one.
    void Cancel();
    // Cancels the running job and waits for its thread.
    void CancelAndWait();

    // The points of `source` (RestorePoints), oldest first; `error` empty on success.
    void ListPoints(const TRestoreSource& source,
                    std::function<void(std::vector<TArchiveRef>, QString error)> done);
    // Downloads what the chain needs from the server, then lists the files the chain gives
    // (a dry run); the chain comes back with local paths. Problems met on the way (refused
    // names) come with it.
    void ListFiles(const TRestoreSource& source, std::vector<TArchiveRef> chain,
                   std::function<void(std::vector<TArchiveRef>, std::vector<TPointFile>,
                                      QStringList problems, QString error)>
                       done);
    // Prepares the target and restores `chain` (with local paths) by `options`; the history
    // record goes to `dataDirectory`.
    void Restore(std::vector<TArchiveRef> chain, TRestoreOptions options,
                 const std::string& dataDirectory, std::function<void(TRestoreOutcome)> done);

signals:
    // The restore's progress in percent (0-100).
    void Progress(int percent);
    // A line for the user: which archive is read or downloaded now.
    void Step(const QString& text);

private:
    // Runs `job` on a new thread with a fresh stop request; `job` returns what the GUI thread
    // then runs.
    void Start(std::function<std::function<void()>(const TCancelEvent&)> job);
    void Join();

    std::thread FThread;
    std::unique_ptr<TCancelEvent> FCancel;
    bool FBusy = false;
    uint64_t FJob = 0;  // the job whose result is awaited
};

}  // namespace sejfko

#pragma once
// Worker threads running submitted jobs in submission order. The submitting thread waits for a
// particular job and, while it waits, runs the oldest job no worker has taken yet, so that it
// compresses too instead of idling. Stop() drops jobs not yet started and joins the threads; it
// must run before anything a job uses is freed.

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "zipengine/zip_job.hpp"

namespace sejfko::zipengine {

class TWorkPool {
public:
    explicit TWorkPool(unsigned threads);
    ~TWorkPool();
    TWorkPool(const TWorkPool&) = delete;
    TWorkPool& operator=(const TWorkPool&) = delete;

    void Submit(TZipJob* job);
    // Returns once `job` is done, running waiting jobs on the calling thread meanwhile.
    void Wait(const TZipJob* job);
    // True when `job` is already done; does not block.
    bool IsDone(const TZipJob* job);
    // Runs a job on the calling thread outside the queue (for example a file read in order).
    void RunHere(TZipJob& job) { job.Run(FCallerContext); }
    void Stop();

private:
    void WorkerLoop(TJobContext& context);

    std::mutex FLock;
    std::condition_variable FWork;
    std::condition_variable FFinished;
    std::deque<TZipJob*> FQueue;
    std::vector<std::unique_ptr<TJobContext>> FContexts;
    TJobContext FCallerContext;
    std::vector<std::thread> FThreads;
    bool FStopping = false;
    bool FWaiting = false;
};

}  // namespace sejfko::zipengine

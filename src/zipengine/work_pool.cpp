#include "zipengine/work_pool.hpp"

namespace sejfko::zipengine {

TWorkPool::TWorkPool(unsigned threads) {
    if (threads == 0) {
        threads = 1;
    }
    FThreads.reserve(threads);
    for (unsigned i = 0; i < threads; ++i) {
        FContexts.push_back(std::make_unique<TJobContext>());
    }
    for (unsigned i = 0; i < threads; ++i) {
        TJobContext* context = FContexts[i].get();
        FThreads.emplace_back([this, context] { WorkerLoop(*context); });
    }
}

TWorkPool::~TWorkPool() {
    Stop();
}

void TWorkPool::Submit(TZipJob* job) {
    {
        std::lock_guard lock(FLock);
        FQueue.push_back(job);
    }
    FWork.notify_one();
}

void TWorkPool::Wait(const TZipJob* job) {
    std::unique_lock lock(FLock);
    while (!job->Done) {
        if (!FQueue.empty()) {
            TZipJob* other = FQueue.front();
            FQueue.pop_front();
            lock.unlock();
            other->Run(FCallerContext);
            lock.lock();
            other->Done = true;
            continue;
        }
        FWaiting = true;
        FFinished.wait(lock);
        FWaiting = false;
    }
}

bool TWorkPool::IsDone(const TZipJob* job) {
    std::lock_guard lock(FLock);
    return job->Done;
}

void TWorkPool::Stop() {
    {
        std::lock_guard lock(FLock);
        FStopping = true;
        FQueue.clear();
    }
    FWork.notify_all();
    for (std::thread& thread : FThreads) {
        if (thread.joinable()) {
            thread.join();
        }
    }
    FThreads.clear();
}

void TWorkPool::WorkerLoop(TJobContext& context) {
    std::unique_lock lock(FLock);
    for (;;) {
        FWork.wait(lock, [&] { return FStopping || !FQueue.empty(); });
        if (FStopping) {
            return;
        }
        TZipJob* job = FQueue.front();
        FQueue.pop_front();
        lock.unlock();
        job->Run(context);
        lock.lock();
        job->Done = true;
        if (FWaiting) {
            FFinished.notify_one();
        }
    }
}

}  // namespace sejfko::zipengine

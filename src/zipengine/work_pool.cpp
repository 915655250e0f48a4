#include "zipengine/work_pool.hpp"

namespace sejfko::zipengine {

TWorkPool::TWorkPool(unsigned threads) {
    if (threads == 0) {
        threads = 1;
    }
    FThreads.reserve(threads);
    for (unsigned i = 0; i < threads; ++i) {
        FThreads.emplace_back([this] { WorkerLoop(); });
    }
}

TWorkPool::~TWorkPool() {
    Stop();
}

void TWorkPool::Submit(std::function<void()> task, bool* done) {
    {
        std::lock_guard lock(FLock);
        FQueue.push_back(TTask{std::move(task), done});
    }
    FWork.notify_one();
}

void TWorkPool::Wait(const bool* done) {
    std::unique_lock lock(FLock);
    FFinished.wait(lock, [&] { return *done; });
}

bool TWorkPool::IsDone(const bool* done) {
    std::lock_guard lock(FLock);
    return *done;
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

void TWorkPool::WorkerLoop() {
    for (;;) {
        TTask task;
        {
            std::unique_lock lock(FLock);
            FWork.wait(lock, [&] { return FStopping || !FQueue.empty(); });
            if (FStopping) {
                return;
            }
            task = std::move(FQueue.front());
            FQueue.pop_front();
        }
        task.Run();
        {
            std::lock_guard lock(FLock);
            *task.Done = true;
        }
        FFinished.notify_all();
    }
}

}  // namespace sejfko::zipengine

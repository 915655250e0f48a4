#pragma once
// A fixed set of worker threads running submitted tasks in submission order. The thread that
// submits waits for a particular task through its completion flag. Stop() drops tasks not yet
// started and joins the threads; it must run before anything a task uses is freed.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace sejfko::zipengine {

class TWorkPool {
public:
    explicit TWorkPool(unsigned threads);
    ~TWorkPool();
    TWorkPool(const TWorkPool&) = delete;
    TWorkPool& operator=(const TWorkPool&) = delete;

    // `done` is set (under the pool's lock) once `task` has run; it must outlive the task.
    void Submit(std::function<void()> task, bool* done);
    // Blocks until `done` is set.
    void Wait(const bool* done);
    // True when `done` is already set; does not block.
    bool IsDone(const bool* done);
    void Stop();

private:
    struct TTask {
        std::function<void()> Run;
        bool* Done;
    };
    void WorkerLoop();

    std::mutex FLock;
    std::condition_variable FWork;
    std::condition_variable FFinished;
    std::deque<TTask> FQueue;
    std::vector<std::thread> FThreads;
    bool FStopping = false;
};

}  // namespace sejfko::zipengine

#pragma once
// Test doubles for the worker: a message sink that records what the worker posts, and a worker
// whose passes the test releases one at a time (no real sleeps between passes).

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "backup/backup_thread.hpp"
#include "platform/message_sink.hpp"

namespace sejfko::test {

// Upper bound of every wait for the worker: generous, reached only when something is broken.
constexpr auto WorkerTimeout = std::chrono::seconds(60);

class TRecordingSink : public TMessageSink {
public:
    struct TPost {
        unsigned Message = 0;
        intptr_t WParam = 0;
        intptr_t LParam = 0;
    };

    // Runs on the posting thread after the post is recorded; set before the worker starts.
    std::function<void(const TPost&)> OnPost;

    void Post(unsigned message, intptr_t wParam, intptr_t lParam) override {
        const TPost post{message, wParam, lParam};
        {
            std::lock_guard lock(FLock);
            FPosts.push_back(post);
        }
        if (OnPost) {
            OnPost(post);
        }
        FChanged.notify_all();
    }
    void ShowException(const std::string& text) override {
        {
            std::lock_guard lock(FLock);
            FExceptions.push_back(text);
        }
        FChanged.notify_all();
    }

    std::vector<TPost> Posts() const {
        std::lock_guard lock(FLock);
        return FPosts;
    }
    // The status codes of WM_BACKUP_STATUS in order.
    std::vector<int> Statuses() const {
        std::vector<int> codes;
        for (const TPost& post : Posts()) {
            if (post.Message == WM_BACKUP_STATUS) {
                codes.push_back(static_cast<int>(post.WParam));
            }
        }
        return codes;
    }
    int Count(unsigned message, intptr_t wParam = -1) const {
        int count = 0;
        for (const TPost& post : Posts()) {
            count += post.Message == message && (wParam < 0 || post.WParam == wParam) ? 1 : 0;
        }
        return count;
    }
    std::vector<std::string> Exceptions() const {
        std::lock_guard lock(FLock);
        return FExceptions;
    }
    void Clear() {
        std::lock_guard lock(FLock);
        FPosts.clear();
        FExceptions.clear();
    }
    // Waits until `count` status codes `status` have been posted in all.
    bool WaitForStatus(int status, int count = 1) {
        std::unique_lock lock(FLock);
        return FChanged.wait_for(lock, WorkerTimeout, [&] {
            int seen = 0;
            for (const TPost& post : FPosts) {
                seen += post.Message == WM_BACKUP_STATUS && post.WParam == status ? 1 : 0;
            }
            return seen >= count;
        });
    }

private:
    mutable std::mutex FLock;
    std::condition_variable FChanged;
    std::vector<TPost> FPosts;
    std::vector<std::string> FExceptions;
};

// A worker whose sleep between passes waits for the test. A pass that ends in the sleep has
// been counted; Step(n) releases the worker for n more passes and returns once they are done.
// Free running, the sleep returns at once and the pause check waits for real (up to 100 ms).
class TSteppedThread : public TBackupThread {
public:
    ~TSteppedThread() override { Stop(); }

    bool Step(int count = 1) {
        int target = 0;
        {
            std::lock_guard lock(FLock);
            FReleased = FPasses + count - 1;
            target = FPasses + count;
        }
        FChanged.notify_all();
        if (!FResumed) {
            FResumed = true;
            Resume();
        }
        return WaitForPasses(target);
    }
    bool WaitForPasses(int target) {
        std::unique_lock lock(FLock);
        return FChanged.wait_for(lock, WorkerTimeout, [&] { return FPasses >= target || FEnded; });
    }
    bool WaitEnded() {
        std::unique_lock lock(FLock);
        return FChanged.wait_for(lock, WorkerTimeout, [&] { return FEnded; });
    }
    void SetFreeRunning(bool value) {
        {
            std::lock_guard lock(FLock);
            FFreeRunning = value;
        }
        FChanged.notify_all();
    }
    // Ends the thread and waits for it (must run before the base destructor).
    void Stop() {
        {
            std::lock_guard lock(FLock);
            FStopping = true;
        }
        FChanged.notify_all();
        Terminate();
        WaitFor();
    }
    int Passes() const {
        std::lock_guard lock(FLock);
        return FPasses;
    }
    bool Ended() const {
        std::lock_guard lock(FLock);
        return FEnded;
    }
    // The nice value the thread body ran with (-100 before it ran).
    int WorkerNice() const {
        std::lock_guard lock(FLock);
        return FWorkerNice;
    }

protected:
    void Execute() override {
        {
            std::lock_guard lock(FLock);
            FWorkerNice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
        }
        TBackupThread::Execute();
        {
            std::lock_guard lock(FLock);
            FEnded = true;
        }
        FChanged.notify_all();
    }
    void SleepBetweenPasses(std::chrono::milliseconds) override {
        std::unique_lock lock(FLock);
        const int pass = ++FPasses;
        FChanged.notify_all();
        FChanged.wait(lock, [&] { return FFreeRunning || FStopping || FReleased >= pass; });
    }
    bool WaitForPauseRequest(std::chrono::milliseconds timeout) override {
        bool freeRunning = false;
        {
            std::lock_guard lock(FLock);
            freeRunning = FFreeRunning;
        }
        return SuspendEvent.WaitFor(freeRunning ? timeout : std::chrono::milliseconds(0));
    }

private:
    mutable std::mutex FLock;
    std::condition_variable FChanged;
    int FPasses = 0;
    int FReleased = 0;
    bool FResumed = false;
    bool FFreeRunning = false;
    bool FStopping = false;
    bool FEnded = false;
    int FWorkerNice = -100;
};

}  // namespace sejfko::test

#include "platform/termination_signals.hpp"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/exceptions.hpp"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace sejfko {

#ifndef _WIN32
namespace {
// The handler may only write to a pipe; everything else happens on the watcher's thread.
std::atomic<int> SignalPipeWrite{-1};

extern "C" void OnTerminationSignal(int signal) {
    const int saved = errno;
    const int fd = SignalPipeWrite.load();
    if (fd >= 0) {
        const char byte = signal == SIGINT ? 'i' : 't';
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = saved;
}
}  // namespace
#endif

#ifdef _WIN32
namespace {
std::atomic<void*> ConsoleWatcher{nullptr};
}  // namespace
#endif

struct TTerminationWatcher::TImpl {
    std::function<void()> OnRequest;
    std::mutex Mutex;
    std::condition_variable Changed;
    bool RequestedFlag = false;
    int FirstExitCode = 0;
    std::thread Thread;
#ifndef _WIN32
    int SignalPipe[2] = {-1, -1};
    int StopPipe[2] = {-1, -1};
    struct sigaction OldInt {};
    struct sigaction OldTerm {};
#endif

    // `interrupt`: Ctrl+C rather than a termination request.
    void Notify(bool interrupt) {
        {
            std::lock_guard<std::mutex> lock(Mutex);
            RequestedFlag = true;
            if (FirstExitCode == 0) {
                FirstExitCode = 128 + (interrupt ? 2 : 15);  // as a shell reports SIGINT, SIGTERM
            }
        }
        Changed.notify_all();
        if (OnRequest) {
            OnRequest();
        }
    }

#ifdef _WIN32
    static BOOL WINAPI OnConsoleControl(DWORD type) {
        if (auto* impl = static_cast<TImpl*>(ConsoleWatcher.load())) {
            impl->Notify(type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT);
            return TRUE;
        }
        return FALSE;
    }
#else
    void Run() {
        pollfd fds[2] = {{SignalPipe[0], POLLIN, 0}, {StopPipe[0], POLLIN, 0}};
        for (;;) {
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return;
            }
            if (fds[1].revents != 0) {
                return;
            }
            if (fds[0].revents != 0) {
                char buffer[16];
                const ssize_t count = ::read(SignalPipe[0], buffer, sizeof buffer);
                for (ssize_t index = 0; index < count; ++index) {
                    Notify(buffer[index] == 'i');
                }
            }
        }
    }
#endif
};

TTerminationWatcher::TTerminationWatcher(std::function<void()> onRequest)
    : FImpl(std::make_unique<TImpl>()) {
    FImpl->OnRequest = std::move(onRequest);
#ifdef _WIN32
    ConsoleWatcher.store(FImpl.get());
    SetConsoleCtrlHandler(TImpl::OnConsoleControl, TRUE);
#else
    if (::pipe2(FImpl->SignalPipe, O_CLOEXEC | O_NONBLOCK) != 0 ||
        ::pipe2(FImpl->StopPipe, O_CLOEXEC) != 0) {
        throw EOSError(errno, "Nelze sledovat signály ukončení.");
    }
    SignalPipeWrite.store(FImpl->SignalPipe[1]);
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, &FImpl->OldInt);
    ::sigaction(SIGTERM, &action, &FImpl->OldTerm);
    FImpl->Thread = std::thread([impl = FImpl.get()] { impl->Run(); });
#endif
}

TTerminationWatcher::~TTerminationWatcher() {
#ifdef _WIN32
    SetConsoleCtrlHandler(TImpl::OnConsoleControl, FALSE);
    ConsoleWatcher.store(nullptr);
#else
    ::sigaction(SIGINT, &FImpl->OldInt, nullptr);
    ::sigaction(SIGTERM, &FImpl->OldTerm, nullptr);
    SignalPipeWrite.store(-1);
    const char byte = 'q';
    [[maybe_unused]] const ssize_t written = ::write(FImpl->StopPipe[1], &byte, 1);
    if (FImpl->Thread.joinable()) {
        FImpl->Thread.join();
    }
    for (int fd :
         {FImpl->SignalPipe[0], FImpl->SignalPipe[1], FImpl->StopPipe[0], FImpl->StopPipe[1]}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
#endif
}

void TTerminationWatcher::Wait() {
    std::unique_lock<std::mutex> lock(FImpl->Mutex);
    FImpl->Changed.wait(lock, [this] { return FImpl->RequestedFlag; });
}

bool TTerminationWatcher::Requested() const {
    std::lock_guard<std::mutex> lock(FImpl->Mutex);
    return FImpl->RequestedFlag;
}

int TTerminationWatcher::ExitCode() const {
    std::lock_guard<std::mutex> lock(FImpl->Mutex);
    return FImpl->FirstExitCode;
}

}  // namespace sejfko

#pragma once
// The last resort of a front end that waits for its worker to end: armed with a bound, it ends
// the process at once when the bound passes before it is disarmed, so that a worker stuck
// somewhere no stop request reaches (a hung network file system, say) cannot keep the program
// from ending. Everything the program stores is replaced atomically, so ending at once loses
// nothing that was saved; at most a hidden temporary archive stays behind.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace sejfko {

class TExitWatchdog {
public:
    // How the process ends: the message on the standard error, then std::_Exit(code).
    using TExit = std::function<void(int code, const std::string& message)>;
    // Writes `message` (and a line break) to the standard error and ends the process with `code`
    // at once: no destructors, no flushing of C++ streams.
    [[noreturn]] static void ExitNow(int code, const std::string& message);

    // Tests give their own `exitNow`, which may return.
    explicit TExitWatchdog(TExit exitNow = ExitNow);
    // Disarms it and waits for its thread.
    ~TExitWatchdog();
    TExitWatchdog(const TExitWatchdog&) = delete;
    TExitWatchdog& operator=(const TExitWatchdog&) = delete;

    // Ends the process with `code` and `message` once `bound` has passed, unless disarmed first.
    // Only the first call arms it; any thread may call it.
    void Arm(std::chrono::milliseconds bound, int code, const std::string& message);
    void Disarm();

private:
    TExit FExit;
    std::mutex FLock;
    std::condition_variable FChanged;
    bool FArmed = false;
    bool FDisarmed = false;
    std::thread FThread;
};

}  // namespace sejfko

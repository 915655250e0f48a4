#include "cli/stop_requests.hpp"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace sejfko {
namespace {

// Records what would end the process, and when the first request was passed on.
class TExits {
public:
    TExitWatchdog::TExit Exit() {
        return [this](int code, const std::string& message) {
            std::lock_guard lock(FLock);
            Codes.push_back(code);
            Messages.push_back(message);
            FChanged.notify_all();
        };
    }
    std::function<void()> First() {
        return [this] {
            std::lock_guard lock(FLock);
            ++Firsts;
            FChanged.notify_all();
        };
    }
    // Waits (with a generous bound) until `done` holds under the lock.
    bool WaitUntil(const std::function<bool()>& done) {
        std::unique_lock lock(FLock);
        return FChanged.wait_for(lock, std::chrono::seconds(30), done);
    }

    std::mutex FLock;
    std::condition_variable FChanged;
    int Firsts = 0;
    std::vector<int> Codes;
    std::vector<std::string> Messages;
};

// The first request is passed on to the work; a second ends the process at once, with the status
// of the first (130 for SIGINT, 143 for SIGTERM), however the second came.
TEST(StopRequests, FirstStopsTheWorkSecondEndsAtOnce) {
    struct TCase {
        int First;
        int Second;
        int Code;
    };
    for (const TCase& c : {TCase{SIGINT, SIGTERM, 130}, TCase{SIGTERM, SIGINT, 143}}) {
        TExits exits;
        TStopRequests stop(exits.First(), std::chrono::hours(1), exits.Exit());
        EXPECT_FALSE(stop.Requested());
        EXPECT_EQ(stop.ExitCode(), 0);
        ::raise(c.First);
        stop.Wait();
        ASSERT_TRUE(exits.WaitUntil([&] { return exits.Firsts == 1; }));
        EXPECT_TRUE(stop.Requested());
        EXPECT_EQ(stop.ExitCode(), c.Code);
        EXPECT_TRUE(exits.Codes.empty());

        ::raise(c.Second);
        ASSERT_TRUE(exits.WaitUntil([&] { return !exits.Codes.empty(); }));
        EXPECT_EQ(exits.Codes, std::vector<int>{c.Code});
        EXPECT_EQ(exits.Messages[0], "Druhý požadavek na ukončení, Sejfko končí okamžitě.");
        EXPECT_EQ(exits.Firsts, 1);
    }
}

// Work that does not end within the bound after the first request ends the process anyway; work
// that ends in time (the object goes) never does.
TEST(StopRequests, WorkStillRunningAfterTheBoundEndsTheProcess) {
    TExits late;
    {
        TStopRequests stop(late.First(), std::chrono::milliseconds(1), late.Exit());
        ::raise(SIGTERM);
        ASSERT_TRUE(late.WaitUntil([&] { return !late.Codes.empty(); }));
        EXPECT_EQ(late.Codes, std::vector<int>{143});
        EXPECT_EQ(late.Messages[0], WorkerStopLateText);
    }

    TExits inTime;
    {
        TStopRequests stop(inTime.First(), std::chrono::hours(1), inTime.Exit());
        ::raise(SIGINT);
        ASSERT_TRUE(inTime.WaitUntil([&] { return inTime.Firsts == 1; }));
    }
    EXPECT_TRUE(inTime.Codes.empty());

    // Without a request nothing is armed.
    TExits none;
    { TStopRequests stop(none.First(), std::chrono::milliseconds(0), none.Exit()); }
    EXPECT_EQ(none.Firsts, 0);
    EXPECT_TRUE(none.Codes.empty());
}

}  // namespace
}  // namespace sejfko

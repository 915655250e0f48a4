#include "platform/cancel_event.hpp"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/socket_api.hpp"

namespace sejfko {
namespace {

// Every wait of the socket calls ends with 10004 once the event is set, whether it was set before
// the wait or while it waits, and long before its own limit.
TEST(CancelEvent, EndsSocketWaitsWhateverTheirLimit) {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    TCancelEvent idle;
    EXPECT_EQ(SocketWaitReadable(pair[0], 0, &idle), 0);  // nothing to read, no stop

    TCancelEvent stop;
    const auto start = std::chrono::steady_clock::now();
    std::thread stopper([&stop] { stop.Set(); });
    EXPECT_EQ(SocketWaitReadable(pair[0], 60000, &stop), -1);
    stopper.join();
    EXPECT_EQ(LastSocketError(), WsaInterrupted);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_TRUE(stop.IsSet());

    // Set once, it stays set for every later wait.
    stop.Set();
    SetLastSocketError(0);
    EXPECT_EQ(SocketWaitWritable(pair[0], -1, &stop), -1);
    EXPECT_EQ(LastSocketError(), WsaInterrupted);
    std::string ip;
    EXPECT_EQ(ResolveHostAddress("localhost", ip, &stop), WsaInterrupted);
    EXPECT_EQ(ResolveHostAddress("localhost", ip, &idle), 0);
    EXPECT_EQ(ip, "127.0.0.1");
    ::close(pair[0]);
    ::close(pair[1]);
}

}  // namespace
}  // namespace sejfko

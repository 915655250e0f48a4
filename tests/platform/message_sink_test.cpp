#include "platform/message_sink.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/auto_reset_event.hpp"
#include "platform/dynamic_library.hpp"

namespace sejfko {
namespace {

using namespace std::chrono_literals;

struct TPosted {
    unsigned Message;
    intptr_t WParam;
    intptr_t LParam;
};

class TRecordingSink : public TMessageSink {
public:
    void Post(unsigned message, intptr_t wParam, intptr_t lParam) override {
        std::lock_guard lock(FMutex);
        Posted.push_back({message, wParam, lParam});
    }
    void ShowException(const std::string& text) override {
        std::lock_guard lock(FMutex);
        Shown.push_back(text);
    }

    std::vector<TPosted> Posted;
    std::vector<std::string> Shown;

private:
    std::mutex FMutex;
};

TEST(MessageSink, PostsAndExceptionsReachTheRegisteredSink) {
    TRecordingSink sink;
    {
        TScopedMessageSink scoped(sink);
        PostToMain(WM_BACKUP_STATUS, bsArchiveProgress, -1);
        PostToMain(WM_LAST_RUN_CHANGED);
        ShowException(std::make_exception_ptr(std::runtime_error("Unable to write to /x")));
        ShowException(std::make_exception_ptr(42));
        ShowException(nullptr);
    }
    ASSERT_EQ(sink.Posted.size(), 2u);
    EXPECT_EQ(sink.Posted[0].Message, WM_BACKUP_STATUS);
    EXPECT_EQ(sink.Posted[0].WParam, bsArchiveProgress);
    EXPECT_EQ(sink.Posted[0].LParam, -1);
    EXPECT_EQ(sink.Posted[1].Message, WM_LAST_RUN_CHANGED);
    EXPECT_EQ(sink.Posted[1].WParam, 0);
    EXPECT_EQ(sink.Shown, (std::vector<std::string>{"Unable to write to /x", "Neznámá chyba"}));
    EXPECT_EQ(MessageSink(), nullptr);
}

TEST(MessageSink, ScopedSinksNest) {
    TRecordingSink outer;
    TRecordingSink inner;
    TScopedMessageSink scopedOuter(outer);
    {
        TScopedMessageSink scopedInner(inner);
        PostToMain(WM_SELECTION_MISSING);
    }
    PostToMain(WM_OPEN_OPTIONS);
    ASSERT_EQ(inner.Posted.size(), 1u);
    ASSERT_EQ(outer.Posted.size(), 1u);
    EXPECT_EQ(outer.Posted[0].Message, WM_OPEN_OPTIONS);
}

TEST(MessageSink, WithoutSinkPostsDropAndTextsGoToStderr) {
    ASSERT_EQ(MessageSink(), nullptr);
    PostToMain(WM_BACKUP_STATUS, bsIdle);
    testing::internal::CaptureStderr();
    ShowException(std::make_exception_ptr(std::logic_error("broken pass")));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "broken pass\n");
}

TEST(AutoResetEvent, OneSetReleasesOneWait) {
    TAutoResetEvent event;
    EXPECT_FALSE(event.WaitFor(0ms));
    event.Set();
    event.Set();  // does not count twice
    EXPECT_TRUE(event.WaitFor(0ms));
    EXPECT_FALSE(event.WaitFor(0ms));
    event.Set();
    EXPECT_TRUE(event.WaitFor(std::chrono::milliseconds::max()));
}

TEST(AutoResetEvent, WakesAWaiterOnAnotherThread) {
    TAutoResetEvent request;
    TAutoResetEvent reply;
    bool woke = false;
    std::thread waiter([&] {
        woke = request.WaitFor(60s);
        reply.Set();
        request.Wait();
    });
    request.Set();
    EXPECT_TRUE(reply.WaitFor(60s));
    request.Set();
    waiter.join();
    EXPECT_TRUE(woke);
}

#ifdef _WIN32
constexpr const char* SystemLibrary = "kernel32.dll";
constexpr const char* SystemSymbol = "GetCurrentProcessId";
#else
constexpr const char* SystemLibrary = "libz.so.1";
constexpr const char* SystemSymbol = "zlibVersion";
#endif

TEST(DynamicLibrary, LoadsASystemLibraryAndFindsItsSymbols) {
    TDynamicLibrary library;
    ASSERT_TRUE(library.Open(SystemLibrary)) << library.LastError();
    EXPECT_TRUE(library.IsOpen());
    ASSERT_NE(library.Symbol(SystemSymbol), nullptr);
#ifndef _WIN32
    using TVersion = const char* (*)();
    auto version = reinterpret_cast<TVersion>(library.Symbol("zlibVersion"));
    EXPECT_TRUE(version()[0] >= '1' && version()[0] <= '9');
#endif
    EXPECT_EQ(library.Symbol("NoSuchEntryPoint"), nullptr);
    library.Close();
    EXPECT_FALSE(library.IsOpen());
    EXPECT_EQ(library.Symbol(SystemSymbol), nullptr);
}

TEST(DynamicLibrary, MissingLibraryIsAnErrorNotACrash) {
    TDynamicLibrary library;
    ASSERT_TRUE(library.Open(SystemLibrary));
    EXPECT_FALSE(library.Open("/nonexistent/libzipengine.so"));
    EXPECT_FALSE(library.IsOpen());
    EXPECT_NE(library.LastError().find("libzipengine.so"), std::string::npos)
        << library.LastError();
}

}  // namespace
}  // namespace sejfko

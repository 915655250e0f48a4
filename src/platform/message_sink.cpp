#include "platform/message_sink.hpp"

#include <atomic>
#include <cstdio>

namespace sejfko {
namespace {

std::atomic<TMessageSink*> Sink{nullptr};

}  // namespace

void SetMessageSink(TMessageSink* sink) {
    Sink.store(sink, std::memory_order_release);
}

TMessageSink* MessageSink() {
    return Sink.load(std::memory_order_acquire);
}

void PostToMain(unsigned message, intptr_t wParam, intptr_t lParam) {
    if (TMessageSink* sink = MessageSink()) {
        sink->Post(message, wParam, lParam);
    }
}

void ShowExceptionText(const std::string& text) {
    if (TMessageSink* sink = MessageSink()) {
        sink->ShowException(text);
        return;
    }
    // No front end yet (or any more): the text must not be lost.
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

void ShowException(std::exception_ptr error) {
    if (!error) {
        return;
    }
    std::string text;
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        text = e.what();
    } catch (...) {
        text = "Neznámá chyba";
    }
    ShowExceptionText(text);
}

}  // namespace sejfko

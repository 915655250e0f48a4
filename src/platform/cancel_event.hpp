#pragma once
// A stop request that blocking waits can watch beside their own descriptors: once set it stays
// set, and its descriptor stays readable, so a wait that polls it ends at once, whenever it began.
// Set may be called from any thread (and from a signal handler); the waits that watch it are in
// socket_api.hpp.

#include <atomic>

namespace sejfko {

class TCancelEvent {
public:
    // Raises EOSError when the system has no descriptor to give.
    TCancelEvent();
    ~TCancelEvent();
    TCancelEvent(const TCancelEvent&) = delete;
    TCancelEvent& operator=(const TCancelEvent&) = delete;

    void Set();
    bool IsSet() const { return FSet.load(); }
    // The descriptor that becomes readable when the event is set (for poll).
    int Handle() const { return FRead; }

private:
    std::atomic<bool> FSet{false};
    int FRead = -1;
    int FWrite = -1;  // the same descriptor as FRead where the system has eventfd
};

}  // namespace sejfko

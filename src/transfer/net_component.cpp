#include "transfer/net_component.hpp"

namespace sejfko {

std::string NetStatusText(TNetStatus status, const std::string& argument) {
    switch (status) {
        case hsResolving:
            return "Resolving hostname " + argument + ".";
        case hsConnecting:
            return "Connecting to " + argument + ".";
        case hsConnected:
            return "Connected.";
        case hsDisconnecting:
            return "Disconnecting from " + argument + ".";
        case hsDisconnected:
            return "Not connected.";
        case hsText:
            return argument;
    }
    return argument;
}

void TNetComponent::BeginWork(TWorkMode mode, int64_t maximum) {
    TWorkInfo& work = FWork[mode];
    ++work.Level;
    if (work.Level == 1) {
        work.Count = 0;
        work.Max = maximum;
        if (OnWorkBegin) {
            OnWorkBegin(this, mode, maximum);
        }
    }
}

void TNetComponent::DoWork(TWorkMode mode, int64_t count) {
    TWorkInfo& work = FWork[mode];
    if (work.Level > 0) {
        work.Count += count;
        if (OnWork) {
            OnWork(this, mode, work.Count);
        }
    }
}

void TNetComponent::EndWork(TWorkMode mode) {
    TWorkInfo& work = FWork[mode];
    if (work.Level == 1 && OnWorkEnd) {
        // The level drops even when the handler throws, so a later begin starts afresh.
        struct TLower {
            int32_t& Level;
            ~TLower() { --Level; }
        } lower{work.Level};
        OnWorkEnd(this, mode);
        return;
    }
    if (work.Level > 0) {
        --work.Level;
    }
}

void TNetComponent::DoStatus(TNetStatus status, const std::string& argument) {
    if (OnStatus) {
        OnStatus(this, status, NetStatusText(status, argument));
    }
}

}  // namespace sejfko

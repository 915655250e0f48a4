#pragma once
// TNetComponent: the base of every connection object of the FTP client. It carries the status
// and work (progress) events and counts work per direction with nesting levels, so that one
// begin/end pair around a stream reports once however many layers report inside it. Counts and
// maxima are 64-bit: uploads over 4 GiB report correct percentages. Events run on the thread
// that does the work and may throw to abort it.

#include <cstdint>
#include <functional>
#include <string>

namespace sejfko {

enum TWorkMode : uint8_t { wmRead = 0, wmWrite = 1 };

enum TNetStatus : uint8_t {
    hsResolving = 0,
    hsConnecting = 1,
    hsConnected = 2,
    hsDisconnecting = 3,
    hsDisconnected = 4,
    hsText = 5,
};

class TNetComponent;

using TNetStatusEvent =
    std::function<void(TNetComponent* axSender, TNetStatus axStatus, const std::string& asText)>;
using TWorkEvent =
    std::function<void(TNetComponent* Sender, TWorkMode AWorkMode, int64_t AWorkCount)>;
using TWorkBeginEvent =
    std::function<void(TNetComponent* Sender, TWorkMode AWorkMode, int64_t AWorkCountMax)>;
using TWorkEndEvent = std::function<void(TNetComponent* Sender, TWorkMode AWorkMode)>;

class TNetComponent {
public:
    TNetComponent() = default;
    virtual ~TNetComponent() = default;
    TNetComponent(const TNetComponent&) = delete;
    TNetComponent& operator=(const TNetComponent&) = delete;

    // Raises the level; at level 1 resets the count, stores the maximum and fires OnWorkBegin.
    void BeginWork(TWorkMode mode, int64_t maximum = 0);
    // Adds to the count while a begin is open and fires OnWork with the cumulative count.
    void DoWork(TWorkMode mode, int64_t count);
    // Fires OnWorkEnd at level 1, then lowers the level.
    void EndWork(TWorkMode mode);
    // Formats the status text of `status` with `argument` and fires OnStatus when set.
    void DoStatus(TNetStatus status, const std::string& argument = "");

    int64_t WorkCount(TWorkMode mode) const { return FWork[mode].Count; }
    int64_t WorkCountMax(TWorkMode mode) const { return FWork[mode].Max; }
    int32_t WorkLevel(TWorkMode mode) const { return FWork[mode].Level; }

    TNetStatusEvent OnStatus;
    TWorkEvent OnWork;
    TWorkBeginEvent OnWorkBegin;
    TWorkEndEvent OnWorkEnd;

private:
    struct TWorkInfo {
        int64_t Count = 0;
        int64_t Max = 0;
        int32_t Level = 0;
    };
    TWorkInfo FWork[2];
};

// The status text of `status` with its argument ("Connecting to %s.", ...).
std::string NetStatusText(TNetStatus status, const std::string& argument);

}  // namespace sejfko

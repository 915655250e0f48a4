#include "backup/schedule.hpp"

#include <cmath>

namespace sejfko {
namespace {

// `value` on its own day (truncated toward zero) at the time of day of `inTime`.
TDateTime AtTimeOfDay(TDateTime value, TDateTime inTime) {
    return std::trunc(value) + (inTime - std::trunc(inTime));
}

}  // namespace

int32_t EffectiveRunEvery(int32_t runEvery) {
    return runEvery < 1 ? 1 : runEvery;
}

TDateTime PlanningTime(TDateTime value, TDateTime now) {
    return std::isfinite(now) && value > now ? now : value;
}

TDateTime NextRunTime(bool initial, TDateTime lastRun, TDateTime nextRun, int32_t runEvery,
                      TDateTime inTime, TDateTime now) {
    const double step = EffectiveRunEvery(runEvery);
    TDateTime next = AtTimeOfDay(PlanningTime(initial ? lastRun : nextRun, now) + step, inTime);
    if (initial || !std::isfinite(now) || !std::isfinite(next)) {
        return next;
    }
    // A program left off for years would otherwise step day by day; jump close, then step.
    if (now > next) {
        next += std::floor((now - next) / step) * step;
    }
    while (now > next) {
        next += step;
    }
    return next;
}

TDateTime ShownNextRun(TDateTime nextRun, TDateTime now) {
    return std::isfinite(now) && !(nextRun > now) ? now : nextRun;
}

bool PlannedBeyondReach(TDateTime nextRun, int32_t runEvery, TDateTime now) {
    // A plan made at `now` lies at most one interval ahead, on the following day at the latest.
    return std::isfinite(now) && nextRun > now + EffectiveRunEvery(runEvery) + 1.0;
}

bool IncrementalRunAllowed(TBackupKind kind, int32_t weekDay, int32_t monthDay, TDateTime inTime,
                           TDateTime lastRun, TDateTime now) {
    lastRun = PlanningTime(lastRun, now);
    int32_t completeDay = 0;
    int (*dayNumber)(TDateTime) = nullptr;
    int lastPossibleDay = 0;
    if (kind == bkIncWeek) {
        completeDay = weekDay;
        dayNumber = [](TDateTime value) { return DayOfTheWeek(value); };
        lastPossibleDay = 7;
    } else if (kind == bkIncMonth) {
        completeDay = monthDay;
        dayNumber = [](TDateTime value) { return DecodeDate(value).Day; };
        lastPossibleDay = 31;
    } else {
        return false;
    }
    const bool result = dayNumber(now) != completeDay;
    const bool dayCanOccur = completeDay >= 1 && completeDay <= lastPossibleDay;
    TDateTime day = AtTimeOfDay(lastRun + 1.0, inTime);
    // Every complete-backup day that exists recurs within 62 days (31 January to 31 March is
    // the longest gap); a longer walk (the never-marker: since 1900) would find one anyway, and a
    // day number that never occurs is never found. Either way the walk need not be taken.
    if (now - day > 62.0) {
        return dayCanOccur ? false : result;
    }
    while (now > day) {
        if (dayNumber(day) == completeDay) {
            return false;
        }
        day += 1.0;
    }
    return result;
}

}  // namespace sejfko

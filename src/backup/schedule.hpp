#pragma once
// The worker's schedule as pure functions of the option values and "now", so that every rule can
// be checked without a thread or a clock.

#include <cstdint>

#include "config/options.hpp"
#include "platform/date_time.hpp"

namespace sejfko {

// "Run every(Days)" as the worker uses it: below 1 counts as 1 (the catch-up needs a step).
int32_t EffectiveRunEvery(int32_t runEvery);

// A moment the schedule plans from: one later than `now` (a clock that was set ahead and then
// corrected left it there) counts as `now`, so the plan starts from the present instead of
// holding every backup back until that date.
TDateTime PlanningTime(TDateTime value, TDateTime now);

// The next-run moment. Initial: `lastRun` + the interval; otherwise `nextRun` + the interval,
// each taken as PlanningTime. Either way the time of day becomes that of `inTime`; only when
// not initial is the result moved on by whole intervals until it is no longer before `now`.
TDateTime NextRunTime(bool initial, TDateTime lastRun, TDateTime nextRun, int32_t runEvery,
                      TDateTime inTime, TDateTime now);

// True when `nextRun` lies further ahead of `now` than any plan made at `now` can reach (the
// clock went back since it was planned): it is to be planned again.
bool PlannedBeyondReach(TDateTime nextRun, int32_t runEvery, TDateTime now);

// The next-run moment as the user is told it: a plan that lies in the past starts at the
// worker's next pass, so it is shown as `now` (never as, say, the never-marker plus the interval
// that a schedule planned after a run that did not succeed holds).
TDateTime ShownNextRun(TDateTime nextRun, TDateTime now);

// True when an incremental backup may be made at `now`; false when a complete one is due: today
// is the complete-backup day, or a complete-backup day's `inTime` passed since the day after
// `lastRun` (as PlanningTime). Kinds other than the weekly (day 1 = Monday .. 7) and monthly
// (1..31) incremental ones always want a complete backup.
bool IncrementalRunAllowed(TBackupKind kind, int32_t weekDay, int32_t monthDay, TDateTime inTime,
                           TDateTime lastRun, TDateTime now);

}  // namespace sejfko

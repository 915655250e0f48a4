#pragma once
// MS-DOS packed date and time: date in the high 16 bits (year - 1980 in bits 9..15, month in
// bits 5..8, day in 0..4), time in the low 16 bits (hours 11..15, minutes 5..10, seconds / 2 in
// 0..4). Two-second resolution; times before 1980-01-01 00:00 clamp to that moment.

#include <cstdint>
#include <ctime>

#include "platform/date_time.hpp"

namespace sejfko {

int32_t DateTimeToFileDate(TDateTime value);
// Returns false for a stamp whose fields are not a valid date and time.
bool FileDateToDateTime(int32_t stamp, TDateTime& value);
// A file's modification time (seconds since the epoch) in local time, packed.
int32_t UnixTimeToFileDate(std::time_t seconds);

}  // namespace sejfko

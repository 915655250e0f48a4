#pragma once
// TDateTime: days since 30 December 1899 00:00 as a 64-bit float, the fraction being the time of
// day, in local time. Conversions follow the usual rules for negative values: the integral part
// is the day (counting back), the fraction's absolute value the time of day.

#include <cstdint>
#include <ctime>
#include <string>

namespace sejfko {

using TDateTime = double;

struct TDateParts {
    int Year = 0;   // 1..9999
    int Month = 0;  // 1..12
    int Day = 0;    // 1..31
};

struct TTimeParts {
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Millisecond = 0;
};

// Throws EConvertError ("Invalid argument to date encode") for an impossible date.
TDateTime EncodeDate(int year, int month, int day);
// Throws EConvertError ("Invalid argument to time encode") for an impossible time.
TDateTime EncodeTime(int hour, int minute, int second, int millisecond = 0);
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond = 0);
// A value outside 0001-01-01 .. 9999-12-31 (or not finite) decodes to all-zero parts; a time
// that rounds up to midnight belongs to the next day in both decodings.
TDateParts DecodeDate(TDateTime value);
// Rounds to the nearest millisecond, as the display of times does.
TTimeParts DecodeTime(TDateTime value);

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);
// ISO day of the week: 1 = Monday .. 7 = Sunday.
int DayOfTheWeek(TDateTime value);

// Local-time conversions between the system's time and TDateTime (the zone's summer-time
// rules apply). DateTimeToUnix drops the milliseconds; it returns -1 for a value outside the
// calendar or one that the C library cannot convert. A local time that occurs twice (autumn
// change) maps to either occurrence.
TDateTime UnixToDateTime(std::time_t seconds, long nanoseconds = 0);
std::time_t DateTimeToUnix(TDateTime value);

// Appends `value` in decimal, with leading zeros up to `width` digits.
void AppendPadded(std::string& out, int value, int width);

// "yyyymmdd_hhmm", the stamp in archive names.
std::string FormatArchiveStamp(TDateTime value);

}  // namespace sejfko

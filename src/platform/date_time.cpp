#include "platform/date_time.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <ctime>

#include "platform/exceptions.hpp"

namespace sejfko {
namespace {

constexpr std::int64_t MSecsPerDay = 86'400'000;
// 1899-12-30 counted from 1970-01-01.
constexpr std::int64_t UnixEpochOffset = 25'569;
// 0001-01-01 and 9999-12-31 as day numbers.
constexpr std::int64_t MinDay = -693'593;
constexpr std::int64_t MaxDay = 2'958'465;

// Proleptic Gregorian calendar by pure arithmetic (eras of 400 years), so that no C library
// range limits or time zone apply to dates.
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146'097 + doe - 719'468 + UnixEpochOffset;
}

TDateParts CivilFromDays(std::int64_t day) {
    const std::int64_t z = day - UnixEpochOffset + 719'468;
    const std::int64_t era = (z >= 0 ? z : z - 146'096) / 146'097;
    const std::int64_t doe = z - era * 146'097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36'524 - doe / 146'096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const std::int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    return {static_cast<int>(y), m, d};
}

// A value split into its day (counting back for negative values) and the time of day rounded
// to the millisecond. A fraction that rounds up to a whole day moves to the next day's
// midnight, so that no display ever shows 24:00:00.
struct TSplit {
    bool Valid = false;
    std::int64_t Day = 0;
    std::int64_t MSecs = 0;
};

TSplit Split(TDateTime value) {
    if (!std::isfinite(value) || value < static_cast<double>(MinDay - 1) ||
        value > static_cast<double>(MaxDay + 1)) {
        return {};
    }
    const double whole = std::trunc(value);
    TSplit result{true, static_cast<std::int64_t>(whole),
                  std::llround(std::fabs(value - whole) * MSecsPerDay)};
    if (result.MSecs >= MSecsPerDay) {
        result.MSecs = 0;
        // Day -1 at 24:00 is day 0 at 00:00, day 0 at 24:00 is day 1: always one day later.
        result.Day += 1;
    }
    if (result.Day < MinDay || result.Day > MaxDay) {
        return {};
    }
    return result;
}

TDateTime Combine(std::int64_t day, double timeOfDay) {
    const auto d = static_cast<double>(day);
    return day >= 0 ? d + timeOfDay : d - timeOfDay;
}

}  // namespace

void AppendPadded(std::string& out, int value, int width) {
    char buf[16];
    const auto res = std::to_chars(buf, buf + sizeof buf, value);
    for (auto n = res.ptr - buf; n < width; ++n) {
        out += '0';
    }
    out.append(buf, res.ptr);
}

bool IsLeapYear(int year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
    static constexpr int Days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) {
        return 0;
    }
    return month == 2 && IsLeapYear(year) ? 29 : Days[month - 1];
}

TDateTime EncodeDate(int year, int month, int day) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month)) {
        throw EConvertError("Invalid argument to date encode");
    }
    return static_cast<double>(DaysFromCivil(year, month, day));
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
        millisecond < 0 || millisecond > 999) {
        throw EConvertError("Invalid argument to time encode");
    }
    const std::int64_t ms =
        ((hour * 60LL + minute) * 60 + second) * 1000 + static_cast<std::int64_t>(millisecond);
    return static_cast<double>(ms) / MSecsPerDay;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond) {
    const TDateTime date = EncodeDate(year, month, day);
    const TDateTime time = EncodeTime(hour, minute, second, millisecond);
    return Combine(static_cast<std::int64_t>(date), time);
}

TDateParts DecodeDate(TDateTime value) {
    const TSplit split = Split(value);
    return split.Valid ? CivilFromDays(split.Day) : TDateParts{};
}

TTimeParts DecodeTime(TDateTime value) {
    const TSplit split = Split(value);
    if (!split.Valid) {
        return {};
    }
    std::int64_t ms = split.MSecs;
    TTimeParts t;
    t.Millisecond = static_cast<int>(ms % 1000);
    ms /= 1000;
    t.Second = static_cast<int>(ms % 60);
    ms /= 60;
    t.Minute = static_cast<int>(ms % 60);
    t.Hour = static_cast<int>(ms / 60);
    return t;
}

int DayOfTheWeek(TDateTime value) {
    const TSplit split = Split(value);
    // Outside the calendar there is no meaningful answer; fall back to the plain day number.
    const std::int64_t day = split.Valid ? split.Day : 0;
    // Day 0 (1899-12-30) was a Saturday, ISO day 6.
    const std::int64_t shifted = (day + 5) % 7;
    return static_cast<int>(shifted < 0 ? shifted + 7 : shifted) + 1;
}

TDateTime UnixToDateTime(std::time_t seconds, long nanoseconds) {
    std::tm local{};
    const double subSecond = static_cast<double>(nanoseconds) / 1e9;
    if (localtime_r(&seconds, &local) == nullptr) {
        // Far outside what the C library converts: keep the arithmetic in UTC rather than fail.
        const auto s = static_cast<std::int64_t>(seconds);
        const std::int64_t day = (s >= 0 ? s : s - 86'399) / 86'400;
        const double time = (static_cast<double>(s - day * 86'400) + subSecond) / 86'400.0;
        return Combine(day + UnixEpochOffset, time);
    }
    // A leap second is folded into the last ordinary second of its minute.
    const int second = local.tm_sec > 59 ? 59 : local.tm_sec;
    const std::int64_t day = DaysFromCivil(local.tm_year + 1900LL, local.tm_mon + 1, local.tm_mday);
    const double time =
        (((local.tm_hour * 60.0) + local.tm_min) * 60.0 + second + subSecond) / 86'400.0;
    return Combine(day, time);
}

std::time_t DateTimeToUnix(TDateTime value) {
    if (!Split(value).Valid) {
        return static_cast<std::time_t>(-1);
    }
    const TDateParts date = DecodeDate(value);
    const TTimeParts time = DecodeTime(value);
    std::tm local{};
    local.tm_year = date.Year - 1900;
    local.tm_mon = date.Month - 1;
    local.tm_mday = date.Day;
    local.tm_hour = time.Hour;
    local.tm_min = time.Minute;
    local.tm_sec = time.Second;
    local.tm_isdst = -1;  // let the zone rules decide whether summer time applies
    local.tm_wday = -1;   // set by a successful conversion
    const std::time_t seconds = std::mktime(&local);
    if (seconds == static_cast<std::time_t>(-1) && local.tm_wday == -1) {
        // Outside what the C library converts (on Windows anything before 1970): UTC, as
        // UnixToDateTime falls back to, so that the two still agree.
        return static_cast<std::time_t>((Split(value).Day - UnixEpochOffset) * 86'400 +
                                        time.Hour * 3600 + time.Minute * 60 + time.Second);
    }
    return seconds;
}

std::string FormatArchiveStamp(TDateTime value) {
    const TDateParts date = DecodeDate(value);
    const TTimeParts time = DecodeTime(value);
    std::string out;
    out.reserve(13);
    AppendPadded(out, date.Year, 4);
    AppendPadded(out, date.Month, 2);
    AppendPadded(out, date.Day, 2);
    out += '_';
    AppendPadded(out, time.Hour, 2);
    AppendPadded(out, time.Minute, 2);
    return out;
}

}  // namespace sejfko

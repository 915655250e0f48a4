#include "platform/dos_time.hpp"

namespace sejfko {

namespace {

constexpr int MinYear = 1980;
constexpr int MaxYear = 2107;  // seven bits of years

// 1980-01-01 00:00:00
constexpr uint32_t MinStamp = (0u << 25) | (1u << 21) | (1u << 16);
// 2107-12-31 23:59:58
constexpr uint32_t MaxStamp =
    (127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u;

int32_t Pack(int year, int month, int day, int hour, int minute, int second) {
    if (year < MinYear) {
        return static_cast<int32_t>(MinStamp);
    }
    if (year > MaxYear) {
        return static_cast<int32_t>(MaxStamp);
    }
    const uint32_t date = (static_cast<uint32_t>(year - MinYear) << 9) |
                          (static_cast<uint32_t>(month) << 5) | static_cast<uint32_t>(day);
    const uint32_t time = (static_cast<uint32_t>(hour) << 11) |
                          (static_cast<uint32_t>(minute) << 5) | static_cast<uint32_t>(second / 2);
    // Years from 2044 on set the top bit: the stamp is negative as a signed value.
    return static_cast<int32_t>((date << 16) | time);
}

}  // namespace

int32_t DateTimeToFileDate(TDateTime value) {
    const TDateParts date = DecodeDate(value);
    const TTimeParts time = DecodeTime(value);
    return Pack(date.Year, date.Month, date.Day, time.Hour, time.Minute, time.Second);
}

bool FileDateToDateTime(int32_t stamp, TDateTime& value) {
    const auto bits = static_cast<uint32_t>(stamp);
    const int year = static_cast<int>(bits >> 25) + MinYear;
    const int month = static_cast<int>((bits >> 21) & 0x0F);
    const int day = static_cast<int>((bits >> 16) & 0x1F);
    const int hour = static_cast<int>((bits >> 11) & 0x1F);
    const int minute = static_cast<int>((bits >> 5) & 0x3F);
    const int second = static_cast<int>(bits & 0x1F) * 2;
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59) {
        return false;
    }
    value = EncodeDate(year, month, day) + EncodeTime(hour, minute, second);
    return true;
}

int32_t UnixTimeToFileDate(std::time_t seconds) {
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr) {
        // Only times far outside any calendar fail to convert.
        return static_cast<int32_t>(seconds < 0 ? MinStamp : MaxStamp);
    }
    const long long year = static_cast<long long>(local.tm_year) + 1900;
    if (year < MinYear) {
        return static_cast<int32_t>(MinStamp);
    }
    if (year > MaxYear) {
        return static_cast<int32_t>(MaxStamp);
    }
    // A leap second (tm_sec 60) stays within the minute.
    const int second = local.tm_sec > 59 ? 59 : local.tm_sec;
    return Pack(static_cast<int>(year), local.tm_mon + 1, local.tm_mday, local.tm_hour,
                local.tm_min, second);
}

}  // namespace sejfko

#pragma once
// The user's locale as the environment names it (LC_ALL, then LC_NUMERIC or LC_TIME, then LANG),
// read through newlocale whatever the process's own locale is, so that every front end writes and
// reads `Options.ini` alike. Supplies the decimal separator of stored date-times and the full
// month names (nominative: "duben", not "dubna") of displayed dates.

#include <array>
#include <string>
#include <string_view>

#include "platform/date_time.hpp"

namespace sejfko {

class TLocaleFormat {
public:
    // The "C" conventions: '.' and English month names.
    TLocaleFormat();
    // Reads the named locale ("cs_CZ.UTF-8", "C", ...); an unknown name gives the "C" conventions.
    static TLocaleFormat FromName(const std::string& numericLocale, const std::string& timeLocale);
    // Reads the locale the environment names.
    static TLocaleFormat FromEnvironment();

    char DecimalSeparator() const { return FDecimalSeparator; }
    // month 1..12; UTF-8.
    const std::string& LongMonthName(int month) const;

    // General notation, at most 15 significant digits, the locale's decimal separator
    // (0.875 -> "0,875" under a Czech locale; 45000 -> "45000").
    std::string FormatFloat(double value) const;
    // The whole text must be a number (surrounding blanks allowed) written with a point, a comma
    // or this locale's separator: files written under another locale read alike, and a stored
    // value has no thousands separators to be confused with. Returns false otherwise and leaves
    // `value` untouched.
    bool TryParseFloat(std::string_view text, double& value) const;

    // "d.mmmm yyyy hh:nn:ss": day without leading zero, a full stop, the full month name, the
    // four-digit year and a 24-hour time with two digits each ("9.duben 1900 12:00:00").
    std::string FormatDisplay(TDateTime value) const;

private:
    char FDecimalSeparator = '.';
    std::array<std::string, 12> FMonthNames;
};

// The process-wide formatter, read from the environment on first use.
const TLocaleFormat& UserLocale();

}  // namespace sejfko

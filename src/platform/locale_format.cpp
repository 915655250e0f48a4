#include "platform/locale_format.hpp"

#ifndef _WIN32
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#endif

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace sejfko {
namespace {

constexpr std::array<const char*, 12> EnglishMonths = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};

#ifndef _WIN32
// Owns a locale object of newlocale; empty when the name is unknown on this system.
class TLocaleHandle {
public:
    TLocaleHandle(int mask, const std::string& name)
        : FLocale(name.empty() ? locale_t{} : newlocale(mask, name.c_str(), locale_t{})) {}
    ~TLocaleHandle() {
        if (FLocale != locale_t{}) {
            freelocale(FLocale);
        }
    }
    TLocaleHandle(const TLocaleHandle&) = delete;
    TLocaleHandle& operator=(const TLocaleHandle&) = delete;

    explicit operator bool() const { return FLocale != locale_t{}; }
    const char* Info(nl_item item) const { return nl_langinfo_l(item, FLocale); }

private:
    locale_t FLocale;
};

#endif

std::string FirstSetVariable(std::initializer_list<const char*> names) {
    for (const char* name : names) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return value;
        }
    }
    return "C";
}

#ifndef _WIN32
bool IsAscii(const char* text) {
    for (; *text != '\0'; ++text) {
        if (static_cast<unsigned char>(*text) >= 0x80) {
            return false;
        }
    }
    return true;
}

// Month names come in the locale's own character set; the rest of the program speaks UTF-8.
bool ToUtf8(const char* text, const char* codeset, std::string& out) {
    if (IsAscii(text) || std::strcmp(codeset, "UTF-8") == 0) {
        out = text;
        return true;
    }
    iconv_t cd = iconv_open("UTF-8", codeset);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return false;
    }
    std::string input = text;
    std::string output(input.size() * 4, '\0');
    char* in = input.data();
    char* outPtr = output.data();
    std::size_t inLeft = input.size();
    std::size_t outLeft = output.size();
    const bool ok = iconv(cd, &in, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    if (!ok || inLeft != 0) {
        return false;
    }
    output.resize(output.size() - outLeft);
    out = std::move(output);
    return true;
}

nl_item LongMonthItem(int index) {
#ifdef ALTMON_1
    // The form used when a month is named by itself: Czech "duben", not "dubna".
    return static_cast<nl_item>(ALTMON_1 + index);
#else
    return static_cast<nl_item>(MON_1 + index);
#endif
}

char ReadDecimalSeparator(const std::string& name) {
    const TLocaleHandle locale(LC_NUMERIC_MASK, name);
    if (!locale) {
        return '.';
    }
    const char* radix = locale.Info(RADIXCHAR);
    // A separator of several bytes (or one that could be part of a number) cannot be used
    // in the single-character form the stored values have.
    if (radix == nullptr || std::strlen(radix) != 1 || std::strchr("+-0123456789eE", *radix)) {
        return '.';
    }
    return *radix;
}

#endif

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Digits with at most one separator, at least one digit, then an optional exponent.
bool MatchesNumber(std::string_view text, char separator) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    auto isDigit = [&](std::size_t k) { return k < n && text[k] >= '0' && text[k] <= '9'; };
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        ++i;
    }
    std::size_t digits = 0;
    for (; isDigit(i); ++i) {
        ++digits;
    }
    if (i < n && text[i] == separator) {
        ++i;
        for (; isDigit(i); ++i) {
            ++digits;
        }
    }
    if (digits == 0) {
        return false;
    }
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-')) {
            ++i;
        }
        if (!isDigit(i)) {
            return false;
        }
        while (isDigit(i)) {
            ++i;
        }
    }
    return i == n;
}

}  // namespace

TLocaleFormat::TLocaleFormat() {
    for (std::size_t i = 0; i < FMonthNames.size(); ++i) {
        FMonthNames[i] = EnglishMonths[i];
    }
}

#ifndef _WIN32
TLocaleFormat TLocaleFormat::FromName(const std::string& numericLocale,
                                      const std::string& timeLocale) {
    TLocaleFormat format;
    format.FDecimalSeparator = ReadDecimalSeparator(numericLocale);
    // LC_CTYPE comes along for the character set the names are written in.
    const TLocaleHandle locale(LC_TIME_MASK | LC_CTYPE_MASK, timeLocale);
    if (!locale) {
        return format;
    }
    const char* codeset = locale.Info(CODESET);
    for (int i = 0; i < 12; ++i) {
        const char* name = locale.Info(LongMonthItem(i));
        if (name == nullptr || *name == '\0') {
            name = locale.Info(static_cast<nl_item>(MON_1 + i));
        }
        std::string converted;
        if (name != nullptr && *name != '\0' && ToUtf8(name, codeset, converted)) {
            format.FMonthNames[static_cast<std::size_t>(i)] = std::move(converted);
        }
    }
    return format;
}

#endif

TLocaleFormat TLocaleFormat::FromEnvironment() {
#ifdef _WIN32
    // Windows names the user's locale itself; the variables still win when set (tests).
    if (std::getenv("LC_ALL") == nullptr && std::getenv("LC_NUMERIC") == nullptr &&
        std::getenv("LC_TIME") == nullptr && std::getenv("LANG") == nullptr) {
        return FromName("", "");
    }
#endif
    return FromName(FirstSetVariable({"LC_ALL", "LC_NUMERIC", "LANG"}),
                    FirstSetVariable({"LC_ALL", "LC_TIME", "LANG"}));
}

const std::string& TLocaleFormat::LongMonthName(int month) const {
    static const std::string None;
    if (month < 1 || month > 12) {
        return None;
    }
    return FMonthNames[static_cast<std::size_t>(month - 1)];
}

std::string TLocaleFormat::FormatFloat(double value) const {
    // to_chars ignores the process locale, unlike printf.
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
    std::string out(buf, res.ptr);
    for (char& c : out) {
        if (c == '.') {
            c = FDecimalSeparator;
        }
    }
    return out;
}

bool TLocaleFormat::TryParseFloat(std::string_view text, double& value) const {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    char separator = 0;
    for (char candidate : {'.', ',', FDecimalSeparator}) {
        if (MatchesNumber(text, candidate)) {
            separator = candidate;
            break;
        }
    }
    if (separator == 0) {
        return false;
    }
    // from_chars knows only '.' and no leading '+'.
    std::string normal(text.substr(!text.empty() && text.front() == '+' ? 1 : 0));
    for (char& c : normal) {
        if (c == separator) {
            c = '.';
        }
    }
    double parsed = 0.0;
    const auto res = std::from_chars(normal.data(), normal.data() + normal.size(), parsed,
                                     std::chars_format::general);
    if (res.ec != std::errc{} || res.ptr != normal.data() + normal.size()) {
        return false;
    }
    value = parsed;
    return true;
}

std::string TLocaleFormat::FormatDisplay(TDateTime value) const {
    const TDateParts date = DecodeDate(value);
    const TTimeParts time = DecodeTime(value);
    std::string out;
    AppendPadded(out, date.Day, 1);
    out += '.';
    out += LongMonthName(date.Month);
    out += ' ';
    AppendPadded(out, date.Year, 4);
    out += ' ';
    AppendPadded(out, time.Hour, 2);
    out += ':';
    AppendPadded(out, time.Minute, 2);
    out += ':';
    AppendPadded(out, time.Second, 2);
    return out;
}

const TLocaleFormat& UserLocale() {
    static const TLocaleFormat format = TLocaleFormat::FromEnvironment();
    return format;
}

}  // namespace sejfko

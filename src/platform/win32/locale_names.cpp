// The locale's decimal separator and month names from Windows' own locale data. A POSIX-style
// name ("cs_CZ.UTF-8") is taken as the Windows name it stands for ("cs-CZ"); an empty name is
// the user's locale.

#include <windows.h>

#include <cstring>

#include "platform/locale_format.hpp"
#include "platform/win32/posix_internal.hpp"

namespace sejfko {
namespace {

// False for "C", "POSIX" and names Windows does not know.
bool WindowsName(const std::string& name, std::wstring& windowsName) {
    if (name.empty()) {
        windowsName.clear();
        return true;
    }
    if (name == "C" || name == "POSIX" || name.rfind("C.", 0) == 0) {
        return false;
    }
    std::string stem = name.substr(0, name.find_first_of(".@"));
    for (char& c : stem) {
        if (c == '_') {
            c = '-';
        }
    }
    windowsName = win32::Widen(stem);
    return IsValidLocaleName(windowsName.c_str()) != 0;
}

bool Info(const std::wstring& locale, LCTYPE type, std::string& text) {
    wchar_t buffer[128] = {};
    const wchar_t* name = locale.empty() ? LOCALE_NAME_USER_DEFAULT : locale.c_str();
    if (GetLocaleInfoEx(name, type, buffer, sizeof buffer / sizeof buffer[0]) <= 1) {
        return false;
    }
    text = win32::Narrow(buffer);
    return true;
}

}  // namespace

TLocaleFormat TLocaleFormat::FromName(const std::string& numericLocale,
                                      const std::string& timeLocale) {
    TLocaleFormat format;
    std::wstring locale;
    std::string text;
    if (WindowsName(numericLocale, locale) && Info(locale, LOCALE_SDECIMAL, text) &&
        text.size() == 1 && std::strchr("+-0123456789eE", text[0]) == nullptr) {
        format.FDecimalSeparator = text[0];
    }
    if (WindowsName(timeLocale, locale)) {
        // The nominative form ("duben"), as the names stand alone.
        for (int i = 0; i < 12; ++i) {
            if (Info(locale, static_cast<LCTYPE>(LOCALE_SMONTHNAME1 + i), text)) {
                format.FMonthNames[static_cast<std::size_t>(i)] = text;
            }
        }
    }
    return format;
}

}  // namespace sejfko

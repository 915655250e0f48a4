#include "cli/status_command.hpp"

#include <cstdio>

#include "cli/option_keys.hpp"

namespace sejfko {

namespace {

constexpr const char* Never = "Nikdy";
constexpr const char* PasswordMask = "********";

std::string TimeOfDay(TDateTime value) {
    TTimeParts time = DecodeTime(value);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", time.Hour % 24, time.Minute, time.Second);
    return text;
}

std::string DisplayValue(const TOptionKey& key, const TOptions& options,
                         const TLocaleFormat& locale) {
    std::string_view name = key.Key;
    if (name == KeyLastRun) {
        TDateTime value = options.LastRun();
        return value <= 100.0 ? Never : locale.FormatDisplay(value);
    }
    if (name == KeyLastTransfer) {
        TDateTime value = options.LastTransfer();
        return value == 0.0 ? Never : locale.FormatDisplay(value);
    }
    if (name == KeyInTime) {
        return TimeOfDay(options.InTime());
    }
    if (key.Type == TOptionType::Password) {
        // Each password key masks its own value: never a password on the screen or in a log.
        return key.Get(options, locale).empty() ? "" : PasswordMask;
    }
    return key.Get(options, locale);
}

}  // namespace

int RunStatusCommand(const TOptions& options, const TLocaleFormat& locale, std::ostream& out) {
    out << "Soubor nastavení: " << options.FileName() << "\n";
    for (const TOptionKey& key : OptionKeys()) {
        out << key.Key << ": " << DisplayValue(key, options, locale) << "\n";
    }
    return 0;
}

}  // namespace sejfko

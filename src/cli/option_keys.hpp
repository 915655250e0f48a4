#pragma once
// The keys of Options.ini as the command line names them: section, key, kind of value,
// and how to read or write the value through TOptions in its text form (the form Options.ini
// stores: integers in decimal, date-times as floats with the locale's decimal separator).

#include <string>
#include <string_view>
#include <vector>

#include "config/options.hpp"
#include "platform/exceptions.hpp"
#include "platform/locale_format.hpp"

namespace sejfko {

enum class TOptionType { Integer, DateTime, Text, Password, BackupKind, SavingKind };

// A value text the key cannot take; the message is Czech and names the key.
class EInvalidOptionValue : public Exception {
public:
    using Exception::Exception;
};

struct TOptionKey {
    const char* Section;
    const char* Key;
    TOptionType Type;
    // The value in its stored text form.
    std::string (*Get)(const TOptions& options, const TLocaleFormat& locale);
    // Parses `text` as Options.ini would and calls the setter. Throws EInvalidOptionValue for a
    // text that does not convert (nothing is written then) and whatever the setter throws.
    void (*Set)(TOptions& options, const TLocaleFormat& locale, const std::string& text);
};

// In the order of Options.ini.
const std::vector<TOptionKey>& OptionKeys();
// The key named `name` without regard to ASCII case; nullptr when there is none.
const TOptionKey* FindOptionKey(std::string_view name);

}  // namespace sejfko

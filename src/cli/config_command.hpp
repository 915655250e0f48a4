#pragma once
// `sejfko-cli config "KEY" [VALUE]`: prints one option in its stored text form, or writes it
// through the options setter (integers as Options.ini reads them, date-times as floats with the
// locale's decimal separator).

#include <ostream>
#include <string>
#include <vector>

#include "config/options.hpp"
#include "platform/locale_format.hpp"

namespace sejfko {

// `arguments`: the key and, to write, the value. Returns the exit code: 0 done, 1 the file could
// not be written, 2 wrong use (unknown key, invalid value, wrong number of arguments).
int RunConfigCommand(TOptions& options, const TLocaleFormat& locale,
                     const std::vector<std::string>& arguments, std::ostream& out,
                     std::ostream& err);

}  // namespace sejfko

#pragma once
// `sejfko-cli status`: every option and the three status values, one "Key: value" line each,
// keys named as in Options.ini so that scripts can pick them out.

#include <ostream>

#include "config/options.hpp"
#include "platform/locale_format.hpp"

namespace sejfko {

// Returns the exit code (0).
int RunStatusCommand(const TOptions& options, const TLocaleFormat& locale, std::ostream& out);

}  // namespace sejfko

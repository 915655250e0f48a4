#pragma once
// Czech texts for the operating system's error numbers, so that a reason shown to the user reads
// like the rest of the program. Kept free of the rest of the platform layer: the zip engine
// library is built with this file too.

#include <string>

namespace sejfko {

// The Czech text for an errno value; for a value without one, the system's own text with the
// number ("chyba systému 123: ...").
std::string CzechSystemErrorText(int code);

}  // namespace sejfko

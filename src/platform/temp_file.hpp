#pragma once
// Unique temporary files (mkstemp, mode 0600), hidden by their "." prefix.

#include <string>

namespace sejfko {

// Creates an empty file `directory`/`prefix`XXXXXX and returns its path. Throws EOSError.
std::string CreateUniqueTempFile(const std::string& directory, const std::string& prefix = ".fbk");
// Creates a private (0700) directory `parent`/`prefix`XXXXXX and returns its path. Throws
// EOSError.
std::string CreatePrivateTempDirectory(const std::string& parent, const std::string& prefix);

}  // namespace sejfko

#pragma once
// Which names of a server's listing the transfer may treat as archives. The listing comes from
// the server and is not trusted: only bare file names ending in ".fbk" pass, never a path, "." or
// "..", nor a name with control characters, so nothing outside the login directory is ever
// deleted.

#include <string>
#include <vector>

namespace sejfko {

constexpr const char* ArchiveMask = "*.fbk";

bool IsRemoteArchiveName(const std::string& name);
// The archive names of `lines`, each once, sorted as the retention rules sort them (archive
// names carry their stamp, so this is oldest first).
std::vector<std::string> RemoteArchiveNames(const std::vector<std::string>& lines);

}  // namespace sejfko

#include "platform/temp_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/exceptions.hpp"
#include "platform/fault_injection.hpp"
#include "platform/file_system.hpp"

namespace sejfko {

namespace {

// An empty directory means the current one, not the root.
std::string Pattern(const std::string& directory, const std::string& prefix) {
    return (directory.empty() ? std::string() : IncludeTrailingPathDelimiter(directory)) + prefix +
           "XXXXXX";
}

[[noreturn]] void Raise(int code, const std::string& what, const std::string& directory) {
    throw EOSError(code, "Unable to create a temporary " + what + " in " +
                             (directory.empty() ? std::string(".") : directory) + ": " +
                             SystemErrorMessage(code));
}

}  // namespace

std::string CreateUniqueTempFile(const std::string& directory, const std::string& prefix) {
    std::string path = Pattern(directory, prefix);
    if (const int fault = InjectedFault(TFileOperation::Create, path)) {
        Raise(fault, "file", directory);
    }
    const int handle = ::mkostemp(path.data(), O_CLOEXEC);
    if (handle < 0) {
        Raise(errno, "file", directory);
    }
    // mkstemp's 0600 is narrowed by the umask at most; make it exact.
    ::fchmod(handle, 0600);
    ::close(handle);
    return path;
}

std::string CreatePrivateTempDirectory(const std::string& parent, const std::string& prefix) {
    std::string path = Pattern(parent, prefix);
    if (const int fault = InjectedFault(TFileOperation::MakeDirectory, path)) {
        Raise(fault, "directory", parent);
    }
    if (::mkdtemp(path.data()) == nullptr) {
        Raise(errno, "directory", parent);
    }
    ::chmod(path.c_str(), 0700);
    return path;
}

}  // namespace sejfko

#include "platform/data_directory.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/exceptions.hpp"
#include "platform/fault_injection.hpp"
#include "platform/file_system.hpp"

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/posix_internal.hpp"
#endif

namespace sejfko {

namespace {

constexpr const char* LockFileName = "sejfko.lock";

[[maybe_unused]] std::string HomeDirectory() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        return home;
    }
    // Services and cron jobs may run without HOME.
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return {};
}

// The process id of the holder, as it wrote it into the lock file; empty when unknown.
std::string HolderProcessId(int handle) {
    char buffer[32] = {};
    const ssize_t count = ::pread(handle, buffer, sizeof buffer - 1, 0);
    std::string text = count > 0 ? std::string(buffer, static_cast<std::size_t>(count)) : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
        return {};
    }
    return text;
}

}  // namespace

std::string ExecutableDirectory() {
#ifdef _WIN32
    wchar_t buffer[32768];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, sizeof buffer / sizeof buffer[0]);
    const std::string path = win32::Narrow(std::wstring(buffer, length));
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
#else
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            return {};
        }
        if (static_cast<std::size_t>(length) < buffer.size()) {
            return ExtractFileDir(std::string(buffer.data(), static_cast<std::size_t>(length)));
        }
        buffer.resize(buffer.size() * 2);
    }
#endif
}

std::string DefaultDataDirectory() {
    const std::string executableDirectory = ExecutableDirectory();
    if (!executableDirectory.empty() &&
        FileExists(IncludeTrailingPathDelimiter(executableDirectory) + "Options.ini")) {
        return executableDirectory;
    }
#ifdef _WIN32
    const char* appData = std::getenv("APPDATA");
    if (appData != nullptr && appData[0] != '\0') {
        return std::string(appData) + "\\Sejfko";
    }
    return executableDirectory;
#else
    // A relative XDG_CONFIG_HOME is invalid by the XDG rules and is ignored.
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    if (configHome != nullptr && configHome[0] == PathDelimiter) {
        return IncludeTrailingPathDelimiter(configHome) + "sejfko";
    }
    const std::string home = HomeDirectory();
    if (home.empty()) {
        return executableDirectory;
    }
    return IncludeTrailingPathDelimiter(home) + ".config/sejfko";
#endif
}

std::string DefaultLocalTemporaryDirectory(const std::string& dataDirectory) {
#ifdef _WIN32
    (void)dataDirectory;
    return "C:\\Temp";
#else
    return IncludeTrailingPathDelimiter(dataDirectory) + "Temp";
#endif
}

std::string ResolveDataPath(const std::string& dataDirectory, const std::string& path) {
    if (path.empty() || IsAbsolutePath(path)) {
        return path;
    }
#ifdef _WIN32
    if (path.front() == '\\' || (path.size() > 1 && path[1] == ':')) {
        return path;
    }
#endif
    return IncludeTrailingPathDelimiter(dataDirectory) + path;
}

// ---- TDataDirectoryLock --------------------------------------------------------------------

TDataDirectoryLock::TDataDirectoryLock(std::string dataDirectory)
    : FDirectory(std::move(dataDirectory)) {}

TDataDirectoryLock::~TDataDirectoryLock() {
    Release();
}

bool TDataDirectoryLock::TryAcquire() {
    if (Held()) {
        return true;
    }
    FErrorText.clear();
    try {
        ForceDirectories(FDirectory);
    } catch (const EOSError& error) {
        FErrorText = "Nelze vytvořit datový adresář " + FDirectory + " (" +
                     SystemErrorMessage(error.Code) + ").";
        return false;
    }
    const std::string path = IncludeTrailingPathDelimiter(FDirectory) + LockFileName;
    const std::string busyText =
        "Sejfko už běží v jiném procesu nad stejným datovým adresářem (" + FDirectory + ")";
    int code = InjectedFault(TFileOperation::Lock, path);
    if (code == EWOULDBLOCK) {
        FErrorText = busyText + ".";
        return false;
    }
    int handle = -1;
    if (code == 0) {
        handle = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
        if (handle < 0) {
            code = errno;
        }
    }
    if (code == 0) {
        // flock belongs to the open file description: a second lock in this very process fails
        // as well, so the guard also catches a second front end started in-process by mistake.
        while (::flock(handle, LOCK_EX | LOCK_NB) != 0) {
            if (errno == EINTR) {
                continue;
            }
            code = errno;
            if (code == EWOULDBLOCK) {
                const std::string holder = HolderProcessId(handle);
                FErrorText = busyText + (holder.empty() ? "" : ", proces " + holder) + ".";
                ::close(handle);
                return false;
            }
            break;
        }
    }
    if (code != 0) {
        if (handle >= 0) {
            ::close(handle);
        }
        FErrorText =
            "Nelze zamknout datový adresář " + FDirectory + " (" + SystemErrorMessage(code) + ").";
        return false;
    }
    // For the curious: which process holds the lock. Failing to write it changes nothing.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(handle, 0) == 0) {
        [[maybe_unused]] const ssize_t written = ::pwrite(handle, pid.data(), pid.size(), 0);
    }
    FHandle = handle;
    return true;
}

void TDataDirectoryLock::Release() {
    if (FHandle >= 0) {
        // Leave the file in place: removing it would let a third process lock a new file while
        // a second one still waits on the old one.
        ::close(FHandle);
        FHandle = -1;
    }
}

}  // namespace sejfko

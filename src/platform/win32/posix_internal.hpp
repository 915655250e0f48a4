#pragma once
// Helpers shared by the POSIX-over-Win32 functions.

#include <windows.h>

#include <string>

namespace sejfko::win32 {

// UTF-8 to UTF-16 and back; invalid sequences become U+FFFD.
std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);
// The Win32 error as an errno value (set into errno by SetErrno).
int ErrnoOf(DWORD error);
int SetErrno(DWORD error);
// The path a name given relative to a directory descriptor (or AT_FDCWD) stands for; empty with
// errno EBADF for an unknown descriptor.
std::string PathAt(int dir, const char* name);
// Directory descriptors remember their path for the *at functions.
void RememberDirectory(int fd, const std::string& path);
void ForgetDirectory(int fd);
bool DirectoryPath(int fd, std::string& path);
// 100 ns ticks since 1601 to a timespec since 1970, and back.
struct timespec TimespecOf(const FILETIME& time);
FILETIME FileTimeOf(const struct timespec& time);
HANDLE HandleOf(int fd);

}  // namespace sejfko::win32

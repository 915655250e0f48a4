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
// A reparse point that stands for another name (a symbolic link, a junction) is what POSIX calls
// a link; other kinds (cloud placeholders, deduplicated files) are the files they hold. Tag 0
// (not given, as in Wine's listings) counts as a link.
inline bool IsLinkReparse(DWORD attributes, DWORD tag) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           (tag == 0 || IsReparseTagNameSurrogate(tag));
}
// True when the name's own directory entry is such a link: a handle opened on it may already be
// its target's (Wine opens links through).
bool NameIsLink(const std::wstring& path);
bool HandleIsLink(HANDLE handle, DWORD attributes);

}  // namespace sejfko::win32

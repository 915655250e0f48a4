#pragma once
// Read before every source of the Windows build: what the C and C++ libraries leave out here.
#include <errno.h>
#include <stddef.h>
#include <time.h>

#ifndef EDQUOT
#define EDQUOT 180
#endif
#ifndef ESTALE
#define ESTALE 181
#endif
#ifndef ETXTBSY
#define ETXTBSY 139
#endif
#ifndef ENOTSUP
#define ENOTSUP 129
#endif
#ifndef NAME_MAX
#define NAME_MAX 255
#endif

#ifdef __cplusplus
namespace std {
using ::timespec;
}
extern "C" {
#endif
// The GNU form: the text, in `buffer`.
char* strerror_r(int code, char* buffer, size_t size);
time_t timegm(struct tm* tm);
char* mkdtemp(char* pattern);
int setenv(const char* name, const char* value, int overwrite);
int unsetenv(const char* name);
int chdir(const char* path);
#ifdef __cplusplus
}
#endif

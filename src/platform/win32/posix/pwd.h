#pragma once
// No user database on Windows: lookups find nobody, and callers fall back to the environment.
#include "posix_types.h"

struct passwd {
    char* pw_name;
    char* pw_dir;
};

#ifdef __cplusplus
extern "C" {
#endif
inline int getpwuid_r(uid_t, struct passwd*, char*, size_t, struct passwd** result) {
    *result = 0;
    return 0;
}
#ifdef __cplusplus
}
#endif

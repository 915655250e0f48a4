#pragma once
// POSIX types the C runtime leaves out without its old names.
#include <corecrt.h>
#include_next <sys/types.h>

typedef _pid_t pid_t;
typedef long long off_t;
typedef unsigned int mode_t;
typedef unsigned long long ino_t;
typedef unsigned long long dev_t;
typedef unsigned int uid_t;
typedef unsigned int gid_t;
typedef unsigned int nlink_t;
typedef long long blkcnt_t;

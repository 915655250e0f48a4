#pragma once
// The part of POSIX the core and the engine use, over Win32's UTF-16 file interfaces, for the
// Windows build only. Paths are UTF-8 ("/" and "\" both separate); descriptors are the C
// runtime's, in binary mode, opened for shared reading, writing and deletion so that files can
// be renamed and deleted while open as on POSIX. A directory opened with O_DIRECTORY is a
// descriptor too, and the *at functions resolve names against its path (a symlink met on the
// way is not detected: Windows symlinks need privileges ordinary users lack).

#include <corecrt.h>
#include <errno.h>
#include <stddef.h>
#include <stdint.h>
#include <io.h>
#include <process.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "posix_types.h"

#ifdef __cplusplus
extern "C" {
#endif


#define O_RDONLY 0x0000
#define O_WRONLY 0x0001
#define O_RDWR 0x0002
#define O_ACCMODE 0x0003
#define O_APPEND 0x0008
#define O_CREAT 0x0100
#define O_TRUNC 0x0200
#define O_EXCL 0x0400
#define O_NOCTTY 0
#define O_NONBLOCK 0
#define O_CLOEXEC 0
#define O_NOFOLLOW 0x10000
#define O_DIRECTORY 0x20000

#define F_GETFD 1
#define F_SETFD 2
#define F_GETFL 3
#define F_SETFL 4
#define F_DUPFD 0
#define F_DUPFD_CLOEXEC 1030
#define FD_CLOEXEC 1

#define AT_FDCWD (-100)
#define AT_SYMLINK_NOFOLLOW 0x100
#define AT_REMOVEDIR 0x200
#define AT_EACCESS 0x200

#define LOCK_SH 1
#define LOCK_EX 2
#define LOCK_NB 4
#define LOCK_UN 8

#define POSIX_FADV_SEQUENTIAL 2
#define POSIX_FADV_DONTNEED 4
#define POSIX_FADV_NOREUSE 5

#ifndef UTIME_NOW
#define UTIME_NOW ((1l << 30) - 1l)
#define UTIME_OMIT ((1l << 30) - 2l)
#endif

#ifndef F_OK
#define F_OK 0
#define X_OK 1
#define W_OK 2
#define R_OK 4
#endif

struct stat {
    dev_t st_dev;
    ino_t st_ino;
    mode_t st_mode;
    nlink_t st_nlink;
    uid_t st_uid;
    gid_t st_gid;
    off_t st_size;
    blkcnt_t st_blocks;
    struct timespec st_atim;
    struct timespec st_mtim;
    struct timespec st_ctim;
};
#define st_atime st_atim.tv_sec
#define st_mtime st_mtim.tv_sec
#define st_ctime st_ctim.tv_sec

#undef S_IFMT
#undef S_IFDIR
#undef S_IFREG
#undef S_IFLNK
#undef S_ISDIR
#undef S_ISREG
#undef S_ISLNK
#define S_IFMT 0170000
#define S_IFDIR 0040000
#define S_IFREG 0100000
#define S_IFLNK 0120000
#define S_IFIFO 0010000
#define S_ISDIR(m) (((m) & S_IFMT) == S_IFDIR)
#define S_ISREG(m) (((m) & S_IFMT) == S_IFREG)
#define S_ISLNK(m) (((m) & S_IFMT) == S_IFLNK)
#define S_ISFIFO(m) (((m) & S_IFMT) == S_IFIFO)
#define S_ISSOCK(m) 0
#define S_ISCHR(m) 0
#define S_ISBLK(m) 0

struct statvfs {
    unsigned long f_bsize;
    unsigned long f_frsize;
    unsigned long long f_blocks;
    unsigned long long f_bfree;
    unsigned long long f_bavail;
};

struct dirent {
    ino_t d_ino;
    unsigned char d_type;
    char d_name[1024];  // UTF-8 of up to 255 UTF-16 units
};
#define DT_UNKNOWN 0
#define DT_DIR 4
#define DT_REG 8
#define DT_LNK 10
typedef struct SejfkoDir DIR;

#undef rename
#define rename sejfko_rename

int open(const char* path, int flags, ...);
int openat(int dir, const char* path, int flags, ...);
int close(int fd);
ssize_t read(int fd, void* buffer, size_t size);
ssize_t write(int fd, const void* buffer, size_t size);
ssize_t pread(int fd, void* buffer, size_t size, off_t offset);
ssize_t pwrite(int fd, const void* buffer, size_t size, off_t offset);
off_t lseek(int fd, off_t offset, int whence);
int fsync(int fd);
int fdatasync(int fd);
#undef ftruncate
#define ftruncate sejfko_ftruncate
int sejfko_ftruncate(int fd, off_t length);
int dup(int fd);
int fcntl(int fd, int command, ...);
int posix_fadvise(int fd, off_t offset, off_t length, int advice);
int isatty(int fd);
int fileno(FILE* file);

int stat(const char* path, struct stat* st);
int lstat(const char* path, struct stat* st);
int fstat(int fd, struct stat* st);
int fstatat(int dir, const char* path, struct stat* st, int flags);
int statvfs(const char* path, struct statvfs* st);

int unlink(const char* path);
int unlinkat(int dir, const char* path, int flags);
int rename(const char* from, const char* to);
int renameat(int fromDir, const char* from, int toDir, const char* to);
int mkdir(const char* path, mode_t mode);
int mkdirat(int dir, const char* path, mode_t mode);
int rmdir(const char* path);
int mkstemp(char* pattern);
int mkostemp(char* pattern, int flags);
char* mkdtemp(char* pattern);
int access(const char* path, int mode);
int faccessat(int dir, const char* path, int mode, int flags);
ssize_t readlink(const char* path, char* buffer, size_t size);
ssize_t readlinkat(int dir, const char* path, char* buffer, size_t size);
int symlink(const char* target, const char* path);
int symlinkat(const char* target, int dir, const char* path);
int utimensat(int dir, const char* path, const struct timespec times[2], int flags);
int futimens(int fd, const struct timespec times[2]);
int fchmod(int fd, mode_t mode);
int chmod(const char* path, mode_t mode);
int fchown(int fd, uid_t owner, gid_t group);
int flock(int fd, int operation);

DIR* opendir(const char* path);
DIR* fdopendir(int fd);
struct dirent* readdir(DIR* dir);
void rewinddir(DIR* dir);
int closedir(DIR* dir);
int dirfd(DIR* dir);

uid_t getuid(void);
uid_t geteuid(void);

#ifdef __cplusplus
}
#endif

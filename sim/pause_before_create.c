/* Preloaded into a command by the attack table: the first call that
 * creates, makes or renames a name holding HBAFW_PAUSE_AT creates the file
 * HBAFW_PAUSE_MARK and waits (up to 30 s) until the test removes it, so a
 * folder can be swapped between the entry point's checks and its write. It
 * changes no call's result; without both variables it does nothing. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

static void pause_at(const char* name) {
    static int paused;
    const char* at = getenv("HBAFW_PAUSE_AT");
    const char* mark = getenv("HBAFW_PAUSE_MARK");
    if (paused || at == NULL || mark == NULL || name == NULL || strstr(name, at) == NULL) return;
    paused = 1;
    int fd = (int)syscall(SYS_openat, AT_FDCWD, mark, O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) close(fd);
    struct timespec tick = {0, 20 * 1000 * 1000};
    struct stat st;
    for (int i = 0; i < 1500 && syscall(SYS_newfstatat, AT_FDCWD, mark, &st, 0) == 0; ++i) nanosleep(&tick, NULL);
}

#define NEXT(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))

static mode_t mode_of(int flags, va_list args) {
    return (flags & (O_CREAT | O_TMPFILE)) ? va_arg(args, mode_t) : 0;
}

/* open, open64, openat and openat64 alike: pause, then the next definition. */
#define OPEN_LIKE(name, params, args)                      \
    int name params {                                      \
        va_list rest;                                      \
        va_start(rest, flags);                             \
        mode_t mode = mode_of(flags, rest);                \
        va_end(rest);                                      \
        if (flags & O_CREAT) pause_at(path);               \
        return NEXT(name) args;                            \
    }

OPEN_LIKE(open, (const char* path, int flags, ...), (path, flags, mode))
OPEN_LIKE(open64, (const char* path, int flags, ...), (path, flags, mode))
OPEN_LIKE(openat, (int dir, const char* path, int flags, ...), (dir, path, flags, mode))
OPEN_LIKE(openat64, (int dir, const char* path, int flags, ...), (dir, path, flags, mode))

/* A C++ stream opens its file through fopen, whose own open is glibc's internal one. */
FILE* fopen(const char* path, const char* mode) {
    if (strpbrk(mode, "wa+") != NULL) pause_at(path);
    return NEXT(fopen)(path, mode);
}

FILE* fopen64(const char* path, const char* mode) {
    if (strpbrk(mode, "wa+") != NULL) pause_at(path);
    return NEXT(fopen64)(path, mode);
}

int mkdir(const char* path, mode_t mode) {
    pause_at(path);
    return NEXT(mkdir)(path, mode);
}

int mkdirat(int dir, const char* path, mode_t mode) {
    pause_at(path);
    return NEXT(mkdirat)(dir, path, mode);
}

int rename(const char* from, const char* to) {
    pause_at(to);
    return NEXT(rename)(from, to);
}

int renameat(int fromDir, const char* from, int toDir, const char* to) {
    pause_at(to);
    return NEXT(renameat)(fromDir, from, toDir, to);
}

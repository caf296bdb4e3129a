// A preloadable shim that makes one chosen file-system call fail.
//
//   FAULTFS_FAIL=CALL:N:ERRNO   the Nth call (from 1) of CALL fails with
//                               ERRNO (ENOSPC, EIO, EACCES, EPERM, EROFS);
//                               several, separated by commas
//   FAULTFS_LOG=PATH            appends one line per call: "CALL ARG"
//   FAULTFS_SLOW=MS             each write to a file sleeps MS milliseconds
//                               first, so that a test can signal the writer
//
// CALL is one of open, write, close, rename, fchmod, fsync, fallocate. A
// failed write, open, rename, fchmod or fallocate does nothing; a failed
// close still closes, as a real one does.
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

template <typename F>
F real(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

using open_fn = int (*)(const char*, int, ...);
using write_fn = ssize_t (*)(int, const void*, size_t);
using close_fn = int (*)(int);
using rename_fn = int (*)(const char*, const char*);
using fchmod_fn = int (*)(int, mode_t);
using fsync_fn = int (*)(int);
using fallocate_fn = int (*)(int, int, off_t, off_t);

void log_call(const char* call, const char* arg) {
    const char* path = std::getenv("FAULTFS_LOG");
    if (path == nullptr) return;
    static const auto real_open = real<open_fn>("open");
    static const auto real_write = real<write_fn>("write");
    static const auto real_close = real<close_fn>("close");
    const int fd = real_open(path, O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (fd < 0) return;
    char line[4200];
    const int n = std::snprintf(line, sizeof line, "%s %s\n", call, arg);
    if (n > 0) real_write(fd, line, static_cast<size_t>(n) < sizeof line ? static_cast<size_t>(n) : sizeof line - 1);
    real_close(fd);
}

int errno_named(const char* name) {
    static const struct { const char* name; int value; } table[] = {
        {"ENOSPC", ENOSPC}, {"EIO", EIO}, {"EACCES", EACCES}, {"EPERM", EPERM}, {"EROFS", EROFS}, {"EDQUOT", EDQUOT},
    };
    for (const auto& e : table)
        if (std::strcmp(e.name, name) == 0) return e.value;
    return EIO;
}

// Counts the call and says whether this one is to fail; sets errno if so.
bool should_fail(const char* call) {
    static int counts[8];
    static const char* const calls[] = {"open", "write", "close", "rename", "fchmod", "fsync", "fallocate"};
    int index = 0;
    while (index < 7 && std::strcmp(calls[index], call) != 0) ++index;
    const int nth = ++counts[index];
    const char* faults = std::getenv("FAULTFS_FAIL");
    // A comma-separated list: each fault names one call.
    for (const char* fault = faults; fault != nullptr; fault = std::strchr(fault, ',')) {
        if (*fault == ',') ++fault;
        char name[16];
        int n = 0;
        char error[16];
        if (std::sscanf(fault, "%15[a-z]:%d:%15[A-Z]", name, &n, error) != 3) return false;
        if (std::strcmp(name, call) != 0 || n != nth) continue;
        errno = errno_named(error);
        return true;
    }
    return false;
}

void log_fd(const char* call, int fd) {
    char arg[16];
    std::snprintf(arg, sizeof arg, "%d", fd);
    log_call(call, arg);
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list ap;
        va_start(ap, flags);
        mode = static_cast<mode_t>(va_arg(ap, int));
        va_end(ap);
    }
    char arg[4100];
    std::snprintf(arg, sizeof arg, "%s %d", path, (flags & O_ACCMODE) != O_RDONLY ? 1 : 0);
    log_call("open", arg);
    if (should_fail("open")) return -1;
    return real<open_fn>("open")(path, flags, mode);
}

int open64(const char* path, int flags, ...) __attribute__((alias("open")));

ssize_t write(int fd, const void* buf, size_t n) {
    if (fd > 2) log_fd("write", fd);  // the standard streams are not counted
    if (const char* slow = std::getenv("FAULTFS_SLOW"); slow != nullptr && fd > 2) {
        const long ms = std::atol(slow);
        const timespec pause{ms / 1000, ms % 1000 * 1000000};
        nanosleep(&pause, nullptr);
    }
    if (fd > 2 && should_fail("write")) return -1;
    return real<write_fn>("write")(fd, buf, n);
}

int close(int fd) {
    log_fd("close", fd);
    const int result = real<close_fn>("close")(fd);
    if (should_fail("close")) return -1;
    return result;
}

int rename(const char* from, const char* to) {
    char arg[8200];
    std::snprintf(arg, sizeof arg, "%s %s", from, to);
    log_call("rename", arg);
    if (should_fail("rename")) return -1;
    return real<rename_fn>("rename")(from, to);
}

int fchmod(int fd, mode_t mode) {
    log_fd("fchmod", fd);
    if (should_fail("fchmod")) return -1;
    return real<fchmod_fn>("fchmod")(fd, mode);
}

int fsync(int fd) {
    log_fd("fsync", fd);
    if (should_fail("fsync")) return -1;
    return real<fsync_fn>("fsync")(fd);
}

int fallocate(int fd, int mode, off_t offset, off_t length) {
    log_fd("fallocate", fd);
    if (should_fail("fallocate")) return -1;
    return real<fallocate_fn>("fallocate")(fd, mode, offset, length);
}

int fallocate64(int fd, int mode, off_t offset, off_t length) __attribute__((alias("fallocate")));

}  // extern "C"

#include "output/output.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "diag/diag.h"

namespace sheetcut {
namespace {

bool write_all(int fd, const std::uint8_t* data, std::int64_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<std::size_t>(size));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

// The temporary file of a replacement, removed by the handler of a signal
// that ends the run while it exists. Kept as plain bytes, since the handler
// may only make async-signal-safe calls.
char temp_name[PATH_MAX + 128];
volatile sig_atomic_t temp_exists = 0;

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ};

void remove_temp_and_end(int sig, siginfo_t* info, void*) {
    // A write past the file size limit: the kernel signals the writer, and
    // the write then fails with EFBIG, which is reported like any failed
    // write, removing the file.
    if (sig == SIGXFSZ && (info->si_code == SI_KERNEL || (info->si_code == SI_USER && info->si_pid == ::getpid())))
        return;
    if (temp_exists) ::unlink(temp_name);
    struct sigaction fallback{};
    fallback.sa_handler = SIG_DFL;
    ::sigaction(sig, &fallback, nullptr);
    ::raise(sig);  // delivered as the handler returns, as the signal would have been
}

// The ending signals held back for the life of the object.
struct Blocked {
    Blocked() {
        sigset_t set;
        sigemptyset(&set);
        for (const int sig : kEndingSignals) sigaddset(&set, sig);
        ::sigprocmask(SIG_BLOCK, &set, &old);
    }
    ~Blocked() { ::sigprocmask(SIG_SETMASK, &old, nullptr); }
    Blocked(const Blocked&) = delete;
    Blocked& operator=(const Blocked&) = delete;
    sigset_t old;
};

// Handles the ending signals for the whole of a write: a temporary file is
// removed, and a write past the file size limit fails with EFBIG instead of
// ending the run, whatever is written. The signals a caller ignores (nohup)
// stay ignored.
class SignalGuard {
public:
    SignalGuard() {
        struct sigaction handler{};
        handler.sa_sigaction = remove_temp_and_end;
        handler.sa_flags = SA_SIGINFO;
        sigemptyset(&handler.sa_mask);
        for (const int sig : kEndingSignals) sigaddset(&handler.sa_mask, sig);
        for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
            ::sigaction(kEndingSignals[i], nullptr, &saved_[i]);
            if (saved_[i].sa_handler != SIG_IGN) ::sigaction(kEndingSignals[i], &handler, nullptr);
        }
    }
    ~SignalGuard() {
        for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) ::sigaction(kEndingSignals[i], &saved_[i], nullptr);
    }
    SignalGuard(const SignalGuard&) = delete;
    SignalGuard& operator=(const SignalGuard&) = delete;

private:
    struct sigaction saved_[std::size(kEndingSignals)]{};
};

// A temporary file beside the file it will replace, removed unless it is
// renamed into place.
class TempFile {
public:
    TempFile() = default;
    ~TempFile() { remove(); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    // Creates a new file beside the one at dir + base, named after it with a
    // random suffix. Returns the descriptor, or -1 with errno set.
    int create(const std::string& dir, std::string base) {
        if (base.size() > 64) base.resize(64);  // keep within the name limit
        static unsigned counter = 0;
        for (int attempt = 0; attempt < 100; ++attempt) {
            const auto stamp = static_cast<unsigned long>(std::time(nullptr)) ^
                               (static_cast<unsigned long>(::getpid()) << 16) ^ (++counter * 2654435761u);
            char suffix[32];
            std::snprintf(suffix, sizeof suffix, ".%08lx.tmp", stamp & 0xffffffffUL);
            const std::string name = dir + "." + base + suffix;
            if (name.size() >= sizeof temp_name) {
                errno = ENAMETOOLONG;
                return -1;
            }
            // The name is recorded only once the file is ours: a signal in
            // between must not remove a file another program made.
            Blocked blocked;
            const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                std::memcpy(temp_name, name.c_str(), name.size() + 1);
                temp_exists = 1;
            }
            if (fd >= 0 || errno != EEXIST) return fd;
        }
        return -1;
    }

    // Renames the temporary file to target; false with errno set.
    bool rename_to(const std::string& target) {
        Blocked blocked;
        if (::rename(temp_name, target.c_str()) != 0) return false;
        temp_exists = 0;
        return true;
    }

    void remove() {
        Blocked blocked;
        const int error = errno;
        if (temp_exists) ::unlink(temp_name);
        temp_exists = 0;
        errno = error;
    }
};

std::string directory_of(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The path of the file open on fd, as the kernel resolved it; falls back to
// the given path where /proc is not mounted.
std::string resolved_path(int fd, const std::string& path) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[PATH_MAX];
    const ssize_t n = ::readlink(link, target, sizeof target);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof target || target[0] != '/') return path;
    return std::string(target, static_cast<std::size_t>(n));
}

bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Writes data through a descriptor the process holds, at its position.
void write_stream(int fd, const std::string& path, const std::uint8_t* data, std::int64_t size) {
    if (!write_all(fd, data, size)) fatal_io(path);
}

// Devices and FIFOs.
void write_direct(const std::string& path, const std::uint8_t* data, std::int64_t size) {
    Descriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666));
    if (file.get() < 0 || !write_all(file.get(), data, size) || !file.close()) fatal_io(path);
}

// Rewrites the regular file open on file. The space for the new content is
// reserved before a byte changes, so running out of it leaves the old
// content whole; where the file system cannot reserve, the write goes
// ahead unreserved. The old content is overwritten and only then cut to the
// new length.
void write_in_place(Descriptor& file, const std::string& path, const std::uint8_t* data, std::int64_t size) {
    const int fd = file.get();
    if (size > 0 && ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS)
        fatal_io(path);
    std::int64_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, data + done, static_cast<std::size_t>(size - done), static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            fatal_io(path);
        }
        done += n;
    }
    if (::ftruncate(fd, static_cast<off_t>(size)) != 0 || !file.close()) fatal_io(path);
}

// Replaces the regular file open for writing on file (whose status is old)
// with a new file made beside it; falls back to writing in place where the
// directory refuses the new file or the rename.
void replace_file(Descriptor& file, const struct stat& old, const std::string& path, const std::uint8_t* data,
                  std::int64_t size) {
    const std::string target = resolved_path(file.get(), path);
    const std::string dir = directory_of(target);
    TempFile temp;
    Descriptor out(temp.create(dir, target.substr(dir.size())));
    if (out.get() < 0) {
        if (errno == EACCES || errno == EPERM) return write_in_place(file, path, data, size);
        fatal_io(path);
    }
    // The new file keeps the old one's permission bits.
    if (!write_all(out.get(), data, size) || ::fchmod(out.get(), old.st_mode & 07777) != 0 || !out.close())
        fatal_io(path);
    // Replace only the file the path led to when the run began.
    struct stat now{};
    if (::lstat(target.c_str(), &now) != 0 || !same_file(now, old))
        fatal("%s: was replaced by another file during the run; left as it is.", path);
    if (temp.rename_to(target)) return;
    // A sticky directory lets only the owner replace a file, though others
    // may be allowed to write it.
    if (errno != EPERM) fatal_io(path);
    temp.remove();
    write_in_place(file, path, data, size);
}

// A file that does not exist yet: made whole beside where it goes, then
// renamed to it. Failures name path, the path the user gave.
void create_file(const std::string& path, const std::string& where, const std::uint8_t* data, std::int64_t size) {
    TempFile temp;
    const std::string dir = directory_of(where);
    Descriptor out(temp.create(dir, where.substr(dir.size())));
    if (out.get() < 0 || !write_all(out.get(), data, size) || !out.close() || !temp.rename_to(where))
        fatal_io(path);
}

// Where a dangling link at path leads, found by letting the kernel make the
// file through it (so its protections apply) and removing it again: the font
// is then made there whole, like any new file.
std::string link_target(const std::string& path) {
    const Descriptor made(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666));
    if (made.get() < 0) fatal_io(path);
    const std::string target = resolved_path(made.get(), path);
    ::unlink(target.c_str());
    return target;
}

}  // namespace

std::optional<int> held_descriptor(const std::string& path) {
    static constexpr struct {
        const char* name;
        int fd;
    } kStandard[] = {{"/dev/stdin", 0}, {"/dev/stdout", 1}, {"/dev/stderr", 2}};
    int fd = -1;
    for (const auto& s : kStandard)
        if (path == s.name) fd = s.fd;
    for (const char* prefix : {"/dev/fd/", "/proc/self/fd/", "/proc/thread-self/fd/"}) {
        const std::size_t n = std::strlen(prefix);
        if (path.compare(0, n, prefix) != 0 || path.size() == n) continue;
        const char* first = path.c_str() + n;
        const char* last = path.c_str() + path.size();
        int value = -1;
        const auto [end, error] = std::from_chars(first, last, value);
        if (error == std::errc() && end == last && *first != '-') fd = value;
    }
    if (fd < 0 || ::fcntl(fd, F_GETFD) == -1) return std::nullopt;
    return fd;
}

void write_output_file(const std::string& path, const std::uint8_t* data, std::int64_t size) {
    const SignalGuard signals;
    if (const auto fd = held_descriptor(path)) return write_stream(*fd, path, data, size);
    // stat and open follow links in the kernel, which refuses the links
    // that fs.protected_symlinks guards against.
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) fatal_io(path);
        struct stat link{};
        // A dangling link: the kernel follows it to name the new file.
        const bool dangling = ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
        return create_file(path, dangling ? link_target(path) : path, data, size);
    }
    if (!S_ISREG(st.st_mode)) return write_direct(path, data, size);
    // Opening it refuses a file the user may not write, and holds the file
    // for a write in place.
    Descriptor file(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
    if (file.get() < 0 || ::fstat(file.get(), &st) != 0) fatal_io(path);
    replace_file(file, st, path, data, size);
}

}  // namespace sheetcut

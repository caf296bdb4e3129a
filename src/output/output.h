// Writing an output file (a font, a sheet) whole or not at all.
//
// A regular file is replaced: the new content goes to a temporary file in
// the same directory, which is renamed over the old file, keeping its
// permission bits, so a failed or interrupted run leaves the old file as it
// was and no temporary file behind. Symbolic links are followed by the
// kernel, with its protections. A path that names a descriptor the process
// already holds (/dev/stdout, /dev/fd/N, /proc/self/fd/N) is written through
// that descriptor at its current position; other files that are not regular
// (FIFOs, devices) are opened and written directly.
//
// Only where the directory takes no new file, or refuses the rename (a
// sticky directory and a file of another owner that the user may write), is
// a regular file rewritten in place, after its new size has been reserved,
// so that a full disk still leaves it whole.
//
// Failures end the run through fatal_io or fatal, naming path.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <optional>
#include <string>

namespace sheetcut {

// Owns an open file descriptor and closes it when it goes out of scope, so
// a failure can be reported (the reporters read errno at once) and the run
// ended without closing by hand on every path. close() closes at once and
// says whether that worked, where a late write error may show.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

void write_output_file(const std::string& path, const std::uint8_t* data, std::int64_t size);

// The descriptor that path names when it is one this process holds open:
// /dev/stdin, /dev/stdout, /dev/stderr, /dev/fd/N, /proc/self/fd/N.
std::optional<int> held_descriptor(const std::string& path);

}  // namespace sheetcut

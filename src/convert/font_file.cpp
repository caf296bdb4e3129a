#include "convert/font_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "diag/diag.h"

namespace sheetcut {
namespace {

void put16(std::uint8_t* p, std::int32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

std::int64_t cell_bits(const FontSettings& s) {
    return std::int64_t{s.FontWidth} * s.FontHeight;
}

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

// Writes straight into the file at path: for devices and FIFOs, and where
// the directory takes no new file.
void write_in_place(const std::string& path, const FontImage& font) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) fatal_io(path);
    if (!write_all(fd, font.bytes.get(), font.fntsize)) {
        const int error = errno;
        ::close(fd);
        errno = error;
        fatal_io(path);
    }
    if (::close(fd) != 0) fatal_io(path);
}

std::string directory_of(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Follows symbolic links at path, so that the file a link points to is the
// one replaced, not the link.
std::string resolve_links(const std::string& path) {
    std::string p = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st{};
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
        char target[PATH_MAX];
        const ssize_t n = ::readlink(p.c_str(), target, sizeof target);
        if (n < 0) fatal_io(path);
        std::string next(target, static_cast<std::size_t>(n));
        p = !next.empty() && next.front() == '/' ? next : directory_of(p) + next;
    }
    errno = ELOOP;
    fatal_io(path);
}

// Creates a new file beside target, named after it with a random suffix.
// Returns the descriptor, or -1 with errno set.
int create_temp(const std::string& target, std::string& temp_path) {
    std::string base = target.substr(directory_of(target).size());
    if (base.size() > 64) base.resize(64);  // keep within the name limit
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto stamp = static_cast<unsigned long>(std::time(nullptr)) ^
                           (static_cast<unsigned long>(::getpid()) << 16) ^ (++counter * 2654435761u);
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%08lx.tmp", stamp & 0xffffffffUL);
        temp_path = directory_of(target) + "." + base + suffix;
        const int fd = ::open(temp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// Removes the temporary file and reports the failure that errno holds.
[[noreturn]] void abandon_temp(const std::string& temp_path, const std::string& path) {
    const int error = errno;
    ::unlink(temp_path.c_str());
    errno = error;
    fatal_io(path);
}

}  // namespace

std::int64_t record_length(const FontSettings& s) {
    return (cell_bits(s) + 7) / 8 + 1;
}

std::int64_t font_size(const FontSettings& s, std::int32_t count) {
    if (s.proportional()) return kHeaderSize + record_length(s) * count;
    return kHeaderSize + (cell_bits(s) * count + 7) / 8;
}

FontImage make_font_image(const FontSettings& s, std::int32_t count) {
    FontImage font;
    font.fntsize = font_size(s, count);
    // The file format and the trace count the image in 31 bits; a larger
    // font cannot be made, as if its memory could not be had.
    if (font.fntsize > INT32_MAX) {
        errno = ENOMEM;
        fatal_io("");
    }
    font.bytes = map_zeroed(static_cast<std::size_t>(font.fntsize));
    if (!font.bytes) fatal_io("");
    if (s.Verbose) trace("fntsize = %d\n", static_cast<int>(font.fntsize));
    fill_header(s, font.bytes.get());
    return font;
}

void fill_header(const FontSettings& s, std::uint8_t* image) {
    image[FontHeader::magic] = 'F';
    image[FontHeader::magic + 1] = 'F';
    image[FontHeader::version] = 1;
    image[FontHeader::header_size] = static_cast<std::uint8_t>(kHeaderSize);
    // The name up to and including its zero; an empty name is one zero byte.
    const std::size_t name_length = strnlen(s.FontName, sizeof s.FontName - 1);
    std::memcpy(image + FontHeader::name, s.FontName, name_length);
    image[FontHeader::name + name_length] = 0;
    put16(image + FontHeader::flags, s.Flags);
    const auto glyph_size = s.proportional() ? record_length(s) : cell_bits(s);
    put16(image + FontHeader::glyph_size, static_cast<std::int32_t>(glyph_size));
    image[FontHeader::width] = static_cast<std::uint8_t>(s.FontWidth);
    image[FontHeader::height] = static_cast<std::uint8_t>(s.FontHeight);
    image[FontHeader::gap_x] = static_cast<std::uint8_t>(s.GapX);
    image[FontHeader::gap_y] = static_cast<std::uint8_t>(s.GapY);
    put16(image + FontHeader::start_code, s.StartCode);
    put16(image + FontHeader::end_code, s.EndCode);
    image[FontHeader::cct_index] = static_cast<std::uint8_t>(s.CctIndex);
    std::memset(image + FontHeader::reserved, 0, kHeaderSize - FontHeader::reserved);
}

// A regular font file is replaced by renaming a complete new file over it,
// so a failed run leaves the old font as it was. Other hard links to the old
// file keep its content.
void write_font_file(const std::string& path, const FontImage& font) {
    trace_out().flush();  // the trace comes before the font when both go to stdout
    const std::string target = resolve_links(path);
    struct stat st{};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) return write_in_place(path, font);
    if (exists) {
        // Refuse a file the user may not write, as opening it would.
        const int probe = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
        if (probe < 0) fatal_io(path);
        ::close(probe);
    }
    std::string temp_path;
    const int fd = create_temp(target, temp_path);
    if (fd < 0) {
        if (errno == EACCES || errno == EPERM) return write_in_place(path, font);
        fatal_io(path);
    }
    // A new file gets 0666 less the umask from open; a replaced one keeps
    // its permission bits.
    if (!write_all(fd, font.bytes.get(), font.fntsize) ||
        (exists && ::fchmod(fd, st.st_mode & 07777) != 0)) {
        const int error = errno;
        ::close(fd);
        errno = error;
        abandon_temp(temp_path, path);
    }
    if (::close(fd) != 0) abandon_temp(temp_path, path);
    if (::rename(temp_path.c_str(), target.c_str()) != 0) abandon_temp(temp_path, path);
}

}  // namespace sheetcut

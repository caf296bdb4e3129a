#include "convert/sheet.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "convert/font_file.h"
#include "convert/packer.h"
#include "diag/diag.h"

namespace sheetcut {
namespace {

// A sheet read through POSIX calls, which tell end of file from a read
// error; the sheet is closed when the run is over.
class FileSource : public SheetSource {
public:
    explicit FileSource(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY)) {
        if (fd_ < 0) fatal_io(path);
    }
    ~FileSource() override { ::close(fd_); }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    Read read_exact(std::uint8_t* out, std::size_t n) override {
        return fill(out, n, [&](std::uint8_t* to, std::size_t want, std::size_t) {
            const ssize_t got = ::read(fd_, to, want);
            if (got > 0) pos_ += static_cast<std::uint64_t>(got);
            return got;
        });
    }

    bool skip_to(std::uint64_t offset) override {
        if (offset > static_cast<std::uint64_t>(LLONG_MAX)) {
            errno = EINVAL;
            return false;
        }
        if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) >= 0) {
            pos_ = offset;
            return true;
        }
        // A pipe cannot seek: read past the bytes instead. Running out of
        // them is left to the pixel read, which names the end of file.
        if (errno != ESPIPE) return false;
        std::uint8_t scratch[4096];
        while (pos_ < offset) {
            const auto chunk = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof scratch, offset - pos_));
            const Read r = read_exact(scratch, chunk);
            if (r == Read::error) return false;
            if (r == Read::end_of_file) return true;
        }
        return true;
    }

    std::optional<std::uint64_t> known_length() const override {
        struct stat st{};
        if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
        return static_cast<std::uint64_t>(st.st_size);
    }

    bool random_access() const override { return known_length().has_value(); }

    Read read_at(std::uint64_t offset, std::uint8_t* out, std::size_t n) override {
        return fill(out, n, [&](std::uint8_t* to, std::size_t want, std::size_t done) {
            return ::pread(fd_, to, want, static_cast<off_t>(offset + done));
        });
    }

private:
    // Calls read_some(to, want, done) until n bytes have come; a read of
    // nothing is the end of the file.
    template <typename ReadSome>
    static Read fill(std::uint8_t* out, std::size_t n, ReadSome read_some) {
        for (std::size_t done = 0; done < n;) {
            const ssize_t got = read_some(out + done, n - done, done);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) return Read::error;
            if (got == 0) return Read::end_of_file;
            done += static_cast<std::size_t>(got);
        }
        return Read::ok;
    }

    int fd_;
    std::uint64_t pos_ = 0;
};

// Reports a read of the sheet that did not deliver all it asked for.
void check_read(SheetSource::Read result, const std::string& path) {
    switch (result) {
    case SheetSource::Read::ok: return;
    case SheetSource::Read::end_of_file: fatal("%s: Unexpected end of file.", path);
    case SheetSource::Read::error: fatal_io(path);
    }
}

void read_or_die(SheetSource& source, std::uint8_t* out, std::size_t n, const std::string& path) {
    check_read(source.read_exact(out, n), path);
}

// True when cell divides dim. INT32_MIN / -1 has no 32-bit quotient, so that
// pair is refused like any size that does not divide.
bool divides(std::int32_t dim, std::int32_t cell) {
    if (cell == 0 || (cell == -1 && dim == INT32_MIN)) return false;
    return dim % cell == 0;
}

std::int64_t magnitude(std::int32_t v) {
    return v < 0 ? -static_cast<std::int64_t>(v) : v;
}

// Bytes the pixel rows need, in 64 bits so that no sheet can wrap it.
std::int64_t pixel_array_bytes(const BmpHeader& h) {
    return sheet_pixel_bytes(magnitude(h.biWidth), magnitude(h.biHeight));
}

void check_grid(const FontSettings& s, const BmpHeader& h, const std::string& path) {
    if (!divides(h.biWidth, s.FontWidth)) fatal("%s: must be divided with font width.", path);
    if (!divides(h.biHeight, s.FontHeight)) fatal("%s: must be divided with font height.", path);
    if (pixel_array_bytes(h) > INT32_MAX) fatal("%s: image is too large.", path);
}

void check_offsets(const FontSettings& s, std::int32_t nbmps) {
    if (s.StartOffset < 0 || s.StartOffset >= nbmps) fatal("start offset: out of range.");
    if (s.EndOffset < 0 || s.EndOffset >= nbmps) fatal("end offset: out of range.");
    if (s.StartOffset > s.EndOffset) fatal("start offset > end offset.");
}

// The font format stores the cell size in one byte each, and a proportional
// blank glyph must stay inside its own cell.
void check_sizes(const FontSettings& s, const BmpHeader& h, const std::string& path) {
    if (s.FontWidth < 1 || s.FontWidth > 255 || s.FontHeight < 1 || s.FontHeight > 255)
        fatal("font size: out of range.");
    if (h.biWidth < 1 || h.biHeight < 1) fatal("%s: Invalid image size.", path);
    if (s.proportional() && (s.DefaultWidth < 0 || s.DefaultWidth > s.FontWidth))
        fatal("default width: out of range.");
}

void read_headers(SheetSource& source, BmpHeader& h, const std::string& path) {
    std::uint8_t raw[kFileHeaderSize + kInfoHeaderSize];
    read_or_die(source, raw, kFileHeaderSize, path);
    decode_file_header(raw, h);
    if (h.bfType != 0x4D42) fatal("%s: Not a bitmap file.", path);
    read_or_die(source, raw + kFileHeaderSize, kInfoHeaderSize, path);
    decode_info_header(raw + kFileHeaderSize, h);
    if (h.biSize != kInfoHeaderSize) fatal("%s: Invalid BMIH.", path);
}

void read_pixels(SheetSource& source, const BmpHeader& h, SheetImage& img, const std::string& path) {
    if (h.bfOffBits < kFileHeaderSize + kInfoHeaderSize) fatal("%s: Invalid pixel data offset.", path);
    // A short file is found before the pixel block is allocated, so a tiny
    // file that claims a huge image costs nothing.
    const std::uint64_t needed = std::uint64_t{h.bfOffBits} + static_cast<std::uint64_t>(img.bmpsize);
    if (const auto length = source.known_length(); length && *length < needed)
        fatal("%s: Unexpected end of file.", path);
    img.path = path;
    if (source.random_access()) {
        img.source = &source;
        img.pixel_offset = h.bfOffBits;
        return;
    }
    const auto size = static_cast<std::size_t>(img.bmpsize);
    img.pixels = map_zeroed(size);
    if (!img.pixels) fatal_io("");
    if (!source.skip_to(h.bfOffBits)) fatal_io(path);
    read_or_die(source, img.pixels.get(), size, path);
}

}  // namespace

const std::uint8_t* SheetImage::range(std::int64_t first, std::int64_t length,
                                      std::vector<std::uint8_t>& scratch) const {
    if (pixels) return pixels.get() + first;
    const auto n = static_cast<std::size_t>(length);
    if (scratch.size() < n) scratch.resize(n);
    // End of file here means the sheet shrank since its length was checked.
    check_read(source->read_at(pixel_offset + static_cast<std::uint64_t>(first), scratch.data(), n), path);
    return scratch.data();
}

MemorySource::Read MemorySource::read_at(std::uint64_t offset, std::uint8_t* out, std::size_t n) {
    if (offset > size_ || size_ - offset < n) return Read::end_of_file;
    if (n != 0) std::memcpy(out, data_ + offset, n);
    return Read::ok;
}

MemorySource::Read MemorySource::read_exact(std::uint8_t* out, std::size_t n) {
    if (size_ - pos_ < n) {
        pos_ = size_;
        return Read::end_of_file;
    }
    if (n != 0) std::memcpy(out, data_ + pos_, n);
    pos_ += n;
    return Read::ok;
}

bool MemorySource::skip_to(std::uint64_t offset) {
    pos_ = static_cast<std::size_t>(std::min<std::uint64_t>(offset, size_));
    return true;
}

SheetImage load_sheet(const FontSettings& s, SheetSource& source, const std::string& path) {
    BmpHeader h;
    read_headers(source, h, path);
    if (s.Verbose) {
        trace("biWidth = %d\n", h.biWidth);
        trace("biHeight = %d\n", h.biHeight);
        trace("biPlanes = %d\n", h.biPlanes);
        trace("biBitCount = %d\n", h.biBitCount);
    }
    if (h.biBitCount != 8) fatal("%s: must be 8bpp at this time.", path);
    if (h.biCompression != 0) fatal("%s: must be uncompressed.", path);
    check_grid(s, h, path);

    SheetImage img;
    img.ncols = h.biWidth / s.FontWidth;
    img.nlines = h.biHeight / s.FontHeight;
    img.nbmps = static_cast<std::int32_t>(std::int64_t{img.ncols} * img.nlines);
    if (s.Verbose) {
        trace("ncols = %d\n", img.ncols);
        trace("nlines = %d\n", img.nlines);
        trace("nbmps = %d\n", img.nbmps);
    }
    check_offsets(s, img.nbmps);
    check_sizes(s, h, path);

    // From here the sheet and the cells have positive sizes, and the pixel
    // array is known to fit in 31 bits.
    img.bmpwidth = static_cast<std::int32_t>((h.biWidth + std::int64_t{3}) & ~std::int64_t{3});
    img.bmpheight = h.biHeight;
    img.bmpsize = std::int64_t{img.bmpwidth} * h.biHeight;
    img.bmpnext = img.bmpwidth * s.FontHeight;
    img.top_row = img.bmpsize - img.bmpwidth;
    if (s.Verbose) trace("bmpsize = %d\n", static_cast<int>(img.bmpsize));
    read_pixels(source, h, img, path);
    return img;
}

void convert_sheet(const FontSettings& s, const std::string& sheet_path, const std::string& font_path) {
    FileSource source(sheet_path);
    const SheetImage sheet = load_sheet(s, source, sheet_path);
    FontImage font = make_font_image(s, glyph_count(s));
    if (s.Verbose) {
        trace("bmpwidth = %d\n", sheet.bmpwidth);
        trace("bmpheight = %d\n", sheet.bmpheight);
        trace("bmpnext = %d\n", sheet.bmpnext);
    }
    pack_glyphs(s, sheet, font);
    write_font_file(font_path, font);
}

}  // namespace sheetcut

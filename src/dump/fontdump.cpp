#include "dump/fontdump.h"

#include <fcntl.h>
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "bmp/bmp.h"
#include "convert/font_file.h"
#include "diag/diag.h"
#include "output/output.h"

namespace fontdump {
namespace {

using sheetcut::FontHeader;

constexpr std::size_t kHeader = 32;
// sheetcut writes fonts of up to 2^31 - 1 bytes.
constexpr std::uint64_t kMaxFont = INT32_MAX;

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
    char buf[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, args);
    va_end(args);
    return buf;
}

bool bit(const std::vector<std::uint8_t>& b, std::uint64_t index) {
    return (b[static_cast<std::size_t>(index / 8)] >> (7 - index % 8)) & 1;
}

// Whether the fixed-width area holds ink after its first count glyphs: if it
// does, count cannot be the number sheetcut packed.
bool ink_after(const FontFile& f, std::int64_t count) {
    const auto first = static_cast<std::uint64_t>(count * f.width * f.height);
    for (std::uint64_t bit_index = first; bit_index < (f.bytes.size() - kHeader) * 8; ++bit_index)
        if (bit(f.bytes, kHeader * 8 + bit_index)) return true;
    return false;
}

// A fixed-width font does not record its glyph count, and its last byte
// may hold room for more glyphs smaller than 8 bits. The code range settles
// it when its count fills exactly the bytes the file holds and leaves no ink
// after its last glyph; else the count is the most glyphs the bytes hold.
// Either way, sheetcut packs that many glyphs back into the same bytes.
std::int64_t fixed_count(const FontFile& f, std::int64_t area) {
    const std::int64_t cell = std::int64_t{f.width} * f.height;
    const std::int64_t by_codes = std::int64_t{f.end_code} - f.start_code + 1;
    if (by_codes > 0 && (by_codes * cell + 7) / 8 == area && !ink_after(f, by_codes)) return by_codes;
    return area * 8 / cell;
}

void check_records(const FontFile& f) {
    for (std::int64_t i = 0; i < f.count; ++i) {
        const int w = f.glyph_width(i);
        if (w > f.width)
            throw DumpError(format("glyph %" PRId64 " (code %" PRIx64 "): width %d exceeds the font width %d", i,
                                   f.start_code + i, w, f.width));
    }
}

// Reads up to n bytes; fewer only at the end of the file.
std::size_t read_up_to(int fd, std::uint8_t* out, std::size_t n, const std::string& path) {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got = ::read(fd, out + done, n - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw DumpError(path + ": " + std::strerror(errno));
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

// Checks the header before reading more, then reads only as much as a font
// file can hold: a file that is no font, or a stream without end, costs
// 32 bytes or stops at the format's limit.
FontFile read_font(const std::string& path) {
    const sheetcut::Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) throw DumpError(path + ": " + std::strerror(errno));
    std::vector<std::uint8_t> bytes(kHeader);
    bytes.resize(read_up_to(file.get(), bytes.data(), kHeader, path));
    try {
        check_header(bytes);
    } catch (const DumpError& e) {
        throw DumpError(path + ": " + e.what());
    }
    struct stat st{};
    if (::fstat(file.get(), &st) == 0 && S_ISREG(st.st_mode)) {
        if (static_cast<std::uint64_t>(st.st_size) > kMaxFont) throw DumpError(path + ": too large for a font file");
        bytes.reserve(static_cast<std::size_t>(st.st_size));
    }
    std::uint8_t chunk[1 << 16];
    while (const std::size_t n = read_up_to(file.get(), chunk, sizeof chunk, path)) {
        if (bytes.size() + n > kMaxFont) throw DumpError(path + ": too large for a font file");
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    try {
        return parse_font(std::move(bytes));
    } catch (const DumpError& e) {
        throw DumpError(path + ": " + e.what());
    }
}

// The width sheetcut must give blank cells: that of the first blank glyph.
// Returns -1 when the blank glyphs disagree, since one -p value cannot
// give them all.
int blank_width(const FontFile& f) {
    int found = 0;
    bool seen = false;
    for (std::int64_t i = 0; i < f.count; ++i) {
        const std::size_t bitmap = kHeader + static_cast<std::size_t>(i * f.record_length) + 1;
        bool blank = true;
        for (std::int64_t k = 0; k < f.record_length - 1 && blank; ++k)
            blank = f.bytes[bitmap + static_cast<std::size_t>(k)] == 0;
        if (!blank) continue;
        const int w = f.glyph_width(i);
        if (seen && w != found) return -1;
        found = w;
        seen = true;
    }
    return found;
}

constexpr const char* kUsage =
    "Usage: fontdump [-H] [-c code] font-file\n"
    "       fontdump -b sheet.bmp [-w cells] font-file\n"
    "\t-H\tshow the header alone\n"
    "\t-c code\tshow the glyph of one code (in hex)\n"
    "\t-b file\twrite the glyphs into an 8-bit BMP sheet\n"
    "\t-w n\tcells per row of the sheet (default 16)\n";

[[noreturn]] void usage() {
    std::fputs(kUsage, stderr);
    throw DumpError("");
}

// --help before the operands, or before a "--" that ends the options.
bool asks_for_help(int argc, char** argv) {
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
        if (std::strcmp(argv[i], "--help") == 0) return true;
    return false;
}

bool parse_number(const char* text, int base, long& out) {
    char* end = nullptr;
    errno = 0;
    out = std::strtol(text, &end, base);
    return errno == 0 && end != text && *end == '\0';
}

void write_stdout(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

}  // namespace

int FontFile::glyph_width(std::int64_t i) const {
    if (!proportional) return width;
    return bytes[kHeader + static_cast<std::size_t>(i * record_length)];
}

bool FontFile::ink(std::int64_t i, int x, int y) const {
    if (!proportional) {
        const std::int64_t cell = std::int64_t{width} * height;
        return bit(bytes, kHeader * 8 + static_cast<std::uint64_t>(i * cell + std::int64_t{y} * width + x));
    }
    const std::uint64_t bitmap = kHeader + static_cast<std::uint64_t>(i * record_length) + 1;
    return bit(bytes, bitmap * 8 + static_cast<std::uint64_t>(y * glyph_width(i) + x));
}

void check_header(const std::vector<std::uint8_t>& b) {
    if (b.size() < kHeader) throw DumpError(format("truncated header: %zu bytes of 32", b.size()));
    if (b[0] != 'F' || b[1] != 'F') throw DumpError("not a font file: no \"FF\" magic");
    if (b[FontHeader::version] != 1) throw DumpError(format("unsupported version %d", b[FontHeader::version]));
    if (b[FontHeader::header_size] != kHeader)
        throw DumpError(format("unsupported header size %d", b[FontHeader::header_size]));
    const int flags = sheetcut::le16(&b[FontHeader::flags]);
    if ((flags & ~sheetcut::FLAG_PROPORTIONAL) != 0) throw DumpError(format("unknown flags 0x%04x", flags));
    if (b[FontHeader::width] == 0) throw DumpError("font width is 0");
    if (b[FontHeader::height] == 0) throw DumpError("font height is 0");
}

FontFile parse_font(std::vector<std::uint8_t> bytes) {
    check_header(bytes);
    FontFile f;
    f.bytes = std::move(bytes);
    const auto& b = f.bytes;
    const int flags = sheetcut::le16(&b[FontHeader::flags]);
    for (int i = 0; i < 3 && b[static_cast<std::size_t>(FontHeader::name + i)] != 0; ++i)
        f.name.push_back(static_cast<char>(b[static_cast<std::size_t>(FontHeader::name + i)]));
    f.proportional = (flags & sheetcut::FLAG_PROPORTIONAL) != 0;
    f.width = b[FontHeader::width];
    f.height = b[FontHeader::height];
    f.gap_x = b[FontHeader::gap_x];
    f.gap_y = b[FontHeader::gap_y];
    f.glyph_size = sheetcut::le16(&b[FontHeader::glyph_size]);
    f.start_code = sheetcut::le16(&b[FontHeader::start_code]);
    f.end_code = sheetcut::le16(&b[FontHeader::end_code]);
    f.cct_index = b[FontHeader::cct_index];

    const std::int64_t cell = std::int64_t{f.width} * f.height;
    const auto area = static_cast<std::int64_t>(b.size() - kHeader);
    if (f.proportional) {
        f.record_length = (cell + 7) / 8 + 1;
        if (f.glyph_size != (f.record_length & 0xffff))
            throw DumpError(format("glyph size %d is not the %" PRId64 "-byte record of %d x %d glyphs",
                                   f.glyph_size, f.record_length, f.width, f.height));
        if (area % f.record_length != 0)
            throw DumpError(format("glyph area of %" PRId64 " bytes is not a whole number of %" PRId64 "-byte records",
                                   area, f.record_length));
        f.count = area / f.record_length;
        check_records(f);
    } else {
        if (f.glyph_size != (cell & 0xffff))
            throw DumpError(format("glyph size %d is not the %" PRId64 " bits of %d x %d glyphs", f.glyph_size, cell,
                                   f.width, f.height));
        f.count = fixed_count(f, area);
    }
    return f;
}

std::string header_text(const FontFile& f) {
    std::string name;
    for (const char c : f.name) name += c >= 0x20 && c < 0x7f ? std::string(1, c) : format("\\x%02x", c & 0xff);
    return format("name: %s\n", f.name.empty() ? "(none)" : name.c_str()) +
           format("kind: %s\n", f.proportional ? "proportional" : "fixed-width") +
           format("width: %d\nheight: %d\ngap: %d,%d\n", f.width, f.height, f.gap_x, f.gap_y) +
           format("glyph size: %d %s\n", f.glyph_size, f.proportional ? "bytes" : "bits") +
           format("codes: %x-%x\ncct index: %d\nglyphs: %" PRId64 "\n", f.start_code, f.end_code, f.cct_index,
                  f.count);
}

std::string glyph_text(const FontFile& f, std::int64_t i) {
    const int w = f.glyph_width(i);
    std::string text = format("code %" PRIx64, f.start_code + i);
    if (f.proportional) text += format(" width %d", w);
    text += '\n';
    for (int y = 0; y < f.height; ++y) {
        for (int x = 0; x < w; ++x) text += f.ink(i, x, y) ? 'o' : ' ';
        text += '\n';
    }
    return text + '\n';
}

std::vector<std::uint8_t> sheet_bmp(const FontFile& f, int per_row) {
    if (f.count == 0) throw DumpError("no glyphs to draw");  // the caller adds the path
    const std::int64_t columns = std::min<std::int64_t>(per_row, f.count);
    const std::int64_t rows = (f.count + columns - 1) / columns;
    const std::int64_t sheet_w = columns * f.width, sheet_h = rows * f.height;
    if (sheetcut::sheet_pixel_bytes(sheet_w, sheet_h) > INT32_MAX) throw DumpError("too many glyphs for one sheet");
    sheetcut::SheetBmp sheet = sheetcut::make_sheet(sheet_w, sheet_h);
    for (std::int64_t i = 0; i < f.count; ++i) {
        const std::int64_t left = i % columns * f.width, top = i / columns * f.height;
        const int w = f.glyph_width(i);
        for (int y = 0; y < f.height; ++y) {
            std::uint8_t* row = sheet.row(top + y) + left;
            for (int x = 0; x < w; ++x) row[x] = f.ink(i, x, y) ? 1 : 0;
        }
    }
    return std::move(sheet.bytes);
}

std::string sheetcut_options(const FontFile& f) {
    std::string options = format("-s%d,%d -c%x,%x -o0,%" PRIx64, f.width, f.height, f.start_code, f.end_code,
                                 f.count - 1);
    if (f.gap_x != 0 || f.gap_y != 0) options += format(" -g%d,%d", f.gap_x, f.gap_y);
    if (f.name.size() == 3) options += " -n" + sheetcut::shell_quote(f.name);
    if (f.cct_index != 0) options += format(" -t%d", f.cct_index);
    if (f.proportional) options += format(" -p%d", std::max(0, blank_width(f)));
    return options;
}

namespace {

// Draws the font back into a sheet at sheet_path and prints the sheetcut
// command that turns the sheet into the same font.
void draw_sheet(const FontFile& font, const std::string& path, const std::string& sheet_path, long per_row) {
    std::vector<std::uint8_t> sheet;
    try {
        sheet = sheet_bmp(font, static_cast<int>(per_row));
    } catch (const DumpError& e) {
        throw DumpError(path + ": " + e.what());
    }
    sheetcut::write_output_file(sheet_path, sheet.data(), static_cast<std::int64_t>(sheet.size()));
    write_stdout(format("%s: %" PRId64 " glyphs, %ld to a row\n", sheet_path.c_str(), font.count,
                        std::min<long>(per_row, static_cast<long>(font.count))));
    write_stdout("sheetcut " + sheetcut_options(font) + " " + sheetcut::shell_quote(sheet_path) + " FONT\n");
    if (font.proportional && blank_width(font) < 0)
        std::fprintf(stderr, "fontdump: %s: blank glyphs have different widths; sheetcut gives them all the -p width\n",
                     path.c_str());
}

void dump(int argc, char** argv) {
    bool header_only = false;
    const char* code_text = nullptr;
    const char* sheet_path = nullptr;
    long per_row = 16;
    optind = 1;
    opterr = 0;  // the usage block says it all; "+": options end at the first operand
    for (int opt; (opt = getopt(argc, argv, "+:Hc:b:w:")) != -1;) {
        switch (opt) {
        case 'H': header_only = true; break;
        case 'c': code_text = optarg; break;
        case 'b': sheet_path = optarg; break;
        case 'w':
            if (!parse_number(optarg, 10, per_row) || per_row < 1 || per_row > 65536) usage();
            break;
        default: usage();
        }
    }
    if (argc - optind != 1 || (sheet_path != nullptr && (code_text != nullptr || header_only))) usage();
    long code = 0;
    if (code_text != nullptr && (!parse_number(code_text, 16, code) || code < 0)) usage();

    const std::string path = argv[optind];
    try {
        const FontFile font = read_font(path);
        if (sheet_path != nullptr) {
            draw_sheet(font, path, sheet_path, per_row);
        } else if (code_text != nullptr) {
            const std::int64_t index = code - font.start_code;
            if (index < 0 || index >= font.count)
                throw DumpError(format("%s: no glyph for code %lx", path.c_str(), code));
            if (header_only) write_stdout(header_text(font) + "\n");
            write_stdout(glyph_text(font, index));
        } else {
            write_stdout(header_text(font));
            if (!header_only) {
                write_stdout("\n");
                for (std::int64_t i = 0; i < font.count; ++i) write_stdout(glyph_text(font, i));
            }
        }
    } catch (const std::bad_alloc&) {
        throw DumpError(path + ": " + std::strerror(ENOMEM));
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        throw DumpError(format("standard output: %s", std::strerror(errno)));
}

}  // namespace

int run_fontdump(int argc, char** argv) {
    sheetcut::set_program_name("fontdump");
    if (asks_for_help(argc, argv)) {
        std::fputs(kUsage, stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    try {
        return sheetcut::run_reported([&] { dump(argc, argv); });
    } catch (const DumpError& e) {
        if (*e.what() != '\0') std::fprintf(stderr, "fontdump: %s\n", e.what());
        return 1;
    }
}

}  // namespace fontdump

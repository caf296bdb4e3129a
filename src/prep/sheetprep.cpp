#include "prep/sheetprep.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>

#include "diag/diag.h"
#include "output/output.h"
#include "prep/font.h"
#include "prep/png.h"

#ifndef SHEETCUT_VERSION
#define SHEETCUT_VERSION "unknown"
#endif

namespace sheetcut {
namespace {

constexpr const char* kUsage =
    "Usage: sheetprep [-iv] [-b RRGGBB] [-t percent] [-s W,H] picture out.bmp\n"
    "       sheetprep [-v] [-c S,E] [-z PX] [-s W,H] [-w N] font out.bmp\n"
    "\t-b RRGGBB\tthe background colour, in hex (default: transparency, or the most common colour)\n"
    "\t-i\t\tinvert: ink becomes background and background ink\n"
    "\t-t percent\tsplit point: ink differs from the background by at least this\n"
    "\t\t\tpercentage of the largest difference (default 50)\n"
    "\t-s W,H\t\tcheck that the picture divides into cells of W x H pixels and\n"
    "\t\t\tprint the sheetcut command that cuts them; for a font, force the cell\n"
    "\t-c S,E\t\tthe codes to draw, in hex (default 20,7e)\n"
    "\t-z PX\t\tan outline font's pixel size, or a bitmap font's strike\n"
    "\t-w N\t\tcells to a row of a font's sheet (default 16)\n"
    "\t-v\t\treport what was read and decided\n"
    "A picture is a PNG or BMP; a font is PSF, TrueType, OpenType, BDF, PCF or\n"
    "Windows FNT, gzip-compressed or not; - reads standard input.\n";

[[noreturn]] void prep_usage() {
    std::fputs(kUsage, stderr);
    std::fflush(stderr);
    throw ExitRequest{1};
}

bool parse_int(const char* text, long low, long high, long& out) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < low || v > high) return false;
    out = v;
    return true;
}

std::optional<Rgba> parse_colour(const char* text) {
    if (*text == '#') ++text;
    if (std::strlen(text) != 6 || std::strspn(text, "0123456789abcdefABCDEF") != 6) return std::nullopt;
    const unsigned long v = std::strtoul(text, nullptr, 16);
    return Rgba{static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v),
                255};
}

std::string hex_text(std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", v);
    return text;
}

// "S,E" in hex, both given, S not above E.
std::optional<std::pair<std::uint32_t, std::uint32_t>> parse_codes(const char* text) {
    const char* comma = std::strchr(text, ',');
    if (comma == nullptr || comma == text || comma[1] == '\0') return std::nullopt;
    const std::string first(text, comma);
    char* end = nullptr;
    errno = 0;
    const unsigned long long s = std::strtoull(first.c_str(), &end, 16);
    if (errno != 0 || *end != '\0' || first[0] == '-' || first[0] == '+') return std::nullopt;
    const unsigned long long e = std::strtoull(comma + 1, &end, 16);
    if (errno != 0 || *end != '\0' || comma[1] == '-' || comma[1] == '+') return std::nullopt;
    if (s > 0xffffffffULL || e > 0xffffffffULL || s > e) return std::nullopt;
    return std::pair{static_cast<std::uint32_t>(s), static_cast<std::uint32_t>(e)};
}

std::optional<std::pair<int, int>> parse_cell(const char* text) {
    const char* comma = std::strchr(text, ',');
    if (comma == nullptr) return std::nullopt;
    const std::string width(text, comma);
    long w = 0, h = 0;
    // sheetcut takes cells of 1 to 255 pixels a side.
    if (!parse_int(width.c_str(), 1, 255, w) || !parse_int(comma + 1, 1, 255, h)) return std::nullopt;
    return std::pair{static_cast<int>(w), static_cast<int>(h)};
}

bool starts_with(std::span<const std::uint8_t> bytes, std::string_view magic, std::size_t at = 0) {
    return bytes.size() >= at + magic.size() && std::memcmp(bytes.data() + at, magic.data(), magic.size()) == 0;
}

bool is_png(std::span<const std::uint8_t> bytes) {
    return starts_with(bytes, std::string_view(reinterpret_cast<const char*>(kPngSignature), sizeof kPngSignature));
}

bool is_picture(std::span<const std::uint8_t> bytes) {
    return is_png(bytes) || starts_with(bytes, "BM");
}

// Reads the whole input, up to the limit.
std::vector<std::uint8_t> read_input(const std::string& path, const std::string& name) {
    const bool standard = path == "-";
    // Standard input is read, not owned: it stays open.
    const Descriptor file(standard ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    const int fd = standard ? 0 : file.get();
    if (fd < 0) fatal_io(name);
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fatal_io(name);
        if (n == 0) return bytes;
        if (static_cast<std::int64_t>(bytes.size()) + n > kMaxInputBytes)
            fatal(name + ": larger than 2147483647 bytes, more than any picture read here");
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
}

void report(std::FILE* out, const Picture& pic, const InkReport& r, const InkOptions& o) {
    std::fprintf(out, "read: %s\n", pic.format.c_str());
    std::fprintf(out, "size: %" PRId64 " x %" PRId64 " pixels\n", pic.width, pic.height);
    if (r.by_transparency) {
        std::fprintf(out, "background: transparent pixels, %" PRId64 " fully so; ink: pixels at least %d%% opaque\n",
                     r.background_pixels, o.split);
    } else {
        std::fprintf(out, "background: %02x%02x%02x, %s (%" PRId64 " pixels)\n", r.background.r, r.background.g,
                     r.background.b, r.named ? "given with -b" : "the most common colour", r.background_pixels);
        std::fprintf(out, "largest difference: %d; ink: pixels that differ by at least %d%% of it\n",
                     r.largest_difference, o.split);
    }
    std::fprintf(out, "ink: %" PRId64 " pixels%s\n", r.ink, o.invert ? " (inverted)" : "");
    std::fprintf(out, "in between: %" PRId64 " pixels, %" PRId64 " made ink, %" PRId64 " background\n", r.between,
                 r.between_ink, r.between - r.between_ink);
}

void check_cells(const Picture& pic, const std::pair<int, int>& cell, const std::string& name) {
    if (pic.width % cell.first != 0 || pic.height % cell.second != 0) {
        char text[160];
        std::snprintf(text, sizeof text, ": %" PRId64 " x %" PRId64 " pixels do not divide into %d x %d cells",
                      pic.width, pic.height, cell.first, cell.second);
        fatal(name + text);
    }
}

// The grid and the sheetcut command; a sheet sent to standard output is
// named SHEET in the command, as the user saves it.
void print_grid(std::FILE* out, const SheetBmp& sheet, const std::pair<int, int>& cell, const std::string& path,
                bool to_stdout) {
    const std::int64_t columns = sheet.width / cell.first, rows = sheet.height / cell.second;
    std::fprintf(out, "%s: %" PRId64 " x %" PRId64 " cells of %d x %d pixels\n",
                 to_stdout ? "standard output" : path.c_str(), columns, rows, cell.first, cell.second);
    std::fprintf(out, "sheetcut -s%d,%d -o0,%" PRIx64 " %s FONT\n", cell.first, cell.second, columns * rows - 1,
                 to_stdout ? "SHEET" : shell_quote(path).c_str());
}

// What a picture run prints after the sheet is written.
void picture_run(std::vector<std::uint8_t>& bytes, const PrepOptions& o, const std::string& name, std::FILE* words,
                 SheetBmp& sheet) {
    if (o.font_request) fatal(name + ": -c, -z and -w are for fonts, and this is a picture");
    Picture pic;
    try {
        pic = decode_picture(bytes, kPrepLimits);
    } catch (const PictureError& e) {
        fatal(name + ": " + e.what());
    }
    bytes = {};
    if (o.cell) check_cells(pic, *o.cell, name);
    InkReport decided;
    sheet = ink_sheet(pic, o.ink, decided);
    if (o.verbose) report(words, pic, decided, o.ink);
}

// Renders the font's glyphs for the codes asked for into the sheet.
void font_run(const std::vector<std::uint8_t>& bytes, const PrepOptions& o, const std::string& name,
              std::FILE* words, SheetBmp& sheet, FontLayout& layout, FontRequest& request) {
    if (o.ink_options_given) fatal(name + ": -b, -i and -t are for pictures, and this is a font");
    if (o.font_request) request = *o.font_request;
    if (std::int64_t{request.last} - request.first + 1 > kMaxCodes)
        fatal(name + ": -c asks for " + std::to_string(std::int64_t{request.last} - request.first + 1) +
              " codes; one sheet holds at most 65536");
    RenderedFont font;
    try {
        font = is_psf(bytes) ? render_psf(bytes, request) : render_with_freetype(bytes, request);
    } catch (const PictureError& e) {
        if (*e.what() != '\0') fatal(name + ": " + e.what());
        const std::string guess = guess_format(bytes);
        fatal(name + ": not a PNG or BMP image, nor a font sheetprep reads" + (guess.empty() ? "" : " (" + guess + "?)"));
    }
    try {
        sheet = font_sheet(font, o.cell, o.per_row.value_or(16), kPrepLimits, layout);
    } catch (const PictureError& e) {
        fatal(name + ": " + e.what());
    }
    if (o.verbose) {
        std::fprintf(words, "read: %s\n", font.format.c_str());
        std::fprintf(words, "cell: %d x %d, left edge at column %d, baseline under row %d\n", layout.cell_width,
                     layout.cell_height, layout.origin_x, layout.baseline - 1);
        std::fprintf(words, "glyphs: %zu, %" PRId64 " missing, %" PRId64 " clipped\n", font.glyphs.size(),
                     layout.missing, layout.clipped);
    }
    if (layout.missing != 0) {
        std::string codes;
        for (const std::uint32_t c : layout.missing_codes) codes += (codes.empty() ? "" : " ") + hex_text(c);
        if (layout.missing > static_cast<std::int64_t>(layout.missing_codes.size())) codes += " ...";
        std::fprintf(stderr, "sheetprep: %s: %" PRId64 " of %zu codes are not in the font; their cells are blank: %s\n",
                     name.c_str(), layout.missing, font.glyphs.size(), codes.c_str());
    }
    if (layout.clipped != 0)
        std::fprintf(stderr, "sheetprep: %s: %" PRId64 " glyphs clipped to the %d x %d cell\n", name.c_str(),
                     layout.clipped, layout.cell_width, layout.cell_height);
}

void prep(int argc, char** argv) {
    const PrepOptions o = parse_prep_options(argc, argv);
    const std::string name = o.input == "-" ? "standard input" : o.input;
    // The sheet itself may go to standard output; the words then go to
    // standard error.
    const auto held = held_descriptor(o.output);
    const bool to_stdout = o.output == "-" || (held && *held == 1);
    std::FILE* words = to_stdout ? stderr : stdout;
    const std::string output = o.output == "-" ? "/dev/stdout" : o.output;
    const std::string shown = to_stdout ? "SHEET" : shell_quote(o.output);

    std::vector<std::uint8_t> bytes = read_input(o.input, name);
    if (bytes.empty()) fatal(name + ": empty, not a PNG or BMP image, nor a font");
    if (bytes.size() >= 2 && bytes[0] == 0x1f && bytes[1] == 0x8b) {
        try {
            bytes = gunzip(bytes, kMaxUnpackedBytes);
        } catch (const PictureError& e) {
            fatal(name + ": " + e.what());
        }
    }
    SheetBmp sheet;
    if (is_picture(bytes)) {
        picture_run(bytes, o, name, words, sheet);
        write_output_file(output, sheet.bytes.data(), static_cast<std::int64_t>(sheet.bytes.size()));
        if (o.cell) print_grid(words, sheet, *o.cell, o.output, to_stdout);
    } else {
        FontLayout layout;
        FontRequest request;
        font_run(bytes, o, name, words, sheet, layout, request);
        write_output_file(output, sheet.bytes.data(), static_cast<std::int64_t>(sheet.bytes.size()));
        const std::int64_t count = std::int64_t{request.last} - request.first + 1;
        std::fprintf(words, "%s: %" PRId64 " glyphs, %d x %d cells, %d to a row\n",
                     to_stdout ? "standard output" : o.output.c_str(), count, layout.cell_width, layout.cell_height,
                     layout.per_row);
        std::fprintf(words, "sheetcut -s%d,%d -c%s,%s -o0,%" PRIx64 " %s FONT\n", layout.cell_width,
                     layout.cell_height, hex_text(request.first).c_str(), hex_text(request.last).c_str(), count - 1,
                     shown.c_str());
    }
    if (std::fflush(words) != 0) fatal_io(words == stdout ? "standard output" : "standard error");
}

}  // namespace

PrepOptions parse_prep_options(int argc, char** argv) {
    PrepOptions o;
    optind = 1;
    opterr = 0;  // the usage block says it all
    for (int opt; (opt = getopt(argc, argv, "+:b:c:it:s:vw:z:")) != -1;) {
        long value = 0;
        if (opt == 'b' || opt == 'i' || opt == 't') o.ink_options_given = true;
        if ((opt == 'c' || opt == 'z' || opt == 'w') && !o.font_request) o.font_request = FontRequest{};
        switch (opt) {
        case 'b':
            o.ink.background = parse_colour(optarg);
            if (!o.ink.background) prep_usage();
            break;
        case 'c': {
            const auto codes = parse_codes(optarg);
            if (!codes) prep_usage();
            o.font_request->first = codes->first;
            o.font_request->last = codes->second;
            break;
        }
        case 'i': o.ink.invert = true; break;
        case 't':
            if (!parse_int(optarg, 1, 100, value)) prep_usage();
            o.ink.split = static_cast<int>(value);
            break;
        case 'w':
            if (!parse_int(optarg, 1, 65535, value)) prep_usage();
            o.per_row = static_cast<int>(value);
            break;
        case 'z':
            if (!parse_int(optarg, 1, 1000, value)) prep_usage();
            o.font_request->pixel_size = static_cast<int>(value);
            break;
        case 's':
            o.cell = parse_cell(optarg);
            if (!o.cell) prep_usage();
            break;
        case 'v': o.verbose = true; break;
        default: prep_usage();
        }
    }
    if (argc - optind != 2) prep_usage();
    o.input = argv[optind];
    o.output = argv[optind + 1];
    return o;
}

std::string guess_format(std::span<const std::uint8_t> b) {
    using namespace std::literals;
    static constexpr struct {
        std::string_view magic;
        std::size_t at;
        const char* name;
    } kKnown[] = {
        {"\xff\xd8\xff"sv, 0, "JPEG"},        {"GIF8"sv, 0, "GIF"},           {"II*\0"sv, 0, "TIFF"},
        {"MM\0*"sv, 0, "TIFF"},               {"WEBP"sv, 8, "WebP"},          {"\0\0\1\0"sv, 0, "Windows icon"},
        {"%PDF"sv, 0, "PDF"},                 {"8BPS"sv, 0, "Photoshop"},     {"gimp xcf"sv, 0, "GIMP XCF"},
        {"qoif"sv, 0, "QOI"},                 {"farbfeld"sv, 0, "farbfeld"},  {"\x1f\x8b"sv, 0, "gzip"},
        {"<?xml"sv, 0, "XML or SVG"},         {"<svg"sv, 0, "SVG"},           {"\x36\x04"sv, 0, "PSF font"},
        {"\x72\xb5\x4a\x86"sv, 0, "PSF font"}, {"STARTFONT"sv, 0, "BDF font"}, {"\1fcp"sv, 0, "PCF font"},
        {"\0\1\0\0"sv, 0, "TrueType font"},   {"OTTO"sv, 0, "OpenType font"}, {"FF\1\x20"sv, 0, "sheetcut font"},
    };
    for (const auto& k : kKnown)
        if (starts_with(b, k.magic, k.at)) return k.name;
    if (b.size() >= 3 && b[0] == 'P' && b[1] >= '1' && b[1] <= '7' && std::isspace(b[2])) return "PNM";
    return "";
}

Picture decode_picture(std::span<const std::uint8_t> bytes, const PictureLimits& limits) {
    if (is_picture(bytes)) return is_png(bytes) ? decode_png(bytes, limits) : decode_bmp(bytes, limits);
    if (bytes.empty()) throw PictureError("empty, not a PNG or BMP image");
    const std::string guess = guess_format(bytes);
    throw PictureError("not a PNG or BMP image" + (guess.empty() ? std::string() : " (" + guess + "?)"));
}

int run_sheetprep(int argc, char** argv) {
    set_program_name("sheetprep");
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        const bool help = std::strcmp(argv[i], "--help") == 0;
        if (help || std::strcmp(argv[i], "--version") == 0) {
            std::fputs(help ? kUsage : "sheetprep " SHEETCUT_VERSION "\n", stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
    }
    return run_reported([&] { prep(argc, argv); });
}

}  // namespace sheetcut

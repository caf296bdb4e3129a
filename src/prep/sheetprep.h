// sheetprep: turns a picture (PNG or BMP of any common form) or a font into
// the sheet sheetcut reads: a picture's ink decided from its colours, a
// font's glyphs drawn for a range of codes on one baseline.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "bmp/bmp.h"
#include "prep/font.h"
#include "prep/ink.h"

namespace sheetcut {

struct PrepOptions {
    InkOptions ink;
    bool ink_options_given = false;            // -b, -i or -t: for pictures only
    std::optional<FontRequest> font_request;   // -c, -z or -w: for fonts only
    std::optional<int> per_row;                // -w
    std::optional<std::pair<int, int>> cell;   // -s W,H
    bool verbose = false;
    std::string input;   // "-" for standard input
    std::string output;
};

// The limits on what is read.
inline constexpr std::int64_t kMaxInputBytes = INT32_MAX;
inline constexpr std::size_t kMaxUnpackedBytes = std::size_t{64} << 20;  // a gzip-compressed font
inline constexpr PictureLimits kPrepLimits{};

// Parses the arguments after the program name; usage on a bad one.
PrepOptions parse_prep_options(int argc, char** argv);

// Decodes a picture by its content: PNG or BMP. PictureError for anything
// else, naming what it seems to be.
Picture decode_picture(std::span<const std::uint8_t> bytes, const PictureLimits& limits);

// What a file that is not a PNG or BMP seems to be, from its first bytes:
// "JPEG", "GIF", ..., or empty when nothing is recognised.
std::string guess_format(std::span<const std::uint8_t> bytes);

// The program behind main: returns the process status.
int run_sheetprep(int argc, char** argv);

}  // namespace sheetcut

// sheetprep: turns a picture (PNG or BMP of any common form) into the sheet
// sheetcut reads, deciding ink and background from the colours.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "bmp/bmp.h"
#include "prep/ink.h"

namespace sheetcut {

struct PrepOptions {
    InkOptions ink;
    std::optional<std::pair<int, int>> cell;  // -s W,H
    bool verbose = false;
    std::string input;   // "-" for standard input
    std::string output;
};

// The limits on what is read.
inline constexpr std::int64_t kMaxInputBytes = INT32_MAX;
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

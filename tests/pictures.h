// Small writers of PNG and BMP pictures in the forms real writers produce,
// and a small BDF font, for the tests of sheetprep: the writers write what
// they are told, so a test can draw a sheet and save it in any form.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "bmp/bmp.h"
#include "support.h"

namespace test {

// A PNG: samples are per pixel, channel by channel, top row first, each
// within the bit depth; palette for colour type 3.
struct PngForm {
    int colour_type = 6;  // 0 grey, 2 RGB, 3 palette, 4 grey+alpha, 6 RGBA
    int depth = 8;
    bool interlaced = false;
    std::vector<sheetcut::Rgba> palette;  // alpha below 255 goes to tRNS
    std::optional<std::array<std::uint16_t, 3>> key;  // tRNS for types 0 (first value) and 2
};
Bytes write_png(int width, int height, const std::vector<std::uint16_t>& samples, const PngForm& form);
int png_channels(int colour_type);

// A BMP: values are palette indices (8 bits or fewer per pixel) or the raw
// pixel values as stored (16, 24, 32), top row first.
struct BmpForm {
    std::uint32_t header_size = 40;  // 12, 40, 52, 56, 108, 124
    int bpp = 8;
    std::uint32_t compression = 0;  // 0, 1 RLE8, 2 RLE4, 3 bit fields
    bool top_down = false;
    bool rle_literals = false;  // RLE: rows as literal runs, not repeats
    std::vector<sheetcut::Rgba> palette;
    std::array<std::uint32_t, 4> masks{};  // bit fields: red, green, blue, alpha
};
Bytes write_bmp_picture(int width, int height, const std::vector<std::uint32_t>& values, const BmpForm& form);

// A bitmap font of one 4-pixel strike in BDF, ascent 3 and descent 1: A
// with a descender (negative y offset), B starting one column left of its
// origin, D rising five rows, above the ascent, and no C.
inline constexpr char kSmallBdf[] =
    "STARTFONT 2.1\nFONT -test-small\nSIZE 4 75 75\nFONTBOUNDINGBOX 4 4 0 -1\n"
    "STARTPROPERTIES 3\nFONT_ASCENT 3\nFONT_DESCENT 1\nPIXEL_SIZE 4\nENDPROPERTIES\nCHARS 3\n"
    "STARTCHAR A\nENCODING 65\nSWIDTH 750 0\nDWIDTH 3 0\nBBX 2 3 0 -1\nBITMAP\n80\nC0\n40\nENDCHAR\n"
    "STARTCHAR B\nENCODING 66\nSWIDTH 750 0\nDWIDTH 3 0\nBBX 3 1 -1 0\nBITMAP\nE0\nENDCHAR\n"
    "STARTCHAR D\nENCODING 68\nSWIDTH 750 0\nDWIDTH 3 0\nBBX 1 5 2 0\nBITMAP\n80\n00\n80\n00\n80\nENDCHAR\n"
    "ENDFONT\n";

}  // namespace test

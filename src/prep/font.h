// Fonts as sheetprep's input: glyphs rendered for a range of codes, and the
// sheet that holds them on one baseline and one left edge.
//
// PSF console fonts are read here; everything else FreeType reads
// (TrueType, OpenType, BDF, PCF, Windows FNT). gzip-compressed files are
// unpacked first.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "bmp/bmp.h"

namespace sheetcut {

// One glyph as its font draws it, relative to its origin on the baseline:
// its bitmap spans columns left .. left + width - 1 and rows from top
// pixels above the baseline downwards.
struct GlyphImage {
    bool present = false;  // the font has the code
    int left = 0;
    int top = 0;
    int width = 0;
    int rows = 0;
    int advance = 0;
    std::vector<std::uint8_t> ink;  // rows x width, 1 for ink
};

struct RenderedFont {
    std::uint32_t first = 0;
    std::vector<GlyphImage> glyphs;  // glyph k is code first + k
    int ascent = 0;                  // of the size, above the baseline
    int descent = 0;                 // below it, positive
    std::string format;              // what was read, for -v
};

struct FontRequest {
    std::uint32_t first = 0x20;
    std::uint32_t last = 0x7e;
    std::optional<int> pixel_size;  // -z: an outline font's size, or a bitmap font's strike
};

// The most codes one sheet holds.
inline constexpr std::int64_t kMaxCodes = 65536;

// Whether bytes start like a font sheetprep reads (after unpacking gzip):
// PSF, or a format FreeType knows.
bool is_psf(std::span<const std::uint8_t> bytes);
// The bytes of a gzip stream, unpacked; at most limit bytes. PictureError
// when damaged or larger.
std::vector<std::uint8_t> gunzip(std::span<const std::uint8_t> bytes, std::size_t limit);

// Renders the requested codes. PictureError when the bytes are no font
// either reader takes, or the request does not fit the font.
RenderedFont render_psf(std::span<const std::uint8_t> bytes, const FontRequest& request);
RenderedFont render_with_freetype(std::span<const std::uint8_t> bytes, const FontRequest& request);

// How the glyphs were placed, for the report and the sheetcut command.
struct FontLayout {
    int cell_width = 0;
    int cell_height = 0;
    int origin_x = 0;   // the left edge's column in the cell
    int baseline = 0;   // the baseline's row in the cell: rows above it are above
    int per_row = 0;
    std::int64_t missing = 0;
    std::int64_t clipped = 0;
    std::vector<std::uint32_t> missing_codes;  // the first eight
};

// The sheet of the glyphs, per_row cells to a row (fewer when there are
// fewer glyphs): the cell is the smallest box that holds the ascent and
// descent, every advance and all ink about the common origin, or the
// forced size, which clips. PictureError when the cell or sheet is too big.
SheetBmp font_sheet(const RenderedFont& font, std::optional<std::pair<int, int>> forced_cell, int per_row,
                    const PictureLimits& limits, FontLayout& layout);

}  // namespace sheetcut

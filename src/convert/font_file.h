// The font file: a 32-byte header with magic "FF", then the glyph area.
//
// Header, little-endian:
//   0 magic "FF"   2 version 1   3 header_size 32   4 name (3 bytes + 0)
//   8 flags (bit 0: proportional)   10 width   11 height   12 gap_x
//   13 gap_y   14 glyph_size   16 start_code   18 end_code   20 cct_index
//   21..31 reserved, zero
// A fixed-width glyph area is one continuous bit stream of width x height
// bits per glyph, most significant bit first; glyph_size is that bit count.
// A proportional area holds records of (width x height + 7) / 8 + 1 bytes:
// the glyph's ink width, then its rows of that many bits; glyph_size is the
// record length.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "convert/font_settings.h"
#include "convert/mapped.h"

namespace sheetcut {

inline constexpr std::int64_t kHeaderSize = 32;

// Byte offsets of the header fields.
struct FontHeader {
    static constexpr int magic = 0;
    static constexpr int version = 2;
    static constexpr int header_size = 3;
    static constexpr int name = 4;
    static constexpr int flags = 8;
    static constexpr int width = 10;
    static constexpr int height = 11;
    static constexpr int gap_x = 12;
    static constexpr int gap_y = 13;
    static constexpr int glyph_size = 14;
    static constexpr int start_code = 16;
    static constexpr int end_code = 18;
    static constexpr int cct_index = 20;
    static constexpr int reserved = 21;
};

// The font file in memory, zero-filled when made.
struct FontImage {
    Mapped<std::uint8_t> bytes{nullptr, Unmap{}};
    std::int64_t fntsize = 0;
};

// Bytes of one proportional record: the width byte and the bitmap.
std::int64_t record_length(const FontSettings& settings);
// Length of the font file for count glyphs, in 64 bits.
std::int64_t font_size(const FontSettings& settings, std::int32_t count);

// Sizes and allocates the image, traces fntsize and fills the header.
FontImage make_font_image(const FontSettings& settings, std::int32_t count);
// Writes the header fields into the first 32 bytes of image.
void fill_header(const FontSettings& settings, std::uint8_t* image);

// Writes the image to path, whole or not at all, after the trace so far.
void write_font_file(const std::string& path, const FontImage& font);

}  // namespace sheetcut

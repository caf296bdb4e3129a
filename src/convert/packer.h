// The glyph packer: cuts cells StartOffset..EndOffset out of the sheet and
// packs them at one bit per pixel, most significant bit first.
//
// Cell off lies in cell row off / ncols and column off % ncols, counted from
// the image's top-left; its rows are read top to bottom, which in a
// bottom-up pixel block means bmpwidth bytes back per row.
#pragma once

#include <cstdint>

#include "convert/font_settings.h"
#include "convert/font_file.h"
#include "convert/sheet.h"

namespace sheetcut {

// Where the next bit goes: byte pf of the font image, under mask.
struct PackCursor {
    std::int64_t pf = kHeaderSize;
    std::uint8_t mask = 0x80;
};

// Columns xstart up to (not including) xend of a cell are packed.
struct InkSpan {
    std::int32_t xstart = 0;
    std::int32_t xend = 0;
};

// The leftmost and rightmost ink columns of the cell whose top-left pixel
// is at top_left in the pixel block; a blank cell gives 0..DefaultWidth.
InkSpan ink_span(const FontSettings& settings, const SheetImage& sheet, std::int64_t top_left);

// Packs every glyph of the run into the font image, tracing under -v.
void pack_glyphs(const FontSettings& settings, const SheetImage& sheet, FontImage& font);

}  // namespace sheetcut

// Fuzz target: arbitrary bytes as sheetprep's input, through the PNG or BMP
// reader and the ink decision, or the font readers (PSF, FreeType) and the
// glyph placement, to the sheet.
//
// Input: 4 bytes of options, then the file.
//   0 flags (bit 0 invert, bit 1 name the background, bit 2 read a font)
//   1-3 for a picture, the background colour, R G B, where named; byte 1
//   also sets the split point, 1 to 100. For a font, byte 1 is the first
//   code, byte 2 the number of codes less one, byte 3 the pixel size.
// The limits are smaller than the program's, so that each input is quick.
#include <cstddef>
#include <cstdint>
#include <span>

#include "prep/font.h"
#include "prep/ink.h"
#include "prep/sheetprep.h"

namespace {

void font(const std::uint8_t* data, std::size_t size, const sheetcut::PictureLimits& limits) {
    const std::span<const std::uint8_t> file(data + 4, size - 4);
    const sheetcut::FontRequest request{data[1], std::uint32_t{data[1]} + data[2], 1 + data[3] % 64};
    const sheetcut::RenderedFont rendered =
        sheetcut::is_psf(file) ? sheetcut::render_psf(file, request) : sheetcut::render_with_freetype(file, request);
    sheetcut::FontLayout layout;
    sheetcut::font_sheet(rendered, std::nullopt, 16, limits, layout);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const sheetcut::PictureLimits limits{.max_side = 4096, .max_pixels = std::int64_t{1} << 20};
    if (data[0] & 4) {
        try {
            font(data, size, limits);
        } catch (const sheetcut::PictureError&) {
        }
        return 0;
    }
    sheetcut::InkOptions options;
    options.invert = data[0] & 1;
    if (data[0] & 2) options.background = sheetcut::Rgba{data[1], data[2], data[3], 255};
    options.split = 1 + data[1] % 100;
    try {
        const sheetcut::Picture picture = sheetcut::decode_picture(std::span(data + 4, size - 4), limits);
        sheetcut::InkReport report;
        const sheetcut::SheetBmp sheet = sheetcut::ink_sheet(picture, options, report);
        // Every pixel of the sheet is background or ink, and the count adds up.
        std::int64_t ink = 0;
        for (std::int64_t y = 0; y < sheet.height; ++y) {
            const std::uint8_t* row = const_cast<sheetcut::SheetBmp&>(sheet).row(y);
            for (std::int64_t x = 0; x < sheet.width; ++x) {
                if (row[x] > 1) __builtin_trap();
                ink += row[x];
            }
        }
        if (ink != report.ink) __builtin_trap();
    } catch (const sheetcut::PictureError&) {
    }
    return 0;
}

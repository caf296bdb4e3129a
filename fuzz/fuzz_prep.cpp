// Fuzz target: arbitrary bytes as a picture for sheetprep, through the PNG
// or BMP reader and the ink decision to the sheet.
//
// Input: 4 bytes of ink options, then the picture file.
//   0 flags (bit 0 invert, bit 1 name the background)   1-3 the background
//   colour, R G B, where named; byte 1 also sets the split point, 1 to 100.
// The limits are smaller than the program's, so that each input is quick.
#include <cstddef>
#include <cstdint>
#include <span>

#include "prep/ink.h"
#include "prep/sheetprep.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    sheetcut::InkOptions options;
    options.invert = data[0] & 1;
    if (data[0] & 2) options.background = sheetcut::Rgba{data[1], data[2], data[3], 255};
    options.split = 1 + data[1] % 100;
    const sheetcut::PictureLimits limits{.max_side = 4096, .max_pixels = std::int64_t{1} << 20};
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

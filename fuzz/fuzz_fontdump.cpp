// Fuzz target: arbitrary bytes as a font file through fontdump's reader,
// the header and glyph printing, and drawing the glyphs into a sheet.
#include <cstddef>
#include <cstdint>

#include "dump/fontdump.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const fontdump::FontFile font = fontdump::parse_font(std::vector<std::uint8_t>(data, data + size));
        std::size_t total = fontdump::header_text(font).size() + fontdump::sheetcut_options(font).size();
        for (std::int64_t i = 0; i < font.count; ++i) total += fontdump::glyph_text(font, i).size();
        if (font.count > 0) total += fontdump::sheet_bmp(font, 1 + static_cast<int>(size % 20)).size();
        return total == 0 ? 1 : 0;  // never: the header text is never empty
    } catch (const fontdump::DumpError&) {
        return 0;
    }
}

// Fuzz target: arbitrary bytes as a sheet, with settings drawn from the
// first bytes of the input, through loading, the font image and packing.
//
// Input: 11 bytes of settings, then the sheet file.
//   0-1 FontWidth   2-3 FontHeight   4-5 StartOffset   6-7 EndOffset
//   8 flags (bit 0 proportional, bit 1 verbose, bit 2 read the sheet a row
//   of cells at a time, as a regular file is, instead of loading it whole)
//   9-10 DefaultWidth
// All 16-bit fields are signed little-endian, so sizes and offsets reach
// zero, negative and out-of-range values.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "convert/font_settings.h"
#include "convert/font_file.h"
#include "convert/packer.h"
#include "convert/sheet.h"
#include "diag/diag.h"
#include "quiet_trace.h"

namespace {

constexpr std::size_t kSettingsBytes = 11;

std::int32_t s16(const std::uint8_t* p) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | p[1] << 8));
}

sheetcut::FontSettings settings_from(const std::uint8_t* p) {
    sheetcut::FontSettings s;
    s.FontWidth = s16(p);
    s.FontHeight = s16(p + 2);
    s.StartOffset = s16(p + 4);
    s.EndOffset = s16(p + 6);
    s.Flags = p[8] & sheetcut::FLAG_PROPORTIONAL;
    s.Verbose = (p[8] >> 1) & 1;
    s.DefaultWidth = s16(p + 9);
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quiet_trace();
    if (size < kSettingsBytes) return 0;
    const sheetcut::FontSettings s = settings_from(data);
    const bool banded = (data[8] >> 2) & 1;
    sheetcut::run_reported([&] {
        sheetcut::MemorySource source(data + kSettingsBytes, size - kSettingsBytes, banded);
        const sheetcut::SheetImage sheet = sheetcut::load_sheet(s, source, "fuzz.bmp");
        sheetcut::FontImage font = sheetcut::make_font_image(s, sheetcut::glyph_count(s));
        sheetcut::pack_glyphs(s, sheet, font);
    });
    return 0;
}

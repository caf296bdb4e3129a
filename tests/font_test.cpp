// sheetprep's font input in-process: every glyph in its cell exactly as the
// font draws it, all on one origin, for PSF, BDF, PCF and outline fonts.
// Fonts from Debian's packages are used where installed (CI installs them);
// a test without its font says so and is skipped.
#include <gtest/gtest.h>
#include <zlib.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <filesystem>
#include <map>

#include "prep/font.h"
#include "prep/sheetprep.h"
#include "pictures.h"
#include "support.h"

using sheetcut::FontLayout;
using sheetcut::FontRequest;
using sheetcut::GlyphImage;
using test::Bytes;

namespace {

const char* const kTerminus16 = "/usr/share/consolefonts/Uni2-Terminus16.psf.gz";           // PSF 1
const char* const kTerminus32 = "/usr/share/consolefonts/Uni2-TerminusBold32x16.psf.gz";    // PSF 2
const char* const kFixed6x13 = "/usr/share/fonts/X11/misc/6x13.pcf.gz";
const char* const kDejaVuMono = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";
const char* const kDejaVuSans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

Bytes unpacked(const char* path) {
    const Bytes packed = test::read_file(path);
    return sheetcut::gunzip(packed, std::size_t{64} << 20);
}

// What a glyph should look like: its bitmap about the origin, as in the
// font itself.
using Expected = std::map<std::uint32_t, GlyphImage>;

// Checks that each cell of the sheet holds exactly its glyph's bitmap about
// the common origin, and nothing else.
void expect_cells(const sheetcut::SheetBmp& sheet_in, const FontLayout& layout, std::uint32_t first,
                  std::uint32_t last, const Expected& expected, const std::string& what) {
    auto& sheet = const_cast<sheetcut::SheetBmp&>(sheet_in);
    for (std::uint32_t code = first; code <= last; ++code) {
        const std::int64_t k = code - first;
        const std::int64_t cx = k % layout.per_row * layout.cell_width, cy = k / layout.per_row * layout.cell_height;
        std::vector<std::uint8_t> want(static_cast<std::size_t>(layout.cell_width * layout.cell_height), 0);
        if (const auto e = expected.find(code); e != expected.end()) {
            const GlyphImage& g = e->second;
            for (int y = 0; y < g.rows; ++y)
                for (int x = 0; x < g.width; ++x) {
                    if (!g.ink[static_cast<std::size_t>(y * g.width + x)]) continue;
                    const int px = layout.origin_x + g.left + x, py = layout.baseline - g.top + y;
                    ASSERT_TRUE(px >= 0 && py >= 0 && px < layout.cell_width && py < layout.cell_height)
                        << what << ": code " << code << " ink outside its cell";
                    want[static_cast<std::size_t>(py * layout.cell_width + px)] = 1;
                }
        }
        for (int y = 0; y < layout.cell_height; ++y)
            for (int x = 0; x < layout.cell_width; ++x)
                ASSERT_EQ(sheet.row(cy + y)[cx + x], want[static_cast<std::size_t>(y * layout.cell_width + x)])
                    << what << ": code " << std::hex << code << std::dec << " at (" << x << ", " << y << ")";
    }
}

// A PSF font's own bitmaps, read here without sheetprep's reader: code
// point -> glyph through the Unicode table (sequences skipped).
Expected psf_bitmaps(const Bytes& f) {
    const bool v1 = f[0] == 0x36;
    const std::uint32_t header = v1 ? 4 : sheetcut::le32(&f[8]);
    const std::uint32_t count = v1 ? (f[2] & 1 ? 512 : 256) : sheetcut::le32(&f[16]);
    const std::uint32_t size = v1 ? f[3] : sheetcut::le32(&f[20]);
    const int height = v1 ? f[3] : static_cast<int>(sheetcut::le32(&f[24]));
    const int width = v1 ? 8 : static_cast<int>(sheetcut::le32(&f[28]));
    std::map<std::uint32_t, std::uint32_t> glyph_of;
    std::size_t p = header + std::size_t{count} * size;
    for (std::uint32_t glyph = 0; glyph < count; ++glyph) {
        bool sequence = false;
        if (v1) {
            for (; sheetcut::le16(&f[p]) != 0xffff; p += 2) {
                const std::uint16_t v = sheetcut::le16(&f[p]);
                sequence = sequence || v == 0xfffe;
                if (!sequence) glyph_of.emplace(v, glyph);
            }
            p += 2;
            continue;
        }
        for (; f[p] != 0xff; ++p) {
            if (f[p] == 0xfe) sequence = true;
            if (sequence || (f[p] & 0xc0) == 0x80) continue;
            std::uint32_t code = f[p];
            const int extra = code >= 0xf0 ? 3 : code >= 0xe0 ? 2 : code >= 0xc0 ? 1 : 0;
            code &= 0x7fu >> extra;
            for (int i = 1; i <= extra; ++i) code = code << 6 | (f[p + static_cast<std::size_t>(i)] & 0x3f);
            glyph_of.emplace(code, glyph);
        }
        ++p;
    }
    Expected out;
    const int row_bytes = (width + 7) / 8;
    for (const auto& [code, glyph] : glyph_of) {
        GlyphImage g;
        g.present = true;
        g.top = height, g.width = width, g.rows = height, g.advance = width;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                g.ink.push_back((f[header + std::size_t{glyph} * size + static_cast<std::size_t>(y * row_bytes + x / 8)] >>
                                 (7 - x % 8)) & 1);
        out.emplace(code, std::move(g));
    }
    return out;
}

// FreeType's own monochrome rendering of each code, through FT_Load_Char.
Expected freetype_bitmaps(const Bytes& file, std::uint32_t first, std::uint32_t last, int size) {
    FT_Library lib;
    EXPECT_EQ(FT_Init_FreeType(&lib), 0);
    FT_Face face;
    EXPECT_EQ(FT_New_Memory_Face(lib, file.data(), static_cast<FT_Long>(file.size()), 0, &face), 0);
    if (FT_IS_SCALABLE(face)) {
        FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(size));
    } else {
        FT_Select_Size(face, 0);
    }
    Expected out;
    for (std::uint32_t code = first; code <= last; ++code) {
        if (FT_Get_Char_Index(face, code) == 0) continue;
        EXPECT_EQ(FT_Load_Char(face, code, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME), 0);
        const FT_Bitmap& b = face->glyph->bitmap;
        GlyphImage g;
        g.present = true;
        g.left = face->glyph->bitmap_left, g.top = face->glyph->bitmap_top;
        g.width = static_cast<int>(b.width), g.rows = static_cast<int>(b.rows);
        for (unsigned y = 0; y < b.rows; ++y)
            for (unsigned x = 0; x < b.width; ++x) g.ink.push_back((b.buffer[y * b.pitch + x / 8] >> (7 - x % 8)) & 1);
        out.emplace(code, std::move(g));
    }
    FT_Done_Face(face);
    FT_Done_FreeType(lib);
    return out;
}

sheetcut::SheetBmp sheet_of(const sheetcut::RenderedFont& font, FontLayout& layout, int per_row = 16) {
    return sheetcut::font_sheet(font, std::nullopt, per_row, sheetcut::kPrepLimits, layout);
}

// The sheet as text, "o" for ink and "." for background, a line a row.
std::string picture(sheetcut::SheetBmp& sheet) {
    std::string rows;
    for (std::int64_t y = 0; y < sheet.height; ++y) {
        for (std::int64_t x = 0; x < sheet.width; ++x) rows += sheet.row(y)[x] ? 'o' : '.';
        rows += '\n';
    }
    return rows;
}

#define NEED(path) \
    if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " is not installed"

TEST(FontInput, ConsoleFontsGiveTheirOwnBitmaps) {
    NEED(kTerminus16);
    NEED(kTerminus32);
    // 0xa0 to 0xff: the glyphs of Latin-1 lie elsewhere in these fonts.
    for (const char* path : {kTerminus16, kTerminus32})
        for (const auto& [first, last] : {std::pair{0x20u, 0x7eu}, std::pair{0xa0u, 0xffu}, std::pair{0x400u, 0x45fu}}) {
            const Bytes f = unpacked(path);
            const sheetcut::RenderedFont font = sheetcut::render_psf(f, FontRequest{first, last, std::nullopt});
            FontLayout layout;
            const sheetcut::SheetBmp sheet = sheet_of(font, layout);
            EXPECT_EQ(layout.cell_width, path == kTerminus16 ? 8 : 16);
            EXPECT_EQ(layout.cell_height, path == kTerminus16 ? 16 : 32);
            expect_cells(sheet, layout, first, last, psf_bitmaps(f), path);
        }
}

// A PSF 2 font written here: two glyphs, a Unicode table in UTF-8 with a
// second code for the first glyph and a sequence that must not count.
TEST(FontInput, PsfTwoTableAndItsSequences) {
    Bytes f = {0x72, 0xb5, 0x4a, 0x86};
    for (const std::uint32_t v : {0u, 32u, 1u, 2u, 6u, 3u, 10u})  // version, header, flags, glyphs, bytes, height, width
        for (int i = 0; i < 4; ++i) f.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    f.insert(f.end(), {0xff, 0xc0, 0x80, 0x40, 0x00, 0x00});  // glyph 0: 10 x 3, rows of 2 bytes
    f.insert(f.end(), {0x00, 0x00, 0x00, 0x00, 0x00, 0x40});  // glyph 1
    f.insert(f.end(), {'A', 0xc3, 0x85, 0xff});               // glyph 0: A and U+00C5
    f.insert(f.end(), {'B', 0xfe, 'C', 0xcc, 0x8a, 0xff});     // glyph 1: B; C + U+030A is a sequence
    const sheetcut::RenderedFont font = sheetcut::render_psf(f, FontRequest{0x41, 0x43, std::nullopt});
    ASSERT_EQ(font.glyphs.size(), 3u);
    EXPECT_TRUE(font.glyphs[0].present);
    EXPECT_TRUE(font.glyphs[1].present);
    EXPECT_FALSE(font.glyphs[2].present);  // C only in a sequence
    FontLayout layout;
    sheetcut::SheetBmp sheet = sheet_of(font, layout);
    EXPECT_EQ(layout.missing, 1);
    EXPECT_EQ(picture(sheet),
              "oooooooooo....................\n"
              "o........o....................\n"
              "...................o..........\n");
    EXPECT_TRUE(sheetcut::render_psf(f, FontRequest{0xc5, 0xc5, std::nullopt}).glyphs[0].present);
    f.resize(40);
    EXPECT_THROW(sheetcut::render_psf(f, FontRequest{0x41, 0x43, std::nullopt}), sheetcut::PictureError);
}

// The BDF of pictures.h: a descender, a glyph that starts left of its
// origin, one taller than the ascent, and a missing code.
TEST(FontInput, BdfBearingsTallGlyphsAndMissingCodes) {
    const Bytes f(test::kSmallBdf, test::kSmallBdf + sizeof test::kSmallBdf - 1);
    const sheetcut::RenderedFont font = sheetcut::render_with_freetype(f, FontRequest{0x41, 0x44, std::nullopt});
    FontLayout layout;
    sheetcut::SheetBmp sheet = sheet_of(font, layout);
    // Left edge one column in (B starts at -1); five rows above the
    // baseline (D), one below (A); three wide (the advances, B's right end).
    EXPECT_EQ(layout.origin_x, 1);
    EXPECT_EQ(layout.baseline, 5);
    EXPECT_EQ(layout.cell_width, 4);
    EXPECT_EQ(layout.cell_height, 6);
    EXPECT_EQ(layout.missing, 1);
    EXPECT_EQ(layout.missing_codes, std::vector<std::uint32_t>{0x43});
    EXPECT_EQ(picture(sheet),
              "...............o\n"
              "................\n"
              "...............o\n"
              ".o..............\n"
              ".oo.ooo........o\n"
              "..o.............\n");
    // Forced to the font's nominal 4 x 4: the baseline keeps the descent
    // below it, and what rises above the cell is clipped and counted.
    FontLayout forced;
    sheetcut::font_sheet(font, std::pair{4, 4}, 16, sheetcut::kPrepLimits, forced);
    EXPECT_EQ(forced.clipped, 1);  // D's top
}

TEST(FontInput, PcfGivesItsOwnBitmaps) {
    NEED(kFixed6x13);
    const Bytes f = unpacked(kFixed6x13);
    const sheetcut::RenderedFont font = sheetcut::render_with_freetype(f, FontRequest{0x20, 0xff, std::nullopt});
    FontLayout layout;
    const sheetcut::SheetBmp sheet = sheet_of(font, layout);
    EXPECT_EQ(layout.cell_width, 6);
    EXPECT_EQ(layout.cell_height, 13);
    EXPECT_EQ(layout.clipped, 0);
    expect_cells(sheet, layout, 0x20, 0xff, freetype_bitmaps(f, 0x20, 0xff, 13), kFixed6x13);
}

// Outline fonts: every glyph is FreeType's monochrome rendering, about one
// origin, none clipped.
TEST(FontInput, OutlineFontsGiveFreeTypesMonochromeRendering) {
    NEED(kDejaVuMono);
    NEED(kDejaVuSans);
    for (const char* path : {kDejaVuMono, kDejaVuSans})
        for (const int size : {11, 20}) {
            const Bytes f = test::read_file(path);
            const sheetcut::RenderedFont font = sheetcut::render_with_freetype(f, FontRequest{0x20, 0x17e, size});
            FontLayout layout;
            const sheetcut::SheetBmp sheet = sheet_of(font, layout, 32);
            const std::string what = std::string(path) + " at " + std::to_string(size);
            EXPECT_EQ(layout.clipped, 0) << what;
            EXPECT_EQ(layout.missing, 33) << what;  // the controls 7f to 9f
            expect_cells(sheet, layout, 0x20, 0x17e, freetype_bitmaps(f, 0x20, 0x17e, size), what);
            // The cell holds the advance right of the origin too.
            EXPECT_GE(layout.cell_width - layout.origin_x, font.glyphs[0].advance) << what;
        }
}

// The sample sheet is what sheetprep makes of the console font it came
// from, byte for byte.
TEST(FontInput, SampleSheetIsTheConsoleFont) {
    NEED(kTerminus16);
    const sheetcut::RenderedFont font = sheetcut::render_psf(unpacked(kTerminus16), FontRequest{0x20, 0x7f, std::nullopt});
    FontLayout layout;
    const sheetcut::SheetBmp sheet = sheet_of(font, layout);
    EXPECT_EQ(sheet.bytes, test::read_file(std::string(SOURCE_DIR) + "/examples/terminus-8x16.bmp"));
}

}  // namespace

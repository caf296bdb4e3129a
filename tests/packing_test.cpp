// The packer in-process: worked layouts, a round trip through a bit-by-bit
// decoder, and agreement with a plain one-pixel-at-a-time packer.
#include <gtest/gtest.h>

#include <random>

#include "convert/font_file.h"
#include "convert/packer.h"
#include "convert/sheet.h"
#include "support.h"

using namespace sheetcut;
using test::Bytes;
using test::Grid;

namespace {

FontSettings settings(int w, int h, int start, int end, std::optional<int> proportional = {}) {
    FontSettings s;
    s.FontWidth = w;
    s.FontHeight = h;
    s.StartOffset = start;
    s.EndOffset = end;
    if (proportional) {
        s.Flags = FLAG_PROPORTIONAL;
        s.DefaultWidth = *proportional;
    }
    return s;
}

SheetImage load(const FontSettings& s, const Bytes& file) {
    MemorySource source(file.data(), file.size());
    return load_sheet(s, source, "in.bmp");
}

Bytes convert(const FontSettings& s, const Grid& g, const test::BmpOptions& o = {}) {
    const Bytes file = test::make_bmp(g, o);
    const SheetImage sheet = load(s, file);
    FontImage font = make_font_image(s, glyph_count(s));
    pack_glyphs(s, sheet, font);
    return Bytes(font.bytes.get(), font.bytes.get() + font.fntsize);
}

Bytes area(const Bytes& font) {
    return Bytes(font.begin() + 32, font.end());
}

// Draws a filled rectangle of ink in cell `cell` of a sheet with ncols cells
// per row.
void ink(Grid& g, int cw, int ch, int ncols, int cell, int x0, int x1, int y0, int y1, std::uint8_t v = 1) {
    const int cx = cell % ncols * cw, cy = cell / ncols * ch;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) g.at(cx + x, cy + y) = v;
}

TEST(FixedWidth, EightByEightGlyphsAreOneBytePerRow) {
    Grid g(32, 16);  // 4 x 2 cells
    for (int cell = 0; cell < 8; ++cell) ink(g, 8, 8, 4, cell, cell, cell, cell, cell);
    const Bytes font = convert(settings(8, 8, 0, 7), g);
    ASSERT_EQ(font.size(), 32u + 64);
    for (int n = 0; n < 8; ++n)
        for (int row = 0; row < 8; ++row)
            EXPECT_EQ(font[32 + 8 * n + row], row == n ? 0x80 >> n : 0) << n << "/" << row;
}

TEST(FixedWidth, GlyphsRunOnWithoutPadding) {
    Grid g(15, 7);  // three 5 x 7 cells, all ink; pixel values 1 and 255 alike
    for (auto& p : g.px) p = 255;
    g.at(0, 0) = 1;
    const Bytes font = convert(settings(5, 7, 0, 2), g);
    ASSERT_EQ(font.size(), 46u);  // 105 bits in 14 bytes
    EXPECT_EQ(test::hex(area(font)), "FF FF FF FF FF FF FF FF FF FF FF FF FF 80");
}

TEST(FixedWidth, CellsAreNumberedFromTheTopLeft) {
    Grid g(128, 64);  // ncols 16, nlines 8
    ink(g, 8, 8, 16, 0x11, 0, 0, 0, 0);
    EXPECT_EQ(test::hex(area(convert(settings(8, 8, 0x11, 0x11), g))), "80 00 00 00 00 00 00 00");
    EXPECT_EQ(test::hex(area(convert(settings(8, 8, 0, 0), g))), "00 00 00 00 00 00 00 00");
}

TEST(Proportional, TrimsToTheInkColumns) {
    Grid g(32, 8);
    ink(g, 8, 8, 4, 0, 2, 4, 0, 7);   // columns 2..4, all rows
    ink(g, 8, 8, 4, 1, 1, 1, 0, 0);   // columns 1 and 6: blank columns between stay
    ink(g, 8, 8, 4, 1, 6, 6, 7, 7);
    ink(g, 8, 8, 4, 3, 7, 7, 0, 7);   // ink in the last column
    const Bytes font = convert(settings(8, 8, 0, 3, 4), g);
    ASSERT_EQ(font.size(), 32u + 4 * 9);
    EXPECT_EQ(test::hex(area(font)),
              "03 FF FF FF 00 00 00 00 00 "   // w 3: 24 set bits
              "06 80 00 00 00 00 01 00 00 "   // w 6: row 0 bit 0, row 7 bit 5
              "04 00 00 00 00 00 00 00 00 "   // blank: default width, no bits
              "01 FF 00 00 00 00 00 00 00");  // xstart 7, xend 8
}

TEST(Proportional, BlankCellUnderZeroDefaultWidth) {
    EXPECT_EQ(test::hex(area(convert(settings(8, 8, 0, 0, 0), Grid(8, 8)))), "00 00 00 00 00 00 00 00 00");
}

TEST(Proportional, RecordsAreAWholeRecordApart) {
    Grid g(15, 7);
    for (auto& p : g.px) p = 1;
    const Bytes font = convert(settings(5, 7, 0, 2, 0), g);
    ASSERT_EQ(font.size(), 50u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(font[32 + 6 * i], 5);
        EXPECT_EQ(test::hex(Bytes(font.begin() + 33 + 6 * i, font.begin() + 38 + 6 * i)), "FF FF FF FF E0");
    }
}

TEST(InkSpan, ScansEveryRowOfTheCell) {
    Grid g(16, 8);
    ink(g, 8, 8, 2, 1, 3, 3, 7, 7);   // only the bottom row holds ink
    ink(g, 8, 8, 2, 1, 5, 5, 2, 2);
    const FontSettings s = settings(8, 8, 0, 1, 2);
    const Bytes file = test::make_bmp(g);
    const SheetImage sheet = load(s, file);
    const InkSpan one = ink_span(s, sheet, sheet.top_row + 8);
    EXPECT_EQ(one.xstart, 3);
    EXPECT_EQ(one.xend, 6);
    const InkSpan blank = ink_span(s, sheet, sheet.top_row);
    EXPECT_EQ(blank.xstart, 0);
    EXPECT_EQ(blank.xend, 2);
}

// The font as the format defines it, packed one pixel at a time with the
// cursor pf and mask, straight from the cell addressing.
Bytes reference_pack(const FontSettings& s, const SheetImage& sheet) {
    const std::int64_t count = glyph_count(s);
    const std::int64_t bits = std::int64_t{s.FontWidth} * s.FontHeight;
    const std::int64_t reclen = (bits + 7) / 8 + 1;
    const std::int64_t fntsize = 32 + (s.proportional() ? reclen * count : (bits * count + 7) / 8);
    Bytes image(static_cast<std::size_t>(fntsize), 0);
    fill_header(s, image.data());
    auto px = [&](std::int64_t at) { return sheet.pixels[static_cast<std::size_t>(at)]; };
    std::int64_t pf = 32;
    std::uint8_t mask = 0x80;
    for (std::int64_t off = s.StartOffset; off <= s.EndOffset; ++off) {
        const std::int64_t pos = sheet.top_row - off / sheet.ncols * sheet.bmpnext + off % sheet.ncols * s.FontWidth;
        int xstart = 0, xend = s.FontWidth;
        std::int64_t bitmap = 0;
        if (s.proportional()) {
            auto has_ink = [&](int x) {
                for (int y = 0; y < s.FontHeight; ++y)
                    if (px(pos - std::int64_t{y} * sheet.bmpwidth + x)) return true;
                return false;
            };
            xstart = -1;
            for (int x = 0; x < s.FontWidth && xstart < 0; ++x)
                if (has_ink(x)) xstart = x;
            if (xstart < 0) {
                xstart = 0;
                xend = s.DefaultWidth;
            } else {
                for (xend = s.FontWidth; !has_ink(xend - 1);) --xend;
            }
            image[static_cast<std::size_t>(pf++)] = static_cast<std::uint8_t>(xend - xstart);
            bitmap = pf;
            mask = 0x80;
        }
        for (int y = 0; y < s.FontHeight; ++y) {
            std::int64_t pb = pos - std::int64_t{y} * sheet.bmpwidth + xstart;
            for (int x = xstart; x < xend; ++x, ++pb) {
                if (px(pb)) image[static_cast<std::size_t>(pf)] |= mask;
                mask = static_cast<std::uint8_t>(mask >> 1);
                if (mask == 0) {
                    mask = 0x80;
                    ++pf;
                }
            }
        }
        if (s.proportional()) pf = bitmap + (bits + 7) / 8;
    }
    return image;
}

struct RandomCase {
    FontSettings s;
    Grid grid{1, 1};
    test::BmpOptions layout;
};

RandomCase random_case(std::mt19937& rng, int max_cell) {
    auto pick = [&](int lo, int hi) { return lo + static_cast<int>(rng() % static_cast<unsigned>(hi - lo + 1)); };
    RandomCase c;
    const int cw = pick(1, max_cell), ch = pick(1, max_cell);
    const int ncols = pick(1, 6), nrows = pick(1, 5);
    const int inks[] = {0, 3, 30, 90};
    c.grid = test::random_sheet(static_cast<std::uint32_t>(rng()), cw, ch, ncols, nrows, inks[rng() % 4]);
    const int nbmps = ncols * nrows;
    const int a = pick(0, nbmps - 1), b = pick(0, nbmps - 1);
    c.s = settings(cw, ch, std::min(a, b), std::max(a, b));
    if (rng() % 2) {
        c.s.Flags = FLAG_PROPORTIONAL;
        c.s.DefaultWidth = pick(0, cw);
    }
    const int palettes[] = {256, 16, 2};
    c.layout.palette_entries = palettes[rng() % 3];
    c.layout.trailing = rng() % 3;
    return c;
}

std::string describe(const RandomCase& c) {
    return "cells " + std::to_string(c.s.FontWidth) + "x" + std::to_string(c.s.FontHeight) + " sheet " +
           std::to_string(c.grid.width) + "x" + std::to_string(c.grid.height) + " offsets " +
           std::to_string(c.s.StartOffset) + ".." + std::to_string(c.s.EndOffset) +
           (c.s.proportional() ? " -p" + std::to_string(c.s.DefaultWidth) : "");
}

TEST(Packer, AgreesWithThePlainPacker) {
    std::mt19937 rng(20261211);
    for (int i = 0; i < 400; ++i) {
        const RandomCase c = random_case(rng, 40);
        const Bytes file = test::make_bmp(c.grid, c.layout);
        const SheetImage whole = load(c.s, file);
        const Bytes expected = reference_pack(c.s, whole);
        MemorySource banded_source(file.data(), file.size(), true);  // read by rows of cells
        const SheetImage banded = load_sheet(c.s, banded_source, "in.bmp");
        for (const SheetImage* sheet : {&whole, &banded}) {
            FontImage font = make_font_image(c.s, glyph_count(c.s));
            pack_glyphs(c.s, *sheet, font);
            ASSERT_EQ(Bytes(font.bytes.get(), font.bytes.get() + font.fntsize), expected)
                << describe(c) << (sheet == &banded ? " (read by rows of cells)" : "");
        }
    }
}

bool bit_at(const Bytes& font, std::int64_t bit) {
    return (font[static_cast<std::size_t>(bit / 8)] >> (7 - bit % 8)) & 1;
}

// Decodes every glyph bit by bit and compares it with the cell as drawn.
TEST(Packer, RoundTripsTheInkOfEveryCell) {
    std::mt19937 rng(7);
    for (int i = 0; i < 400; ++i) {
        const RandomCase c = random_case(rng, 32);
        const FontSettings& s = c.s;
        const Bytes font = convert(s, c.grid, c.layout);
        const int cw = s.FontWidth, ch = s.FontHeight, ncols = c.grid.width / cw;
        const std::int64_t reclen = (cw * ch + 7) / 8 + 1;
        for (int off = s.StartOffset; off <= s.EndOffset; ++off) {
            const int i_glyph = off - s.StartOffset;
            auto drawn = [&](int x, int y) { return c.grid.at(off % ncols * cw + x, off / ncols * ch + y) != 0; };
            if (!s.proportional()) {
                const std::int64_t base = 32 * 8 + std::int64_t{i_glyph} * cw * ch;
                for (int y = 0; y < ch; ++y)
                    for (int x = 0; x < cw; ++x)
                        ASSERT_EQ(bit_at(font, base + y * cw + x), drawn(x, y)) << describe(c) << " off " << off;
                continue;
            }
            int xstart = cw, xend = 0;
            for (int y = 0; y < ch; ++y)
                for (int x = 0; x < cw; ++x)
                    if (drawn(x, y)) xstart = std::min(xstart, x), xend = std::max(xend, x + 1);
            const std::int64_t record = 32 + i_glyph * reclen;
            const int w = xend > xstart ? xend - xstart : s.DefaultWidth;
            ASSERT_EQ(font[static_cast<std::size_t>(record)], w) << describe(c) << " off " << off;
            for (std::int64_t k = 0; k < (reclen - 1) * 8; ++k) {
                const bool expected = xend > xstart && k < w * ch && drawn(xstart + static_cast<int>(k % w), static_cast<int>(k / w));
                ASSERT_EQ(bit_at(font, (record + 1) * 8 + k), expected) << describe(c) << " off " << off << " bit " << k;
            }
        }
    }
}

}  // namespace

// fontdump in-process: which files it refuses, how it counts glyphs, and
// the round trip sheet -> font -> sheet -> font.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "cli/settings.h"
#include "convert/font_file.h"
#include "convert/packer.h"
#include "convert/sheet.h"
#include "diag/diag.h"
#include "dump/fontdump.h"
#include "support.h"

using test::Bytes;
using test::Grid;

namespace {

// The picture lines of each glyph: after the line that starts with `lead`
// (the trace's last line before a picture, or fontdump's code line), the
// next `height` lines.
std::vector<std::string> pictures(const std::string& text, const std::string& lead, int height) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::vector<std::string> out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind(lead, 0) != 0) continue;
        std::string picture;
        for (int y = 1; y <= height; ++y) picture += lines[i + static_cast<std::size_t>(y)] + "\n";
        out.push_back(picture);
    }
    return out;
}

std::string refusal(Bytes bytes) {
    try {
        fontdump::parse_font(std::move(bytes));
    } catch (const fontdump::DumpError& e) {
        return e.what();
    }
    return "accepted";
}

Bytes sample_font(bool proportional) {
    Grid g(16, 8);
    g.at(2, 1) = g.at(4, 6) = g.at(12, 3) = 1;
    sheetcut::FontSettings s = test::settings_from("-s8,8 -c41,42 -o0,1 -nABC");
    if (proportional) s = test::settings_from("-s8,8 -c41,42 -o0,1 -nABC -p8");
    return test::convert(s, test::make_bmp(g)).font;
}

TEST(FontDump, RefusesWhatIsNotAFont) {
    const Bytes fixed = sample_font(false), prop = sample_font(true);
    auto with = [](Bytes b, std::size_t at, std::uint8_t v) { b[at] = v; return b; };
    auto cut = [](Bytes b, std::size_t n) { b.resize(n); return b; };
    const std::pair<Bytes, std::string> cases[] = {
        {cut(fixed, 31), "truncated header: 31 bytes of 32"},
        {{}, "truncated header: 0 bytes of 32"},
        {with(fixed, 0, 'G'), "not a font file: no \"FF\" magic"},
        {with(fixed, 2, 2), "unsupported version 2"},
        {with(fixed, 3, 16), "unsupported header size 16"},
        {with(fixed, 8, 2), "unknown flags 0x0002"},
        {with(fixed, 9, 1), "unknown flags 0x0100"},
        {with(fixed, 10, 0), "font width is 0"},
        {with(fixed, 11, 0), "font height is 0"},
        {with(fixed, 14, 63), "glyph size 63 is not the 64 bits of 8 x 8 glyphs"},
        {with(prop, 14, 8), "glyph size 8 is not the 9-byte record of 8 x 8 glyphs"},
        {cut(prop, prop.size() - 1), "glyph area of 17 bytes is not a whole number of 9-byte records"},
        {with(prop, 32 + 9, 9), "glyph 1 (code 42): width 9 exceeds the font width 8"},
    };
    for (const auto& [bytes, message] : cases) EXPECT_EQ(refusal(bytes), message);
    EXPECT_EQ(refusal(fixed), "accepted");
    EXPECT_EQ(refusal(prop), "accepted");
    EXPECT_EQ(refusal(cut(fixed, 32)), "accepted");  // no glyphs is still a font
}

TEST(FontDump, CountsGlyphsFromTheFileLength) {
    // 1 x 1 glyphs: three of them fill one byte, as would eight.
    Grid g(3, 1);
    g.at(1, 0) = 1;
    const Bytes three = test::convert(test::settings_from("-s1,1 -c10,12 -o0,2"), test::make_bmp(g)).font;
    EXPECT_EQ(fontdump::parse_font(three).count, 3);
    const Bytes unknown = test::convert(test::settings_from("-s1,1 -c10,1f -o0,2"), test::make_bmp(g)).font;
    EXPECT_EQ(fontdump::parse_font(unknown).count, 8);
    EXPECT_EQ(fontdump::parse_font(sample_font(true)).count, 2);
}

TEST(FontDump, PrintsHeaderAndGlyphs) {
    const fontdump::FontFile f = fontdump::parse_font(sample_font(true));
    EXPECT_EQ(fontdump::header_text(f),
              "name: ABC\nkind: proportional\nwidth: 8\nheight: 8\ngap: 0,0\nglyph size: 9 bytes\n"
              "codes: 41-42\ncct index: 0\nglyphs: 2\n");
    EXPECT_EQ(fontdump::glyph_text(f, 0), "code 41 width 3\n   \no  \n   \n   \n   \n   \n  o\n   \n\n");
    EXPECT_EQ(fontdump::sheetcut_options(f), "-s8,8 -c41,42 -o0,1 -nABC -p0");
}

TEST(FontDump, RoundTripsThroughASheet) {
    std::mt19937 rng(5);
    auto pick = [&](int lo, int hi) { return lo + static_cast<int>(rng() % static_cast<unsigned>(hi - lo + 1)); };
    for (int i = 0; i < 300; ++i) {
        const int cw = pick(1, 24), ch = pick(1, 24), ncols = pick(1, 6), nrows = pick(1, 4);
        const int inks[] = {0, 4, 30, 90};
        const Grid g = test::random_sheet(static_cast<std::uint32_t>(rng()), cw, ch, ncols, nrows, inks[rng() % 4]);
        const int a = pick(0, ncols * nrows - 1), b = pick(0, ncols * nrows - 1);
        // Glyphs of fewer than 8 bits need the code range to tell how many
        // the last byte holds; larger ones may have any. The range is also
        // left at its default, which leaves the count open.
        const int count = std::max(a, b) - std::min(a, b) + 1;
        const bool tiny = cw * ch < 8, codes_tell = !tiny || rng() % 2;
        const int start = codes_tell ? pick(0, 0xffff - count) : 0;
        const int end = !codes_tell ? 0 : tiny ? start + count - 1 : pick(0, 0xffff);
        std::ostringstream opts;
        opts << "-v -s" << cw << "," << ch << " -o" << std::hex << std::min(a, b) << "," << std::max(a, b) << std::dec
             << " -c" << std::hex << start << "," << end << std::dec << " -g" << pick(0, 255) << ","
             << pick(0, 255) << " -t" << pick(0, 255) << (rng() % 2 ? " -nXyZ" : "");
        if (rng() % 2) opts << " -p" << pick(0, cw);
        const sheetcut::FontSettings first = test::settings_from(opts.str());
        const test::Converted one = test::convert(first, test::make_bmp(g));

        const fontdump::FontFile f = fontdump::parse_font(one.font);
        sheetcut::FontSettings again = test::settings_from(fontdump::sheetcut_options(f));
        again.Verbose = 0;
        const test::Converted two = test::convert(again, fontdump::sheet_bmp(f, pick(1, 20)));
        ASSERT_EQ(test::hex(two.font), test::hex(one.font)) << opts.str();

        // Where the count is open, fontdump may see blank glyphs beyond the
        // packed ones, never fewer.
        ASSERT_EQ(codes_tell ? f.count == count : f.count >= count, true) << opts.str() << " " << f.count;
        std::string dumped;
        for (std::int64_t k = 0; k < count; ++k) dumped += fontdump::glyph_text(f, k);
        const std::string lead = first.proportional() ? "w = " : "font off = ";
        ASSERT_EQ(pictures(dumped, "code ", ch), pictures(one.trace, lead, ch)) << opts.str();
    }
}

}  // namespace

// sheetprep in-process: random drawings saved in every form real writers
// produce go through the picture readers, the ink decision and sheetcut's
// packer, and the font must hold exactly the drawn ink.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <sstream>

#include "pictures.h"
#include "prep/ink.h"
#include "prep/sheetprep.h"
#include "support.h"

using sheetcut::Rgba;
using test::Bytes;

namespace {

using Rng = std::mt19937;

int pick(Rng& rng, int lo, int hi) {
    return lo + static_cast<int>(rng() % static_cast<unsigned>(hi - lo + 1));
}

// What each pixel of a drawing is: background, ink, or a blend of the two
// (anti-aliasing) that the split point must put on one side.
enum Kind : std::uint8_t { kBackground, kInk, kLightBlend, kDarkBlend };

struct Drawing {
    int cw = 0, ch = 0, ncols = 0, nrows = 0;
    std::vector<Kind> kinds;
    int width() const { return cw * ncols; }
    int height() const { return ch * nrows; }
    bool expected_ink(std::size_t i) const { return kinds[i] == kInk || kinds[i] == kDarkBlend; }
};

// Ink on about a third of the pixels, at least one, the background on more
// than half; blends where asked.
Drawing random_drawing(Rng& rng, bool blends) {
    for (;;) {
        Drawing d;
        d.cw = pick(rng, 1, 10), d.ch = pick(rng, 1, 10), d.ncols = pick(rng, 1, 5), d.nrows = pick(rng, 1, 4);
        d.kinds.resize(static_cast<std::size_t>(d.width() * d.height()));
        std::size_t background = 0, ink = 0;
        for (auto& k : d.kinds) {
            const int roll = pick(rng, 0, 99);
            k = roll < 30 ? kInk : blends && roll < 33 ? kLightBlend : blends && roll < 36 ? kDarkBlend : kBackground;
            background += k == kBackground;
            ink += k == kInk;
        }
        if (ink > 0 && background * 2 > d.kinds.size()) return d;
    }
}

Rgba random_colour(Rng& rng) {
    return Rgba{static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()),
                255};
}

int largest_difference(Rgba a, Rgba b) {
    return std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
}

// Two colours at least min apart in some channel.
std::pair<Rgba, Rgba> two_colours(Rng& rng, int min) {
    for (;;) {
        const Rgba a = random_colour(rng), b = random_colour(rng);
        if (largest_difference(a, b) >= min) return {a, b};
    }
}

Rgba blend(Rgba bg, Rgba ink, double f) {
    auto mix = [f](int a, int b) { return static_cast<std::uint8_t>(a + std::lround(f * (b - a))); };
    return Rgba{mix(bg.r, ink.r), mix(bg.g, ink.g), mix(bg.b, ink.b), 255};
}

// The colour of each pixel of an opaque drawing.
Rgba colour_of(Kind k, Rgba bg, Rgba ink) {
    switch (k) {
    case kInk: return ink;
    case kLightBlend: return blend(bg, ink, 0.25);
    case kDarkBlend: return blend(bg, ink, 0.75);
    default: return bg;
    }
}

// A transparent page: background pixels less than half opaque, ink at least
// half, each of any colour. Alpha runs to full (255 or 65535).
std::pair<Rgba, int> transparent_page(Rng& rng, Kind k, int full) {
    const int half = (full + 1) / 2;
    return {random_colour(rng), k == kInk ? pick(rng, half, full) : pick(rng, 0, half - 1)};
}

// A palette of n entries with the background and ink at random places; the
// background may take several entries of one colour, as some writers
// leave it, each used less often than the ink.
struct Indexed {
    std::vector<Rgba> palette;
    std::vector<std::uint32_t> values;
};

Indexed random_indexed(Rng& rng, const Drawing& d, int max_entries, bool transparent) {
    const int n = pick(rng, 2, max_entries);
    Indexed out;
    for (int i = 0; i < n; ++i) out.palette.push_back(random_colour(rng));
    std::vector<int> order(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) order[static_cast<std::size_t>(i)] = i;
    std::shuffle(order.begin(), order.end(), rng);
    const int ink = order[0];
    const int spread = n >= 5 && rng() % 3 == 0 ? 3 : 1;  // background entries
    auto [bg, ink_colour] = two_colours(rng, 1);
    out.palette[static_cast<std::size_t>(ink)] = ink_colour;
    if (transparent) out.palette[static_cast<std::size_t>(ink)].a = static_cast<std::uint8_t>(pick(rng, 128, 255));
    if (transparent) bg.a = static_cast<std::uint8_t>(pick(rng, 0, 127));
    for (int s = 0; s < spread; ++s) out.palette[static_cast<std::size_t>(order[1 + static_cast<std::size_t>(s)])] = bg;
    for (std::size_t i = 0; i < d.kinds.size(); ++i)
        out.values.push_back(static_cast<std::uint32_t>(d.kinds[i] == kInk ? ink : order[1 + i % spread]));
    return out;
}

struct Form {
    std::string name;
    bool blends;  // the form can hold blended pixels
    std::function<Bytes(const Drawing&, Rng&)> write;
};

Bytes png_grey(const Drawing& d, Rng& rng, int depth, bool keyed) {
    test::PngForm f;
    f.colour_type = 0, f.depth = depth, f.interlaced = rng() % 2;
    const int top = depth == 16 ? 255 : (1 << depth) - 1, scale = depth == 16 ? 257 : 1;
    const int bg = pick(rng, 0, top);
    int ink = pick(rng, 0, top - 1);
    if (ink >= bg) ++ink;
    if (keyed) f.key = std::array<std::uint16_t, 3>{static_cast<std::uint16_t>(bg * scale), 0, 0};
    std::vector<std::uint16_t> samples;
    for (const Kind k : d.kinds) samples.push_back(static_cast<std::uint16_t>((k == kInk ? ink : bg) * scale));
    return test::write_png(d.width(), d.height(), samples, f);
}

Bytes png_colour(const Drawing& d, Rng& rng, int type, int depth, bool transparent) {
    test::PngForm f;
    f.colour_type = type, f.depth = depth, f.interlaced = rng() % 2;
    const int full = depth == 16 ? 65535 : 255, scale = depth == 16 ? 257 : 1;
    const auto [bg, ink] = two_colours(rng, 16);
    const bool grey = type == 0 || type == 4;
    std::vector<std::uint16_t> samples;
    for (const Kind k : d.kinds) {
        auto [c, alpha] = transparent ? transparent_page(rng, k, full) : std::pair{colour_of(k, bg, ink), full};
        if (grey) c.g = c.b = c.r;
        const std::uint16_t rgb[3] = {static_cast<std::uint16_t>(c.r * scale), static_cast<std::uint16_t>(c.g * scale),
                                      static_cast<std::uint16_t>(c.b * scale)};
        samples.insert(samples.end(), rgb, rgb + (grey ? 1 : 3));
        if (type == 4 || type == 6) samples.push_back(static_cast<std::uint16_t>(alpha));
    }
    if (type == 2 && !transparent && rng() % 3 == 0)
        f.key = std::array<std::uint16_t, 3>{0, 0, 0};  // a tRNS colour no pixel has changes nothing
    return test::write_png(d.width(), d.height(), samples, f);
}

Bytes png_palette(const Drawing& d, Rng& rng, int depth, bool transparent) {
    test::PngForm f;
    f.colour_type = 3, f.depth = depth, f.interlaced = rng() % 2;
    const Indexed indexed = random_indexed(rng, d, 1 << depth, transparent);
    f.palette = indexed.palette;
    return test::write_png(d.width(), d.height(), std::vector<std::uint16_t>(indexed.values.begin(), indexed.values.end()), f);
}

Bytes bmp_indexed(const Drawing& d, Rng& rng, std::uint32_t header, int bpp, std::uint32_t compression) {
    test::BmpForm f;
    f.header_size = header, f.bpp = bpp, f.compression = compression;
    f.top_down = header != 12 && compression == 0 && rng() % 2;
    f.rle_literals = rng() % 2;
    const Indexed indexed = random_indexed(rng, d, 1 << bpp, false);
    f.palette = indexed.palette;
    return test::write_bmp_picture(d.width(), d.height(), indexed.values, f);
}

// 16, 24 and 32 bits; masks as given (bit fields) or the defaults.
Bytes bmp_direct(const Drawing& d, Rng& rng, std::uint32_t header, int bpp, std::array<std::uint32_t, 4> masks,
                 bool transparent) {
    test::BmpForm f;
    f.header_size = header, f.bpp = bpp, f.top_down = header != 12 && rng() % 2;
    f.compression = masks[0] != 0 ? 3 : 0;
    f.masks = masks;
    if (f.compression == 0) masks = bpp == 16 ? std::array<std::uint32_t, 4>{0x7c00, 0x3e0, 0x1f, 0}
                                              : std::array<std::uint32_t, 4>{0xff0000, 0xff00, 0xff, 0xff000000};
    // A channel value scaled to its mask.
    auto place = [](std::uint8_t v, std::uint32_t mask) -> std::uint32_t {
        if (mask == 0) return 0;
        int shift = 0;
        while (((mask >> shift) & 1) == 0) ++shift;
        const std::uint32_t max = mask >> shift;
        return (v * max / 255) << shift;
    };
    std::pair<Rgba, Rgba> colours;
    // The two colours must stay apart in the bits the masks keep.
    do colours = two_colours(rng, bpp == 16 ? 1 : 16);
    while (bpp == 16 && ((place(colours.first.r, masks[0]) | place(colours.first.g, masks[1]) |
                          place(colours.first.b, masks[2])) == (place(colours.second.r, masks[0]) |
                                                                 place(colours.second.g, masks[1]) |
                                                                 place(colours.second.b, masks[2]))));
    std::vector<std::uint32_t> values;
    for (const Kind k : d.kinds) {
        const auto [c, alpha] =
            transparent ? transparent_page(rng, k, 255) : std::pair{colour_of(k, colours.first, colours.second), 0};
        values.push_back(place(c.r, masks[0]) | place(c.g, masks[1]) | place(c.b, masks[2]) |
                         place(static_cast<std::uint8_t>(alpha), masks[3]));
    }
    return test::write_bmp_picture(d.width(), d.height(), values, f);
}

std::vector<Form> all_forms() {
    std::vector<Form> forms;
    for (const int depth : {1, 2, 4, 8, 16}) {
        forms.push_back({"PNG grey " + std::to_string(depth), false,
                         [depth](const Drawing& d, Rng& rng) { return png_grey(d, rng, depth, false); }});
        forms.push_back({"PNG grey " + std::to_string(depth) + " keyed", false,
                         [depth](const Drawing& d, Rng& rng) { return png_grey(d, rng, depth, true); }});
    }
    for (const int depth : {1, 2, 4, 8})
        for (const bool transparent : {false, true})
            forms.push_back({"PNG palette " + std::to_string(depth) + (transparent ? " tRNS" : ""), false,
                             [=](const Drawing& d, Rng& rng) { return png_palette(d, rng, depth, transparent); }});
    for (const int type : {2, 4, 6})
        for (const int depth : {8, 16})
            for (const bool transparent : {false, true}) {
                if (type == 2 && transparent) continue;
                forms.push_back({"PNG type " + std::to_string(type) + " " + std::to_string(depth) +
                                     (transparent ? " transparent" : ""),
                                 depth == 8 && !transparent && type != 4,
                                 [=](const Drawing& d, Rng& rng) { return png_colour(d, rng, type, depth, transparent); }});
            }
    for (const std::uint32_t header : {12u, 40u, 52u, 56u, 108u, 124u}) {
        for (const int bpp : {1, 4, 8})
            forms.push_back({"BMP " + std::to_string(header) + " " + std::to_string(bpp), false,
                             [=](const Drawing& d, Rng& rng) { return bmp_indexed(d, rng, header, bpp, 0); }});
        forms.push_back({"BMP " + std::to_string(header) + " 24", true,
                         [=](const Drawing& d, Rng& rng) { return bmp_direct(d, rng, header, 24, {}, false); }});
        if (header == 12) continue;
        forms.push_back({"BMP " + std::to_string(header) + " RLE8", false,
                         [=](const Drawing& d, Rng& rng) { return bmp_indexed(d, rng, header, 8, 1); }});
        forms.push_back({"BMP " + std::to_string(header) + " RLE4", false,
                         [=](const Drawing& d, Rng& rng) { return bmp_indexed(d, rng, header, 4, 2); }});
        forms.push_back({"BMP " + std::to_string(header) + " 16", false,
                         [=](const Drawing& d, Rng& rng) { return bmp_direct(d, rng, header, 16, {}, false); }});
        forms.push_back({"BMP " + std::to_string(header) + " 16 5-6-5", false, [=](const Drawing& d, Rng& rng) {
                             return bmp_direct(d, rng, header, 16, {0xf800, 0x7e0, 0x1f, 0}, false);
                         }});
        forms.push_back({"BMP " + std::to_string(header) + " 32", true,
                         [=](const Drawing& d, Rng& rng) { return bmp_direct(d, rng, header, 32, {}, false); }});
        forms.push_back({"BMP " + std::to_string(header) + " 32 alpha", false,
                         [=](const Drawing& d, Rng& rng) { return bmp_direct(d, rng, header, 32, {}, true); }});
        if (header >= 56)
            forms.push_back({"BMP " + std::to_string(header) + " 32 fields alpha", false, [=](const Drawing& d, Rng& rng) {
                                 return bmp_direct(d, rng, header, 32, {0xff, 0xff00, 0xff000000, 0xff0000}, true);
                             }});
    }
    return forms;
}

// The ink of cell k of the font, bit by bit, against the drawing.
void expect_font_is_drawing(const Bytes& font, const Drawing& d, const std::string& what) {
    const std::size_t cell = static_cast<std::size_t>(d.cw) * d.ch;
    ASSERT_EQ(font.size(), 32 + (cell * d.ncols * d.nrows + 7) / 8) << what;
    for (int k = 0; k < d.ncols * d.nrows; ++k)
        for (int y = 0; y < d.ch; ++y)
            for (int x = 0; x < d.cw; ++x) {
                const std::size_t bit = k * cell + static_cast<std::size_t>(y * d.cw + x);
                const bool got = (font[32 + bit / 8] >> (7 - bit % 8)) & 1;
                const std::size_t px =
                    static_cast<std::size_t>((k / d.ncols * d.ch + y) * d.width() + k % d.ncols * d.cw + x);
                ASSERT_EQ(got, d.expected_ink(px)) << what << ": cell " << k << " (" << x << ", " << y << ")";
            }
}

TEST(SheetPrep, EveryFormOfADrawingCutsAsDrawn) {
    Rng rng(9);
    const std::vector<Form> forms = all_forms();
    for (int round = 0; round < 6; ++round)
        for (const Form& form : forms) {
            const Drawing d = random_drawing(rng, form.blends && rng() % 2);
            const Bytes file = form.write(d, rng);
            const sheetcut::Picture pic = sheetcut::decode_picture(file, sheetcut::kPrepLimits);
            sheetcut::InkReport report;
            const sheetcut::SheetBmp sheet = sheetcut::ink_sheet(pic, {}, report);
            std::ostringstream options;
            options << "-s" << d.cw << "," << d.ch << " -o0," << std::hex << d.ncols * d.nrows - 1;
            const test::Converted font = test::convert(test::settings_from(options.str()), sheet.bytes);
            expect_font_is_drawing(font.font, d, form.name + " (" + pic.format + ")");
            if (testing::Test::HasFatalFailure()) return;
        }
}

// The options a user has when the guess is wrong.
TEST(SheetPrep, NamedBackgroundInversionAndSplit) {
    // One row: white, a light grey at 30 % of the way to black, black, and
    // white again; grey is neither background nor ink at the default split.
    const sheetcut::Rgba white{255, 255, 255, 255}, grey{178, 178, 178, 255}, black{0, 0, 0, 255};
    sheetcut::Picture pic;
    pic.width = 4, pic.height = 1, pic.indexed = true;
    pic.palette = {white, grey, black};
    pic.pixels = {0, 1, 2, 0};
    auto row = [&](const sheetcut::InkOptions& o, sheetcut::InkReport& r) {
        sheetcut::SheetBmp s = sheetcut::ink_sheet(pic, o, r);
        const std::uint8_t* p = s.row(0);
        return std::string{char('0' + p[0]), char('0' + p[1]), char('0' + p[2]), char('0' + p[3])};
    };
    sheetcut::InkReport r;
    EXPECT_EQ(row({}, r), "0010");
    EXPECT_EQ(r.between, 1);
    EXPECT_EQ(r.between_ink, 0);
    EXPECT_EQ(row({.background = {}, .invert = false, .split = 30}, r), "0110");
    EXPECT_EQ(row({.background = {}, .invert = true, .split = 50}, r), "1101");
    // Black named as the background: white and grey (70 % of the way) are
    // then the ink.
    EXPECT_EQ(row({.background = black, .invert = false, .split = 50}, r), "1101");
    EXPECT_TRUE(r.named);
    // One colour: all background, not an error.
    pic.pixels = {1, 1, 1, 1};
    EXPECT_EQ(row({}, r), "0000");
    EXPECT_EQ(r.largest_difference, 0);
}

}  // namespace

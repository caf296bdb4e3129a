// Sheet loading in-process: the grid it derives and where it finds the
// pixel rows for the layouts real writers produce.
#include <gtest/gtest.h>

#include "convert/sheet.h"
#include "diag/diag.h"
#include "support.h"

using namespace sheetcut;
using test::BmpOptions;
using test::Grid;

namespace {

FontSettings cells(int w, int h, int start = 0, int end = 0) {
    FontSettings s;
    s.FontWidth = w;
    s.FontHeight = h;
    s.StartOffset = start;
    s.EndOffset = end;
    return s;
}

SheetImage load(const FontSettings& s, const test::Bytes& file) {
    MemorySource source(file.data(), file.size());
    return load_sheet(s, source, "in.bmp");
}

// The palette index the loader gives for pixel (x, y) of the image as seen.
std::uint8_t pixel(const SheetImage& img, int x, int y) {
    return img.pixels[static_cast<std::size_t>(img.top_row - std::int64_t{y} * img.bmpwidth + x)];
}

TEST(LoadSheet, DerivesTheCellGrid) {
    const SheetImage img = load(cells(8, 16, 0, 0x3f), test::make_bmp(Grid(128, 64)));
    EXPECT_EQ(img.ncols, 16);
    EXPECT_EQ(img.nlines, 4);
    EXPECT_EQ(img.nbmps, 64);
    EXPECT_EQ(img.bmpwidth, 128);
    EXPECT_EQ(img.bmpnext, 128 * 16);
    EXPECT_EQ(img.bmpsize, 128 * 64);
}

TEST(LoadSheet, PadsRowsToFourBytes) {
    EXPECT_EQ(load(cells(100, 1), test::make_bmp(Grid(100, 1))).bmpwidth, 100);
    EXPECT_EQ(load(cells(101, 1), test::make_bmp(Grid(101, 1))).bmpwidth, 104);
}

// Every layout must give back the image exactly as drawn.
TEST(LoadSheet, FindsRowsFromTheFileFields) {
    Grid g(13, 6);
    for (int y = 0; y < g.height; ++y)
        for (int x = 0; x < g.width; ++x) g.at(x, y) = static_cast<std::uint8_t>(y * 16 + x);
    for (const BmpOptions& o : test::writer_layouts()) {
        const SheetImage img = load(cells(13, 3), test::make_bmp(g, o));
        for (int y = 0; y < g.height; ++y)
            for (int x = 0; x < g.width; ++x) ASSERT_EQ(pixel(img, x, y), g.at(x, y)) << x << "," << y;
    }
}

TEST(LoadSheet, RefusesWithExitRequest) {
    const test::Bytes file = test::make_bmp(Grid(16, 8));
    testing::internal::CaptureStderr();
    EXPECT_THROW(load(cells(16, 8, 1, 1), file), ExitRequest);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "sheetcut: start offset: out of range.\n");
    // A source cut anywhere fails cleanly, never reading past its end.
    for (std::size_t n = 0; n < file.size(); ++n) {
        MemorySource source(file.data(), n);
        testing::internal::CaptureStderr();
        EXPECT_THROW(load_sheet(cells(16, 8), source, "in.bmp"), ExitRequest);
        const std::string err = testing::internal::GetCapturedStderr();
        const bool named = err == "sheetcut: in.bmp: Unexpected end of file.\n";
        EXPECT_TRUE(named) << n << ": " << err;
    }
}

}  // namespace

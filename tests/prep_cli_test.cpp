// The sheetprep binary as a user meets it: the report, the sheet's bytes,
// the printed command, each refusal, and an output path left alone.
#include <gtest/gtest.h>
#include <zlib.h>

#include "pictures.h"
#include "support.h"

using test::Bytes;
using test::RunResult;

namespace {

test::RunResult run_sheetprep(const std::vector<std::string>& args, const std::filesystem::path& dir) {
    return test::run_program(SHEETPREP_BIN, args, dir);
}

// A drawing of two 4 x 3 cells, black ink on white: an L and a dot.
const char* const kDrawing[] = {
    "x.......",
    "x....x..",
    "xxx.....",
};

// The drawing as a PNG palette picture with black at index 0, as most
// writers order it.
Bytes drawing_png(bool interlaced) {
    test::PngForm f;
    f.colour_type = 3, f.depth = 1, f.interlaced = interlaced;
    f.palette = {{0, 0, 0, 255}, {255, 255, 255, 255}};
    std::vector<std::uint16_t> samples;
    for (const char* row : kDrawing)
        for (const char* p = row; *p; ++p) samples.push_back(*p == 'x' ? 0 : 1);
    return test::write_png(8, 3, samples, f);
}

class PrepCli : public testing::Test {
protected:
    RunResult prep(const std::vector<std::string>& args) { return run_sheetprep(args, dir_.path("")); }
    test::ScratchDir dir_;
};

TEST_F(PrepCli, ReportsWhatItDecidedAndPrintsTheCommand) {
    dir_.write("in.png", drawing_png(true));
    const RunResult r = prep({"-v", "-s4,3", "in.png", "sheet.bmp"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "read: PNG, 1-bit palette, interlaced\n"
              "size: 8 x 3 pixels\n"
              "background: ffffff, the most common colour (18 pixels)\n"
              "largest difference: 255; ink: pixels that differ by at least 50% of it\n"
              "ink: 6 pixels\n"
              "in between: 0 pixels, 0 made ink, 0 background\n"
              "sheet.bmp: 2 x 1 cells of 4 x 3 pixels\n"
              "sheetcut -s4,3 -o0,1 sheet.bmp FONT\n");
    // The sheet: 1078 bytes of headers and palette, rows of 8 bytes
    // bottom-up, index 1 for ink.
    const Bytes sheet = test::read_file(dir_.path("sheet.bmp"));
    ASSERT_EQ(sheet.size(), 1078u + 3 * 8);
    EXPECT_EQ(test::hex(Bytes(sheet.begin(), sheet.begin() + 62)),
              "42 4D 4E 04 00 00 00 00 00 00 36 04 00 00 28 00 00 00 08 00 00 00 03 00 00 00 01 00 08 00 "
              "00 00 00 00 18 00 00 00 13 0B 00 00 13 0B 00 00 00 01 00 00 00 00 00 00 FF FF FF 00 00 00 00 00");
    EXPECT_EQ(test::hex(Bytes(sheet.begin() + 1078, sheet.end())),
              "01 01 01 00 00 00 00 00 01 00 00 00 00 01 00 00 01 00 00 00 00 00 00 00");
    // And sheetcut cuts the drawing from it.
    const RunResult cut = test::run_sheetcut({"-s4,3", "-o0,1", "sheet.bmp", "f.fnt"}, dir_.path(""));
    ASSERT_EQ(cut.status, 0) << cut.err;
    // L: 1000 1000 1110, dot: 0000 0100 0000, one bit stream.
    EXPECT_EQ(test::hex(test::read_file(dir_.path("f.fnt"))).substr(96), "88 E0 40");
}

TEST_F(PrepCli, ReadsStandardInputAndQuotesTheOutputPath) {
    dir_.write("in.png", drawing_png(false));
    const RunResult r = test::run_shell("\"$SHEETPREP\" -s4,3 - 'my sheet.bmp' < in.png", dir_.path(""));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "my sheet.bmp: 2 x 1 cells of 4 x 3 pixels\nsheetcut -s4,3 -o0,1 'my sheet.bmp' FONT\n");
    EXPECT_EQ(test::read_file(dir_.path("my sheet.bmp")).size(), 1078u + 24);
    // The sheet to standard output: the words go to standard error.
    const RunResult piped = test::run_shell("\"$SHEETPREP\" -s4,3 in.png - > piped.bmp", dir_.path(""));
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.err, "standard output: 2 x 1 cells of 4 x 3 pixels\nsheetcut -s4,3 -o0,1 SHEET FONT\n");
    EXPECT_EQ(test::read_file(dir_.path("piped.bmp")), test::read_file(dir_.path("my sheet.bmp")));
}

// Each refusal: its message, status 1, and the output path as it was.
TEST_F(PrepCli, RefusesWhatItCannotReadAndLeavesTheOutputAlone) {
    const Bytes png = drawing_png(false);
    Bytes bad_crc = png;
    bad_crc[29] ^= 1;  // the IHDR checksum
    // The size is refused before the pixels are read: only IHDR changes.
    auto png_of_size = [&](std::uint32_t w, std::uint32_t h) {
        Bytes b = png;
        for (int i = 0; i < 4; ++i) {
            b[16 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(w >> (24 - 8 * i));
            b[20 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(h >> (24 - 8 * i));
        }
        const auto crc = static_cast<std::uint32_t>(crc32(0, b.data() + 12, 17));
        for (int i = 0; i < 4; ++i) b[29 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
        return b;
    };
    const Bytes bmp = test::write_bmp_picture(4, 2, {0, 1, 1, 0, 1, 0, 0, 1}, [] {
        test::BmpForm f;
        f.palette = {{255, 255, 255, 255}, {0, 0, 0, 255}};
        return f;
    }());
    auto with = [](Bytes b, std::size_t at, std::uint8_t v) { b[at] = v; return b; };
    auto cut = [](const Bytes& b, std::size_t n) { return Bytes(b.begin(), b.begin() + static_cast<long>(n)); };
    Bytes rle = test::write_bmp_picture(4, 2, {0, 1, 1, 0, 1, 0, 0, 1}, [] {
        test::BmpForm f;
        f.compression = 1;
        f.palette = {{255, 255, 255, 255}, {0, 0, 0, 255}};
        return f;
    }());
    const std::size_t rle_start = 14 + 40 + 8;
    Bytes long_run = with(rle, rle_start, 9);  // a first run of 9 in a row of 4
    Bytes high_index = with(bmp, 14 + 40 + 8, 0x07);  // index 7 of a 2-entry palette
    const std::pair<Bytes, std::string> cases[] = {
        {{0xff, 0xd8, 0xff, 0xe0, 0, 0x10, 'J', 'F', 'I', 'F'}, "not a PNG or BMP image, nor a font sheetprep reads (JPEG?)"},
        {Bytes{'G', 'I', 'F', '8', '9', 'a'}, "not a PNG or BMP image, nor a font sheetprep reads (GIF?)"},
        {Bytes{'h', 'e', 'l', 'l', 'o'}, "not a PNG or BMP image, nor a font sheetprep reads"},
        {{}, "empty, not a PNG or BMP image, nor a font"},
        {cut(png, 60), "PNG: end of stream"},
        {bad_crc, "PNG: invalid chunk checksum"},
        {png_of_size(70000, 1), "70000 x 1 pixels is over the limit (65535 pixels a side, 268435456 in all)"},
        {png_of_size(20000, 20000), "20000 x 20000 pixels is over the limit (65535 pixels a side, 268435456 in all)"},
        {cut(bmp, 30), "truncated inside its 40-byte info header"},
        {cut(bmp, bmp.size() - 5), "truncated: the pixel rows need 8 bytes, the file has 3"},
        {with(bmp, 14, 64), "OS/2 2.x bitmaps (64-byte header) are not read"},
        {with(bmp, 28, 2), "2 bits per pixel is not read (1, 4, 8, 16, 24 and 32 are)"},
        {with(with(bmp, 18, 0x80), 20, 0x38), "3670144 x 2 pixels is over the limit (65535 pixels a side, 268435456 in all)"},
        {long_run, "RLE data runs past the end of row 0"},
        {cut(rle, rle.size() - 2), "RLE data ends before its end-of-bitmap mark"},
        {high_index, "pixel (0, 1) has palette index 7, past the 2-entry palette"},
    };
    for (const auto& [bytes, message] : cases) {
        dir_.write("in", bytes);
        dir_.write("out.bmp", {'o', 'l', 'd'});
        const RunResult r = prep({"in", "out.bmp"});
        EXPECT_EQ(r.status, 1) << message;
        EXPECT_EQ(r.out, "") << message;
        EXPECT_EQ(r.err, "sheetprep: in: " + message + "\n");
        EXPECT_EQ(test::read_file(dir_.path("out.bmp")), (Bytes{'o', 'l', 'd'})) << message;
        EXPECT_EQ(dir_.entries(), (std::vector<std::string>{"in", "out.bmp"})) << message;
    }
}

TEST_F(PrepCli, CellsThatDoNotDivideAreRefused) {
    dir_.write("in.png", drawing_png(false));
    const RunResult r = prep({"-s3,3", "in.png", "out.bmp"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "sheetprep: in.png: 8 x 3 pixels do not divide into 3 x 3 cells\n");
    EXPECT_FALSE(std::filesystem::exists(dir_.path("out.bmp")));
}

TEST_F(PrepCli, HelpVersionAndUsage) {
    RunResult r = prep({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.substr(0, 16), "Usage: sheetprep");
    EXPECT_EQ(r.err, "");
    r = prep({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.substr(0, 10), "sheetprep ");
    const std::string usage = prep({"--help"}).out;
    const std::vector<std::vector<std::string>> misuse = {
        {}, {"in.png"}, {"a", "b", "c"}, {"-b", "fff", "a", "b"}, {"-b", "gggggg", "a", "b"}, {"-t", "0", "a", "b"},
        {"-t", "101", "a", "b"}, {"-s", "8", "a", "b"}, {"-s", "0,8", "a", "b"}, {"-s", "256,8", "a", "b"}, {"-x", "a", "b"},
    };
    for (const auto& args : misuse) {
        r = prep(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, usage);
    }
}

TEST_F(PrepCli, UnwritableOutputLeavesNothingBehind) {
    dir_.write("in.png", drawing_png(false));
    const RunResult r = prep({"in.png", "no/such/dir/out.bmp"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "sheetprep: no/such/dir/out.bmp: No such file or directory\n");
    EXPECT_EQ(dir_.entries(), (std::vector<std::string>{"in.png"}));
}

// A font, then the command sheetprep prints, gives a font of the font's own
// glyphs: here the console font the sample sheet was drawn from, whose font
// must equal the sample's.
TEST_F(PrepCli, FontToSheetToFontInTwoCommands) {
    const char* const psf = "/usr/share/consolefonts/Uni2-Terminus16.psf.gz";
    if (!std::filesystem::exists(psf)) GTEST_SKIP() << psf << " is not installed";
    RunResult r = prep({"-c20,7f", psf, "sheet.bmp"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "sheet.bmp: 96 glyphs, 8 x 16 cells, 16 to a row\nsheetcut -s8,16 -c20,7f -o0,5f sheet.bmp FONT\n");
    EXPECT_EQ(r.err, std::string("sheetprep: ") + psf + ": 1 of 96 codes are not in the font; their cells are blank: 7f\n");
    const std::string command = r.out.substr(r.out.find("sheetcut "));
    r = test::run_shell("\"$SHEETCUT\" " + command.substr(9, command.size() - 9 - 6) + " from-font.fnt", dir_.path(""));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string sample = std::string(SOURCE_DIR) + "/examples/terminus-8x16.bmp";
    ASSERT_EQ(test::run_sheetcut({"-s8,16", "-c20,7f", "-o0,5f", sample, "sample.fnt"}, dir_.path("")).status, 0);
    EXPECT_EQ(test::read_file(dir_.path("from-font.fnt")), test::read_file(dir_.path("sample.fnt")));
}

// Each refusal of a font: its message, status 1, nothing written.
TEST_F(PrepCli, FontRefusals) {
    dir_.write("small.bdf", Bytes(test::kSmallBdf, test::kSmallBdf + sizeof test::kSmallBdf - 1));
    dir_.write("picture.png", drawing_png(false));
    Bytes psf = {0x36, 0x04, 0x00, 0x10};
    psf.resize(100);  // 256 glyphs of 16 bytes promised
    dir_.write("short.psf", psf);
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    std::vector<Case> cases = {
        {{"-z5", "small.bdf"}, "small.bdf: no 5-pixel strike; the font has 4"},
        {{"-c0,10000", "small.bdf"}, "small.bdf: -c asks for 65537 codes; one sheet holds at most 65536"},
        {{"-c41,41", "-i", "small.bdf"}, "small.bdf: -b, -i and -t are for pictures, and this is a font"},
        {{"-z12", "picture.png"}, "picture.png: -c, -z and -w are for fonts, and this is a picture"},
        {{"short.psf"}, "short.psf: PSF: truncated glyphs"},
        {{"-c41,41", "-s300,4", "small.bdf"}, ""},  // usage: sheetcut's cells are at most 255
    };
    const char* const dejavu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    if (std::filesystem::exists(dejavu)) {
        const Bytes ttf = test::read_file(dejavu);
        dir_.write("sans.ttf", ttf);
        dir_.write("cut.ttf", Bytes(ttf.begin(), ttf.begin() + 2000));
        cases.push_back({{"sans.ttf"}, "sans.ttf: an outline font needs a size: give -z PX, the em height in pixels"});
        cases.push_back({{"-z12", "cut.ttf"}, "cut.ttf: not a PNG or BMP image, nor a font sheetprep reads (TrueType font?)"});
        cases.push_back({{"-z400", "-c57,57", "sans.ttf"},
                         "sans.ttf: the glyphs need a 396 x 467 cell; sheetcut takes at most 255 a side (use a smaller -z, "
                         "or -s to clip)"});
    }
    const std::string usage = prep({"--help"}).out;
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back("out.bmp");
        const RunResult r = prep(args);
        EXPECT_EQ(r.status, 1) << c.message;
        EXPECT_EQ(r.out, "") << c.message;
        EXPECT_EQ(r.err, c.message.empty() ? usage : "sheetprep: " + c.message + "\n");
        EXPECT_FALSE(std::filesystem::exists(dir_.path("out.bmp"))) << c.message;
    }
}

}  // namespace

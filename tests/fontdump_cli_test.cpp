// The fontdump binary as a user meets it.
#include <gtest/gtest.h>

#include <sstream>

#include "support.h"

using test::Bytes;
using test::Grid;
using test::RunResult;

namespace {

const std::string kUsage =
    "Usage: fontdump [-H] [-c code] font-file\n"
    "       fontdump -b sheet.bmp [-w cells] font-file\n"
    "\t-H\tshow the header alone\n"
    "\t-c code\tshow the glyph of one code (in hex)\n"
    "\t-b file\twrite the glyphs into an 8-bit BMP sheet\n"
    "\t-w n\tcells per row of the sheet (default 16)\n";

class FontDumpCli : public testing::Test {
protected:
    void SetUp() override {
        // Three 5 x 7 glyphs: an L, a blank and a dot in the last column.
        Grid g(15, 7);
        for (int y = 0; y < 7; ++y) g.at(0, y) = 1;
        for (int x = 0; x < 5; ++x) g.at(x, 6) = 1;
        g.at(14, 3) = 1;
        dir_.write("in.bmp", test::make_bmp(g));
    }
    RunResult sheetcut(const std::vector<std::string>& args) { return test::run_sheetcut(args, dir_.path("")); }
    RunResult dump(const std::vector<std::string>& args) { return test::run_fontdump(args, dir_.path("")); }
    test::ScratchDir dir_;
};

TEST_F(FontDumpCli, ShowsHeaderAndGlyphs) {
    ASSERT_EQ(sheetcut({"-s5,7", "-c41,43", "-o0,2", "-nLDT", "-g1,2", "-t9", "in.bmp", "f.fnt"}).status, 0);
    RunResult r = dump({"f.fnt"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const std::string header =
        "name: LDT\nkind: fixed-width\nwidth: 5\nheight: 7\ngap: 1,2\nglyph size: 35 bits\n"
        "codes: 41-43\ncct index: 9\nglyphs: 3\n";
    const std::string blank = "     \n";
    const std::string ell = "code 41\no    \no    \no    \no    \no    \no    \nooooo\n\n";
    EXPECT_EQ(r.out, header + "\n" + ell + "code 42\n" + blank + blank + blank + blank + blank + blank + blank +
                         "\ncode 43\n" + blank + blank + blank + "    o\n" + blank + blank + blank + "\n");
    EXPECT_EQ(dump({"-H", "f.fnt"}).out, header);
    EXPECT_EQ(dump({"-c41", "f.fnt"}).out, ell);
    EXPECT_EQ(dump({"-c", "0x41", "f.fnt"}).out, ell);
    r = dump({"-c", "44", "f.fnt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "fontdump: f.fnt: no glyph for code 44\n");
}

TEST_F(FontDumpCli, ShowsTheSampleFontsLetters) {
    const std::string sample = std::string(SOURCE_DIR) + "/examples/terminus-8x16.bmp";
    ASSERT_EQ(sheetcut({"-s8,16", "-c20,7e", "-o0,5e", sample, "ascii.fnt"}).status, 0);
    const RunResult r = dump({"-c", "41", "ascii.fnt"});
    EXPECT_EQ(r.out,
              "code 41\n"
              "        \n"
              "        \n"
              "  oooo  \n"
              " o    o \n"
              " o    o \n"
              " o    o \n"
              " o    o \n"
              " oooooo \n"
              " o    o \n"
              " o    o \n"
              " o    o \n"
              " o    o \n"
              "        \n"
              "        \n"
              "        \n"
              "        \n\n");
    EXPECT_NE(dump({"ascii.fnt"}).out.find("glyphs: 95\n"), std::string::npos);
}

std::string slurp(const std::string& path) {
    const Bytes b = test::read_file(path);
    return std::string(b.begin(), b.end());
}

// The picture lines of a trace or a dump: those made of "o" and spaces only
// (blank ones included), in order.
std::vector<std::string> picture_lines(const std::string& text, const std::string& after) {
    std::vector<std::string> lines;
    std::istringstream in(text.substr(text.find(after)));
    for (std::string line; std::getline(in, line);)
        if (line.find_first_not_of("o ") == std::string::npos) lines.push_back(line);
    return lines;
}

// The whole -v trace of the bundled sheet, both font kinds, is kept as a
// golden file; fontdump must draw the same pictures from the font.
TEST_F(FontDumpCli, SampleTracesMatchTheirGoldenFilesAndTheDump) {
    const std::string sample = std::string(SOURCE_DIR) + "/examples/terminus-8x16.bmp";
    const std::pair<const char*, std::vector<std::string>> runs[] = {
        {"terminus-fixed", {"-v", "-s8,16", "-c20,7e", "-o0,5e", "-nTER", sample, "f.fnt"}},
        {"terminus-proportional", {"-v", "-s8,16", "-c20,7e", "-o0,5e", "-p4", sample, "f.fnt"}},
    };
    for (const auto& [name, args] : runs) {
        const RunResult r = sheetcut(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, slurp(std::string(SOURCE_DIR) + "/tests/golden/" + name + ".trace")) << name;
        const RunResult d = dump({"f.fnt"});
        EXPECT_EQ(picture_lines(d.out, "code 20"), picture_lines(r.out, "off = 0000")) << name;
    }
}

TEST_F(FontDumpCli, SheetRoundTripsThroughSheetcut) {
    for (const char* kind : {"-v", "-p2"}) {
        ASSERT_EQ(sheetcut({kind, "-s5,7", "-c41,43", "-o0,2", "-nLDT", "in.bmp", "f.fnt"}).status, 0);
        const RunResult r = dump({"-b", "back.bmp", "-w", "2", "f.fnt"});
        ASSERT_EQ(r.status, 0) << r.err;
        // The last line is the sheetcut command that turns the sheet back.
        std::istringstream lines(r.out);
        std::string first, command;
        std::getline(lines, first);
        std::getline(lines, command);
        EXPECT_EQ(first, "back.bmp: 3 glyphs, 2 to a row");
        std::istringstream words(command);
        std::vector<std::string> args;
        for (std::string w; words >> w;) args.push_back(w);
        ASSERT_EQ(args.front(), "sheetcut");
        ASSERT_EQ(args.back(), "FONT");
        args.back() = "again.fnt";
        args.erase(args.begin());
        ASSERT_EQ(sheetcut(args).status, 0) << command;
        EXPECT_EQ(test::read_file(dir_.path("again.fnt")), test::read_file(dir_.path("f.fnt"))) << command;
        EXPECT_EQ(test::read_file(dir_.path("back.bmp")).size(), 1078u + 12 * 14);  // 10 x 14, rows of 12
    }
}

TEST_F(FontDumpCli, RefusesFilesThatAreNotFonts) {
    ASSERT_EQ(sheetcut({"-s5,7", "-o0,2", "in.bmp", "f.fnt"}).status, 0);
    const Bytes good = test::read_file(dir_.path("f.fnt"));
    auto with = [&](std::size_t at, std::uint8_t v) { Bytes b = good; b[at] = v; return b; };
    const std::pair<Bytes, std::string> cases[] = {
        {Bytes(good.begin(), good.begin() + 20), "truncated header: 20 bytes of 32"},
        {with(1, 'X'), "not a font file: no \"FF\" magic"},
        {with(2, 7), "unsupported version 7"},
        {with(10, 0), "font width is 0"},
        {with(8, 4), "unknown flags 0x0004"},
    };
    for (const auto& [bytes, message] : cases) {
        dir_.write("x.fnt", bytes);
        const RunResult r = dump({"x.fnt"});
        EXPECT_EQ(r.status, 1) << message;
        EXPECT_EQ(r.out, "") << message;
        EXPECT_EQ(r.err, "fontdump: x.fnt: " + message + "\n");
    }
    const RunResult missing = dump({"missing.fnt"});
    EXPECT_EQ(missing.err, "fontdump: missing.fnt: No such file or directory\n");
    EXPECT_EQ(missing.status, 1);
}

TEST_F(FontDumpCli, MisuseGivesUsage) {
    const std::vector<std::vector<std::string>> misuse = {
        {}, {"a.fnt", "b.fnt"}, {"-x", "a.fnt"}, {"-c"}, {"-c", "zz", "a.fnt"}, {"-w", "0", "-b", "s.bmp", "a.fnt"},
        {"-b", "s.bmp", "-c", "41", "a.fnt"}, {"a.fnt", "-H"},
    };
    for (const auto& args : misuse) {
        const RunResult r = dump(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, kUsage);
    }
}

}  // namespace

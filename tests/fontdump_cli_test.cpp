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

// Runs the sheetcut command that fontdump -b printed, through the shell,
// writing the font to again.fnt.
RunResult run_printed(const std::string& command, const std::filesystem::path& dir) {
    const std::string lead = "sheetcut ", tail = " FONT";
    EXPECT_EQ(command.substr(0, lead.size()), lead);
    EXPECT_EQ(command.substr(command.size() - tail.size()), tail);
    const std::string middle = command.substr(lead.size(), command.size() - lead.size() - tail.size());
    return test::run_shell("exec \"$SHEETCUT\" " + middle + " again.fnt", dir);
}

// The command is the last line of fontdump -b's output.
std::string printed_command(const std::string& out) {
    const std::string body = out.substr(0, out.size() - 1);
    return body.substr(body.rfind('\n') + 1);
}

TEST_F(FontDumpCli, SheetRoundTripsThroughSheetcut) {
    for (const char* kind : {"-v", "-p2"}) {
        ASSERT_EQ(sheetcut({kind, "-s5,7", "-c41,43", "-o0,2", "-nLDT", "in.bmp", "f.fnt"}).status, 0);
        const RunResult r = dump({"-b", "back.bmp", "-w", "2", "f.fnt"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "back.bmp: 3 glyphs, 2 to a row");
        const std::string command = printed_command(r.out);
        EXPECT_EQ(command, std::string("sheetcut -s5,7 -c41,43 -o0,2 -nLDT") + (kind[1] == 'p' ? " -p2" : "") +
                               " back.bmp FONT");
        ASSERT_EQ(run_printed(command, dir_.path("")).status, 0) << command;
        EXPECT_EQ(test::read_file(dir_.path("again.fnt")), test::read_file(dir_.path("f.fnt"))) << command;
        EXPECT_EQ(test::read_file(dir_.path("back.bmp")).size(), 1078u + 12 * 14);  // 10 x 14, rows of 12
    }
}

// Paths and names that a shell would split or expand, and names with
// control bytes, are quoted so that the printed command gives them back
// exactly; no control byte reaches the terminal raw.
TEST_F(FontDumpCli, PrintedCommandIsQuotedForTheShell) {
    const struct {
        std::string name, sheet, quoted;
    } cases[] = {
        {"A B", "my sheet.bmp", " -n'A B' 'my sheet.bmp' FONT"},
        {"i's", "$HOME.bmp", " -n'i'\\''s' '$HOME.bmp' FONT"},
        {"\x1b[m", "s*.bmp", " -n\"$(printf '\\033')\"'[m' 's*.bmp' FONT"},
        {"a\nb", "x.bmp", " -n'a\nb' x.bmp FONT"},
        {"ab\x01", "x.bmp", " -n'ab'\"$(printf '\\001')\" x.bmp FONT"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(sheetcut({"-s5,7", "-o0,2", "-n" + c.name, "in.bmp", "f.fnt"}).status, 0);
        const RunResult r = dump({"-b", c.sheet, "f.fnt"});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string command = r.out.substr(r.out.find("\nsheetcut ") + 1, std::string::npos);
        EXPECT_EQ(command, "sheetcut -s5,7 -c0,0 -o0,2" + c.quoted + "\n");
        const RunResult again = run_printed(command.substr(0, command.size() - 1), dir_.path(""));
        ASSERT_EQ(again.status, 0) << command << again.err;
        EXPECT_EQ(test::read_file(dir_.path("again.fnt")), test::read_file(dir_.path("f.fnt"))) << command;
        if (c.name[0] == '\x1b') {
            EXPECT_EQ(dump({"-H", "f.fnt"}).out.substr(0, 17), "name: \\x1b[m\nkind");
        }
    }
}

// 1 x 1 glyphs: seven of them fill one byte (f0) that could hold eight, and
// the code range was left at its default, so it cannot tell the count; the
// round trip must still give the same byte.
TEST_F(FontDumpCli, TinyGlyphsRoundTripWithoutACodeRange) {
    const std::string sample = std::string(SOURCE_DIR) + "/examples/terminus-8x16.bmp";
    ASSERT_EQ(sheetcut({"-s1,1", "-o110a,1110", sample, "f.fnt"}).status, 0);
    ASSERT_EQ(test::hex(test::read_file(dir_.path("f.fnt"))).substr(96), "F0");
    const RunResult r = dump({"-b", "back.bmp", "f.fnt"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(printed_command(r.out), "sheetcut -s1,1 -c0,0 -o0,7 back.bmp FONT");
    ASSERT_EQ(run_printed(printed_command(r.out), dir_.path("")).status, 0);
    EXPECT_EQ(test::read_file(dir_.path("again.fnt")), test::read_file(dir_.path("f.fnt")));
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
    dir_.write("empty.fnt", Bytes(good.begin(), good.begin() + 32));
    const RunResult empty = dump({"-b", "s.bmp", "empty.fnt"});
    EXPECT_EQ(empty.status, 1);
    EXPECT_EQ(empty.err, "fontdump: empty.fnt: no glyphs to draw\n");
    EXPECT_FALSE(std::filesystem::exists(dir_.path("s.bmp")));
}

// The header is checked before anything else is read: an endless file that
// is no font costs nothing, even where memory is short. (Sanitizers reserve
// more address space than the limit allows, so they run it unlimited.)
TEST_F(FontDumpCli, EndlessFileIsRefusedAtItsHeader) {
#ifdef SHEETCUT_SANITIZED
    const std::string limit;
#else
    const std::string limit = "ulimit -v 65536 && ";
#endif
    RunResult r = test::run_shell(limit + "exec \"$FONTDUMP\" /dev/zero", dir_.path(""));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "fontdump: /dev/zero: not a font file: no \"FF\" magic\n");
    // A good header, then more than memory allows: a message, not an abort.
    ASSERT_EQ(sheetcut({"-s5,7", "-o0,2", "in.bmp", "f.fnt"}).status, 0);
    if (!limit.empty()) {
        r = test::run_shell(limit + "{ head -c 32 f.fnt; head -c 100000000 /dev/zero; } | \"$FONTDUMP\" -H /dev/stdin",
                            dir_.path(""));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "fontdump: /dev/stdin: Cannot allocate memory\n");
    }
}

TEST_F(FontDumpCli, HelpAndTheEndOfOptions) {
    RunResult r = dump({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kUsage);
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(sheetcut({"-s5,7", "-o0,2", "in.bmp", "-H"}).status, 0);
    r = dump({"-H", "--", "-H"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, 13), "name: (none)\n");
    r = dump({"--", "--help"});
    EXPECT_EQ(r.err, "fontdump: --help: No such file or directory\n");
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

// The binary as a user meets it: the command line, the settings summary and
// every diagnostic, with exact streams and status, and no font file left
// behind by a failed run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <thread>

#include "support.h"

using test::BmpOptions;
using test::Grid;
using test::RunResult;

namespace {

const std::string kUsage =
    "Usage: sheetcut [options] {bmp-file} {fnt-file}\n"
    "\t-sW,H:\tfont width and height\n"
    "\t-cS,E:\tstart,end code (in hex)\n"
    "\t-oS,E:\tstart,end offset (in hex)\n"
    "\t-pX:\tproportional font and width for default char\n"
    "\t-gX,Y:\tx,y font gap\n"
    "\t-nNNN:\tfont name (length must be 3 bytes)\n"
    "\t-t#:\tCCT index (#=0-255)\n"
    "\t-v:\tverbose output\n";

const std::string kZeroSummary =
    "FontWidth = 0\nFontHeight = 0\nCode Range(0,0)\nOffset Range(0,0)\n\n";

class Cli : public testing::Test {
protected:
    RunResult run(const std::vector<std::string>& args) { return test::run_sheetcut(args, dir_.path("")); }
    std::string sheet(const test::Bytes& bytes, const std::string& name = "in.bmp") {
        dir_.write(name, bytes);
        return name;
    }
    bool font_exists() const { return std::filesystem::exists(dir_.path("out.fnt")); }
    test::ScratchDir dir_;
};

TEST_F(Cli, RefusedCommandLinesPrintUsage) {
    const std::vector<std::vector<std::string>> refused = {
        {},
        {"in.bmp"},
        {"-s", "16,16", "in.bmp", "out.fnt"},   // -s has an empty value: three operands
        {"in.bmp", "-v", "out.fnt"},
        {"-S16,16", "in.bmp", "out.fnt"},
        {"-x", "in.bmp", "out.fnt"},
        {"--", "in.bmp", "out.fnt"},
        {"-", "in.bmp", "out.fnt"},
        {"-n", "in.bmp", "out.fnt"},
        {"-nAB", "in.bmp", "out.fnt"},
        {"-nABCD", "in.bmp", "out.fnt"},
        {"-t", "in.bmp", "out.fnt"},
        {"-t256", "in.bmp", "out.fnt"},
        {"-t-1", "in.bmp", "out.fnt"},
        {"-v", "-x", "in.bmp", "out.fnt"},      // refused before the summary
        {"-v", "-nAB", "in.bmp", "out.fnt"},
    };
    for (const auto& args : refused) {
        const RunResult r = run(args);
        std::string shown;
        for (const auto& a : args) shown += a + " ";
        EXPECT_EQ(r.status, 1) << shown;
        EXPECT_EQ(r.out, "") << shown;
        EXPECT_EQ(r.err, kUsage) << shown;
    }
    EXPECT_FALSE(font_exists());
}

TEST_F(Cli, SummaryComesBeforeTheOperandCheck) {
    const RunResult r = run({"-v"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kZeroSummary);
    EXPECT_EQ(r.err, kUsage);
}

TEST_F(Cli, SummaryShowsTheFinalValues) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"-c20,7e", "-verbose", "-s8,16", "-c41", "-o1,5e"},
         "FontWidth = 8\nFontHeight = 16\nCode Range(41,7e)\nOffset Range(1,5e)\n\n"},
        {{"-v", "-c0x20,0X7E"}, "FontWidth = 0\nFontHeight = 0\nCode Range(20,7e)\nOffset Range(0,0)\n\n"},
        {{"-v", "-c-1,7e", "-s-3"}, "FontWidth = -3\nFontHeight = 0\nCode Range(ffffffff,7e)\nOffset Range(0,0)\n\n"},
        {{"-c20,7e", "-c0x,7f", "-v"}, "FontWidth = 0\nFontHeight = 0\nCode Range(20,7e)\nOffset Range(0,0)\n\n"},
    };
    for (const auto& [args, summary] : cases) {
        const RunResult r = run(args);
        EXPECT_EQ(r.out, summary);
        EXPECT_EQ(r.err, kUsage);
    }
}

struct Failure {
    const char* what;
    std::vector<std::string> options;
    test::Bytes file;
    std::string err;
};

Grid sheet_128x64() { return Grid(128, 64); }

test::Bytes with(const BmpOptions& o, Grid g = sheet_128x64()) { return test::make_bmp(g, o); }

BmpOptions opt(void (*f)(BmpOptions&)) {
    BmpOptions o;
    f(o);
    return o;
}

test::Bytes truncated(test::Bytes b, std::size_t n) {
    b.resize(n);
    return b;
}

test::Bytes not_bm(test::Bytes b) {
    b[0] = 'P';
    b[1] = '6';
    return b;
}

// Each case: a sheet, options, and the one line the run must end with.
std::vector<Failure> failures() {
    const test::Bytes good = test::make_bmp(sheet_128x64());
    return {
        {"shorter than the file header", {"-s8,8"}, {'B', 'M', 0, 0}, "in.bmp: Unexpected end of file."},
        {"empty file", {"-s8,8"}, {}, "in.bmp: Unexpected end of file."},
        {"not BM", {"-s8,8"}, not_bm(good), "in.bmp: Not a bitmap file."},
        {"13 bytes, not BM", {"-s8,8"}, truncated(not_bm(good), 13), "in.bmp: Unexpected end of file."},
        {"short info header", {"-s8,8"}, truncated(good, 30), "in.bmp: Unexpected end of file."},
        {"108-byte info header", {"-s8,8"}, with(opt([](BmpOptions& o) { o.info_size = 108; })), "in.bmp: Invalid BMIH."},
        {"24-bit", {"-s8,8"}, with(opt([](BmpOptions& o) { o.bit_count = 24; })), "in.bmp: must be 8bpp at this time."},
        {"1-bit", {"-s8,8"}, with(opt([](BmpOptions& o) { o.bit_count = 1; })), "in.bmp: must be 8bpp at this time."},
        {"RLE8", {"-s8,8"}, with(opt([](BmpOptions& o) { o.compression = 1; })), "in.bmp: must be uncompressed."},
        {"no width", {}, good, "in.bmp: must be divided with font width."},
        {"width does not divide", {"-s7,8"}, good, "in.bmp: must be divided with font width."},
        {"no height", {"-s16"}, good, "in.bmp: must be divided with font height."},
        {"height does not divide", {"-s8,7"}, good, "in.bmp: must be divided with font height."},
        {"INT_MIN width over -1", {"-s-1,8"}, with(opt([](BmpOptions& o) { o.width_field = INT32_MIN; })),
         "in.bmp: must be divided with font width."},
        {"INT_MIN height over -1", {"-s8,-1"}, with(opt([](BmpOptions& o) { o.height_field = INT32_MIN; })),
         "in.bmp: must be divided with font height."},
        {"too large", {"-s8,8"},
         with(opt([](BmpOptions& o) { o.width_field = 65536; o.height_field = 32768; })), "in.bmp: image is too large."},
        {"start past the last cell", {"-s8,16", "-o40,40"}, good, "start offset: out of range."},
        {"negative start", {"-s8,16", "-o-1,3"}, good, "start offset: out of range."},
        {"end past the last cell", {"-s8,16", "-o0,40"}, good, "end offset: out of range."},
        {"start after end", {"-s8,16", "-o3f,3e"}, good, "start offset > end offset."},
        {"both faults: start first", {"-s8,16", "-o40,3e"}, good, "start offset: out of range."},
        {"top-down with positive cells", {"-s8,8"}, with(opt([](BmpOptions& o) { o.top_down = true; })),
         "start offset: out of range."},
        {"negative cell height on a top-down sheet", {"-s8,-8"}, with(opt([](BmpOptions& o) { o.top_down = true; })),
         "font size: out of range."},
        {"cell wider than 255", {"-s256,8"}, test::make_bmp(Grid(256, 8)), "font size: out of range."},
        {"negative sheet size", {"-s8,8"},
         with(opt([](BmpOptions& o) { o.width_field = -128; o.height_field = -64; })), "in.bmp: Invalid image size."},
        {"default width above the cell", {"-s8,8", "-p9"}, good, "default width: out of range."},
        {"negative default width", {"-s8,8", "-p-3"}, good, "default width: out of range."},
        {"pixel offset inside the headers", {"-s8,8"}, with(opt([](BmpOptions& o) { o.off_bits = 53; })),
         "in.bmp: Invalid pixel data offset."},
        {"pixel rows cut short", {"-s8,8"}, truncated(good, good.size() - 1), "in.bmp: Unexpected end of file."},
        {"tiny file claiming a huge image", {"-s8,8"},
         truncated(with(opt([](BmpOptions& o) { o.width_field = 40000; o.height_field = 40000; })), 54),
         "in.bmp: Unexpected end of file."},
    };
}

TEST_F(Cli, EachFaultGetsItsDiagnostic) {
    for (const Failure& f : failures()) {
        sheet(f.file);
        std::vector<std::string> args = f.options;
        args.insert(args.end(), {"in.bmp", "out.fnt"});
        const RunResult r = run(args);
        EXPECT_EQ(r.status, 1) << f.what;
        EXPECT_EQ(r.out, "") << f.what;
        EXPECT_EQ(r.err, "sheetcut: " + f.err + "\n") << f.what;
        EXPECT_FALSE(font_exists()) << f.what;
    }
}

TEST_F(Cli, ReadErrorsCarryTheSystemText) {
    std::filesystem::create_directory(dir_.path("dir.bmp"));
    RunResult r = run({"-s8,8", "missing.bmp", "out.fnt"});
    EXPECT_EQ(r.err, "sheetcut: missing.bmp: No such file or directory\n");
    EXPECT_EQ(r.status, 1);
    r = run({"-s8,8", "dir.bmp", "out.fnt"});
    EXPECT_EQ(r.err, "sheetcut: dir.bmp: Is a directory\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(font_exists());
}

// A sheet read from a pipe cannot seek: its bytes are read in order.
TEST_F(Cli, ReadsSheetsFromPipes) {
    ASSERT_EQ(::mkfifo(dir_.path("pipe.bmp").c_str(), 0600), 0);
    // Should sheetcut stop reading early, the writer gets EPIPE rather than
    // the signal that would end the test program.
    std::signal(SIGPIPE, SIG_IGN);
    auto feed = [&](test::Bytes bytes) {
        return std::thread([this, bytes] {
            const int fd = ::open(dir_.path("pipe.bmp").c_str(), O_WRONLY);
            if (fd < 0) return;
            std::size_t done = 0;
            while (done < bytes.size()) {
                const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
                if (n <= 0) break;
                done += static_cast<std::size_t>(n);
            }
            ::close(fd);
        });
    };
    std::thread writer = feed({});
    RunResult r = run({"-s8,8", "pipe.bmp", "out.fnt"});
    writer.join();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "sheetcut: pipe.bmp: Unexpected end of file.\n");
    EXPECT_FALSE(font_exists());

    Grid g(16, 8);
    g.at(15, 7) = 3;
    BmpOptions gap;
    gap.off_bits = 5000;  // skipped by reading, not seeking
    writer = feed(test::make_bmp(g, gap));
    r = run({"-s8,8", "-o1,1", "pipe.bmp", "out.fnt"});
    writer.join();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test::hex(test::read_file(dir_.path("out.fnt"))).substr(96), "00 00 00 00 00 00 00 01");
}

TEST_F(Cli, TraceBeforeAFailureReachesStdout) {
    sheet(test::make_bmp(Grid(24, 8), opt([](BmpOptions& o) { o.bit_count = 24; })));
    RunResult r = run({"-v", "-s8,8", "in.bmp", "out.fnt"});
    EXPECT_EQ(r.out,
              "FontWidth = 8\nFontHeight = 8\nCode Range(0,0)\nOffset Range(0,0)\n\n"
              "biWidth = 24\nbiHeight = 8\nbiPlanes = 1\nbiBitCount = 24\n");
    EXPECT_EQ(r.err, "sheetcut: in.bmp: must be 8bpp at this time.\n");

    sheet(test::make_bmp(sheet_128x64()));
    r = run({"-v", "-s8,16", "-o40,40", "in.bmp", "out.fnt"});
    EXPECT_EQ(r.out,
              "FontWidth = 8\nFontHeight = 16\nCode Range(0,0)\nOffset Range(40,40)\n\n"
              "biWidth = 128\nbiHeight = 64\nbiPlanes = 1\nbiBitCount = 8\n"
              "ncols = 16\nnlines = 4\nnbmps = 64\n");
    EXPECT_EQ(r.err, "sheetcut: start offset: out of range.\n");
}

}  // namespace

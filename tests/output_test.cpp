// Whole runs that write a font: the header and glyph bytes, the -v trace,
// and how the font file is replaced.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support.h"

using test::BmpOptions;
using test::Bytes;
using test::Grid;
using test::RunResult;

namespace {

class Output : public testing::Test {
protected:
    RunResult run(const std::vector<std::string>& args) { return test::run_sheetcut(args, dir_.path("")); }
    void sheet(const Grid& g, const BmpOptions& o = {}) { dir_.write("in.bmp", test::make_bmp(g, o)); }
    Bytes font(const std::string& name = "out.fnt") { return test::read_file(dir_.path(name)); }
    std::vector<std::string> entries() const { return dir_.entries(); }
    test::ScratchDir dir_;
};

TEST_F(Output, HeaderCarriesEveryField) {
    Grid g(8, 8);
    g.at(0, 0) = 1;
    sheet(g);
    RunResult r = run({"-s8,8", "-c20,7e", "-g2,1", "-nABC", "-t200", "in.bmp", "out.fnt"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(test::hex(font()),
              "46 46 01 20 41 42 43 00 00 00 08 08 02 01 40 00 20 00 7E 00 C8 00 00 00 00 00 00 00 00 00 00 00 "
              "80 00 00 00 00 00 00 00");
    r = run({"-s8,8", "-c20,7e", "-g2,1", "-nABC", "-t200", "-p", "in.bmp", "out.fnt"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test::hex(font()),
              "46 46 01 20 41 42 43 00 01 00 08 08 02 01 09 00 20 00 7E 00 C8 00 00 00 00 00 00 00 00 00 00 00 "
              "01 80 00 00 00 00 00 00 00");
}

TEST_F(Output, HeaderKeepsLowBitsOfWideValues) {
    sheet(Grid(255, 255));
    ASSERT_EQ(run({"-s255,255", "-g-1,300", "-c-1,12345", "in.bmp", "out.fnt"}).status, 0);
    const Bytes f = font();
    EXPECT_EQ(test::hex(Bytes(f.begin() + 4, f.begin() + 21)),
              "00 00 00 00 00 00 FF FF FF 2C 01 FE FF FF 45 23 00");
    EXPECT_EQ(f.size(), 32u + (255 * 255 + 7) / 8);
}

TEST_F(Output, TraceOfAFixedWidthRun) {
    Grid g(15, 7);  // three 5 x 7 cells
    g.at(0, 0) = 1;
    g.at(9, 6) = 7;
    sheet(g);
    const RunResult r = run({"-v", "-s5,7", "-o0,2", "in.bmp", "out.fnt"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string blank = "     \n";
    EXPECT_EQ(r.out,
              "FontWidth = 5\nFontHeight = 7\nCode Range(0,0)\nOffset Range(0,2)\n\n"
              "biWidth = 15\nbiHeight = 7\nbiPlanes = 1\nbiBitCount = 8\n"
              "ncols = 3\nnlines = 1\nnbmps = 3\nbmpsize = 112\nfntsize = 46\n"
              "bmpwidth = 16\nbmpheight = 7\nbmpnext = 112\n"
              "off = 0000\ntemp = 0\nfont off = 000020 , bit mask = 80\n"
              "o    \n" + blank + blank + blank + blank + blank + blank + "\n"
              "off = 0001\ntemp = 5\nfont off = 000024 , bit mask = 10\n" +
              blank + blank + blank + blank + blank + blank + "    o\n\n"
              "off = 0002\ntemp = 10\nfont off = 000028 , bit mask = 02\n" +
              blank + blank + blank + blank + blank + blank + blank + "\n");
    EXPECT_EQ(r.err, "");
    // Bit 35 + 6 * 5 + 4 = 69 of the area: byte 8, mask 0x04.
    EXPECT_EQ(test::hex(font()).substr(96), "80 00 00 00 00 00 00 00 04 00 00 00 00 00");
}

TEST_F(Output, TraceOfAProportionalRun) {
    Grid g(15, 7);
    for (int y = 0; y < 7; ++y) g.at(y % 5, y) = 1;  // a 5-wide diagonal
    for (int y = 0; y < 7; ++y) g.at(6, y) = g.at(8, y) = 1;  // columns 1 to 3
    sheet(g);
    const RunResult r = run({"-v", "-s5,7", "-o0,2", "-p2", "in.bmp", "out.fnt"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string tail = r.out.substr(r.out.find("off = 0000"));
    EXPECT_EQ(tail,
              "off = 0000\ntemp = 0\nfont off = 000020 , bit mask = 80\nxstart,xend = 0,5\nw = 5\n"
              "o    \n o   \n  o  \n   o \n    o\no    \n o   \n\n"
              "off = 0001\ntemp = 5\nfont off = 000026 , bit mask = 10\nxstart,xend = 1,4\nw = 3\n"
              "o o\no o\no o\no o\no o\no o\no o\n\n"
              "off = 0002\ntemp = 10\nfont off = 00002c , bit mask = 04\nxstart,xend = 0,2\nw = 2\n"
              "  \n  \n  \n  \n  \n  \n  \n\n");
    EXPECT_NE(r.out.find("fntsize = 50\n"), std::string::npos);
}

TEST_F(Output, BlankGlyphUnderZeroDefaultWidthDrawsEmptyLines) {
    sheet(Grid(4, 3));
    const RunResult r = run({"-v", "-s4,3", "-p0", "in.bmp", "out.fnt"});
    ASSERT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("xstart,xend = 0,0\nw = 0\n\n\n\n\n"), std::string::npos);
    EXPECT_EQ(test::hex(font()).substr(96), "00 00 00");
}

// Real writers' layouts: the glyphs come out as drawn.
TEST_F(Output, SheetsFromOtherWritersPackAsDrawn) {
    Grid g(16, 8);
    g.at(0, 0) = 1;
    g.at(15, 7) = 1;
    for (const BmpOptions& o : test::writer_layouts()) {
        sheet(g, o);
        const RunResult r = run({"-s8,8", "-o0,1", "in.bmp", "out.fnt"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(test::hex(font()).substr(96), "80 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01");
    }
}

TEST_F(Output, FailedRunsLeaveAnExistingFontAlone) {
    const Bytes old = {1, 2, 3, 4, 5};
    dir_.write("out.fnt", old);
    ::chmod(dir_.path("out.fnt").c_str(), 0640);
    sheet(Grid(16, 8));
    for (const auto& options : {std::vector<std::string>{"-s8,8", "-o2,2"}, {"-s8,8", "-p9"}, {"-s3,8"}}) {
        std::vector<std::string> args = options;
        args.insert(args.end(), {"in.bmp", "out.fnt"});
        EXPECT_EQ(run(args).status, 1);
        EXPECT_EQ(font(), old);
    }
    EXPECT_EQ(entries(), (std::vector<std::string>{"in.bmp", "out.fnt"}));
}

TEST_F(Output, ReplacingKeepsPermissionsAndFollowsLinks) {
    sheet(Grid(8, 8));
    dir_.write("real.fnt", {9, 9});
    ::chmod(dir_.path("real.fnt").c_str(), 0604);
    std::filesystem::create_symlink("real.fnt", dir_.path("link.fnt"));
    ASSERT_EQ(run({"-s8,8", "in.bmp", "link.fnt"}).status, 0);
    EXPECT_TRUE(std::filesystem::is_symlink(dir_.path("link.fnt")));
    EXPECT_EQ(font("real.fnt").size(), 40u);
    struct stat st{};
    ASSERT_EQ(::stat(dir_.path("real.fnt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    EXPECT_EQ(entries(), (std::vector<std::string>{"in.bmp", "link.fnt", "real.fnt"}));
}

TEST_F(Output, NewFontGetsTheUmaskMode) {
    sheet(Grid(8, 8));
    const mode_t old = ::umask(027);
    const RunResult r = run({"-s8,8", "in.bmp", "new.fnt"});
    ::umask(old);
    ASSERT_EQ(r.status, 0);
    struct stat st{};
    ASSERT_EQ(::stat(dir_.path("new.fnt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// Runs sheetcut as a user without privileges, as permissions are meant to
// be met: as root, through setpriv to the nobody user.
test::RunResult run_unprivileged(const std::vector<std::string>& args, const std::filesystem::path& dir) {
    if (::geteuid() != 0) return test::run_sheetcut(args, dir);
    std::vector<std::string> all = {"--reuid=65534", "--regid=65534", "--clear-groups", SHEETCUT_BIN};
    all.insert(all.end(), args.begin(), args.end());
    return test::run_program("/usr/bin/setpriv", all, dir);
}

TEST_F(Output, PermissionsAreHonoured) {
    if (::geteuid() == 0 && !std::filesystem::exists("/usr/bin/setpriv")) GTEST_SKIP() << "no setpriv";
    namespace fs = std::filesystem;
    sheet(Grid(8, 8));
    fs::permissions(dir_.path(""), fs::perms::all);
    fs::permissions(dir_.path("in.bmp"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

    // A font file the user may not write is refused and left alone.
    dir_.write("locked.fnt", {1, 2, 3});
    fs::permissions(dir_.path("locked.fnt"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    test::RunResult r = run_unprivileged({"-s8,8", "in.bmp", "locked.fnt"}, dir_.path(""));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "sheetcut: locked.fnt: Permission denied\n");
    EXPECT_EQ(font("locked.fnt"), (Bytes{1, 2, 3}));

    // A directory that takes no new file: the font is written in place.
    fs::create_directory(dir_.path("shut"));
    dir_.write("shut/out.fnt", {9});
    fs::permissions(dir_.path("shut/out.fnt"), fs::perms::all & ~fs::perms::owner_exec & ~fs::perms::group_exec &
                                                    ~fs::perms::others_exec);
    fs::permissions(dir_.path("shut"), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                           fs::perms::others_read | fs::perms::others_exec);
    r = run_unprivileged({"-s8,8", "in.bmp", "shut/out.fnt"}, dir_.path(""));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(font("shut/out.fnt").size(), 40u);
    EXPECT_EQ(fs::directory_iterator(dir_.path("shut"))->path().filename(), "out.fnt");

    // ... and a new font there cannot be made.
    r = run_unprivileged({"-s8,8", "in.bmp", "shut/new.fnt"}, dir_.path(""));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "sheetcut: shut/new.fnt: Permission denied\n");
}

// A shared sticky directory, as /tmp is, owned by root: the tests run as
// root and act as the nobody user.
class Sticky : public Output {
protected:
    void SetUp() override {
        if (::geteuid() != 0 || !std::filesystem::exists("/usr/bin/setpriv"))
            GTEST_SKIP() << "needs root and setpriv to act as two users";
        namespace fs = std::filesystem;
        fs::permissions(dir_.path(""), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
        fs::create_directory(dir_.path("shared"));
        fs::permissions(dir_.path("shared"), fs::perms::all | fs::perms::sticky_bit);
        Grid g(8, 8);
        g.at(0, 0) = 1;
        dir_.write("shared/in.bmp", test::make_bmp(g));
        fs::permissions(dir_.path("shared/in.bmp"), fs::perms::owner_read | fs::perms::others_read);
    }
};

// Root's font that anyone may write: nobody cannot rename over it in a
// sticky directory, so it is written in place, and no temporary file stays.
TEST_F(Sticky, FontOfAnotherOwnerIsWrittenInPlace) {
    dir_.write("shared/out.fnt", Bytes(100, 'x'));
    ::chmod(dir_.path("shared/out.fnt").c_str(), 0666);
    const RunResult r = run_unprivileged({"-s8,8", "in.bmp", "out.fnt"}, dir_.path("shared"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test::hex(font("shared/out.fnt")).substr(96), "80 00 00 00 00 00 00 00");
    struct stat st{};
    ASSERT_EQ(::stat(dir_.path("shared/out.fnt").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(entries(), (std::vector<std::string>{"shared"}));
    EXPECT_EQ(test::ScratchDir::list(dir_.path("shared")), (std::vector<std::string>{"in.bmp", "out.fnt"}));
}

// A link planted by another user in a sticky directory is refused by the
// kernel where fs.protected_symlinks is on, and the file it points to kept.
TEST_F(Sticky, PlantedLinkIsRefusedByTheKernel) {
    if (test::read_file("/proc/sys/fs/protected_symlinks") != Bytes{'1', '\n'})
        GTEST_SKIP() << "fs.protected_symlinks is off on this machine";
    dir_.write("victim", {'v'});
    ::chmod(dir_.path("victim").c_str(), 0666);
    std::filesystem::create_symlink(dir_.path("victim"), dir_.path("shared/out.fnt"));
    const RunResult r = run_unprivileged({"-s8,8", "in.bmp", "out.fnt"}, dir_.path("shared"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "sheetcut: out.fnt: Permission denied\n");
    EXPECT_EQ(font("victim"), Bytes{'v'});
}

TEST_F(Output, MissingDirectoryFailsAfterPacking) {
    sheet(Grid(8, 8));
    const RunResult r = run({"-v", "-s8,8", "in.bmp", "no/such/dir/out.fnt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "sheetcut: no/such/dir/out.fnt: No such file or directory\n");
    EXPECT_NE(r.out.find("off = 0000\n"), std::string::npos);  // packing ran
}

// A path naming a descriptor the run holds is written through it, at its
// position: into a pipe, appended to a file, after what a shell wrote first,
// behind the trace, into a file already deleted.
TEST_F(Output, HeldDescriptorsAreWrittenAsStreams) {
    Grid g(16, 8);
    g.at(7, 7) = 1;
    sheet(g);
    ASSERT_EQ(run({"-s8,8", "-o0,1", "in.bmp", "plain.fnt"}).status, 0);
    const std::string plain = test::hex(font("plain.fnt"));
    const std::string run = "\"$SHEETCUT\" -s8,8 -o0,1 in.bmp ";
    const std::string head = "68 65 61 64 0A ";  // "head\n"
    const struct {
        const char* script;
        std::string expected;
    } cases[] = {
        {"| cat > got", plain},
        {"/dev/fd/1 | cat > got", plain},
        {"/proc/self/fd/1 > got", plain},
        {"/dev/stdout >> got", head + plain},
        {"/dev/stderr 2>> got", head + plain},
    };
    for (const auto& c : cases) {
        dir_.write("got", {'h', 'e', 'a', 'd', '\n'});
        std::string script = c.script;
        if (script[0] == '|') script = "/dev/stdout " + script;
        const RunResult r = test::run_shell(run + script, dir_.path(""));
        EXPECT_EQ(r.status, 0) << script << r.err;
        EXPECT_EQ(test::hex(font("got")), c.expected) << script;
    }
    RunResult r = test::run_shell("{ echo head; " + run + "/dev/stdout; } > got", dir_.path(""));
    EXPECT_EQ(test::hex(font("got")), head + plain);
    r = test::run_shell("\"$SHEETCUT\" -v -s8,8 -o0,1 in.bmp /dev/stdout > got", dir_.path(""));
    const Bytes both = font("got");
    ASSERT_GT(both.size(), 48u);
    EXPECT_EQ(std::string(both.begin(), both.begin() + 16), "FontWidth = 8\nFo");
    EXPECT_EQ(test::hex(Bytes(both.end() - 48, both.end())), plain);
    // A deleted file still held open: nothing is made at its old name.
    r = test::run_shell("exec 3>gone 4<gone; rm gone; " + run + "/dev/fd/3 && cat <&4 > got", dir_.path(""));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test::hex(font("got")), plain);
    EXPECT_EQ(entries(), (std::vector<std::string>{"got", "in.bmp", "plain.fnt"}));
}

// A trace that cannot be written fails the run before the font is touched.
TEST_F(Output, UnwritableTraceFailsTheRun) {
    sheet(Grid(8, 8));
    dir_.write("out.fnt", {'o', 'l', 'd'});
    for (const auto& [redirect, error] : {std::pair{"> /dev/full", "No space left on device"},
                                          std::pair{">&-", "Bad file descriptor"}}) {
        const RunResult r = test::run_shell(std::string("\"$SHEETCUT\" -v -s8,8 in.bmp out.fnt ") + redirect, dir_.path(""));
        EXPECT_EQ(r.status, 1) << redirect;
        EXPECT_EQ(r.err, std::string("sheetcut: standard output: ") + error + "\n") << redirect;
        EXPECT_EQ(font(), (Bytes{'o', 'l', 'd'})) << redirect;
    }
}

// A 32768 x 32768 sheet of 1 x 1 cells, proportional: two bytes a cell make
// a font past the format's 2^31 - 1 bytes. The sheet is sparse, and is
// refused before its pixels are read.
TEST_F(Output, FontPastTheFormatsLimitIsRefused) {
    Grid corner(4, 4);
    BmpOptions huge;
    huge.width_field = huge.height_field = 32768;
    dir_.write("in.bmp", test::make_bmp(corner, huge));
    std::filesystem::resize_file(dir_.path("in.bmp"), 1078 + (std::uintmax_t{1} << 30));
    const RunResult r = run({"-s1,1", "-p0", "-o0,3fffffff", "in.bmp", "out.fnt"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "sheetcut: font is too large.\n");
    EXPECT_EQ(entries(), (std::vector<std::string>{"in.bmp"}));
}

TEST_F(Output, DanglingLinkGetsItsTargetMade) {
    sheet(Grid(8, 8));
    std::filesystem::create_directory(dir_.path("fonts"));
    std::filesystem::create_symlink("fonts/made.fnt", dir_.path("link.fnt"));
    const RunResult r = run({"-s8,8", "in.bmp", "link.fnt"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(std::filesystem::is_symlink(dir_.path("link.fnt")));
    EXPECT_EQ(font("fonts/made.fnt").size(), 40u);
    EXPECT_EQ(std::filesystem::directory_iterator(dir_.path("fonts"))->path().filename(), "made.fnt");
}

TEST_F(Output, WritesToDevices) {
    Grid g(8, 8);
    g.at(7, 7) = 1;
    sheet(g);
    const RunResult r = run({"-s8,8", "in.bmp", "/dev/stdout"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.size(), 40u);
    EXPECT_EQ(r.out.substr(0, 2), "FF");
    EXPECT_EQ(static_cast<unsigned char>(r.out.back()), 0x01);
}

}  // namespace

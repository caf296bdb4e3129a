// Fault injection on the output stage: every file-system call that writes
// the font is made to fail in turn. Each failure must end the run with
// status 1 and a message naming the font path and the error, leave an
// existing font byte for byte as it was, and leave no temporary file.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "support.h"

using test::Bytes;
using test::Grid;

namespace {

struct Call {
    std::string kind;
    int nth = 0;     // among the calls of its kind, from 1
    std::string arg;
};

std::vector<Call> read_log(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::vector<Call> calls;
    std::map<std::string, int> counts;
    for (std::string line; std::getline(in, line);) {
        Call c;
        std::istringstream words(line);
        words >> c.kind;
        std::getline(words, c.arg);
        c.nth = ++counts[c.kind];
        calls.push_back(c);
    }
    return calls;
}

// The calls from the first open for writing to the rename that ends it.
std::vector<Call> output_stage(const std::vector<Call>& calls) {
    std::vector<Call> stage;
    bool started = false;
    for (const Call& c : calls) {
        started = started || (c.kind == "open" && c.arg.size() >= 2 && c.arg.substr(c.arg.size() - 2) == " 1");
        if (started) stage.push_back(c);
        if (started && c.kind == "rename") break;
    }
    return stage;
}

struct Error {
    const char* name;
    int value;
};

// A likely error for each call: a full disk for an open or a write, a
// refusal for a rename, an I/O error for the rest.
Error error_for(const std::string& kind) {
    if (kind == "open" || kind == "write") return {"ENOSPC", ENOSPC};
    if (kind == "rename") return {"EACCES", EACCES};
    return {"EIO", EIO};
}

class FaultInjection : public testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        Grid g(64, 64);
        for (int i = 0; i < 64; ++i) g.at(i, i) = 1;
        dir_.write("in.bmp", test::make_bmp(g));
    }
    test::RunResult run(const std::vector<std::string>& env) {
        std::vector<std::string> all = {"LD_PRELOAD=" FAULTFS_LIB};
        all.insert(all.end(), env.begin(), env.end());
        return test::run_sheetcut({"-s8,8", "-o0,3f", "in.bmp", "out.fnt"}, dir_.path(""), all);
    }
    std::vector<std::string> entries() const { return dir_.entries(); }
    test::ScratchDir dir_;
};

TEST_P(FaultInjection, EveryFailingCallLeavesTheFontAsItWas) {
    const bool existing = GetParam();
    const Bytes old = {'o', 'l', 'd'};
    auto reset = [&] {
        std::filesystem::remove(dir_.path("out.fnt"));
        if (existing) dir_.write("out.fnt", old);
    };
    reset();
    ASSERT_EQ(run({"FAULTFS_LOG=" + dir_.path("calls.log").string()}).status, 0);
    const std::vector<Call> stage = output_stage(read_log(dir_.path("calls.log")));
    std::filesystem::remove(dir_.path("calls.log"));
    const Bytes fresh = test::read_file(dir_.path("out.fnt"));
    ASSERT_EQ(fresh.size(), 32u + 64 * 8);
    ASSERT_GE(stage.size(), 4u);  // open, write, close, rename at least
    ASSERT_EQ(stage.back().kind, "rename");

    const std::vector<std::string> clean =
        existing ? std::vector<std::string>{"in.bmp", "out.fnt"} : std::vector<std::string>{"in.bmp"};
    int failed_runs = 0;
    for (const Call& c : stage) {
        reset();
        const Error error = error_for(c.kind);
        const std::string fault = c.kind + ":" + std::to_string(c.nth) + ":" + error.name;
        const test::RunResult r = run({"FAULTFS_FAIL=" + fault});
        const std::string what = fault + " (" + c.arg + ")";
        ++failed_runs;
        EXPECT_EQ(r.status, 1) << what;
        EXPECT_EQ(r.err, std::string("sheetcut: out.fnt: ") + std::strerror(error.value) + "\n") << what;
        if (existing) {
            EXPECT_EQ(test::read_file(dir_.path("out.fnt")), old) << what;
        }
        EXPECT_EQ(entries(), clean) << what;
    }
    EXPECT_EQ(failed_runs, static_cast<int>(stage.size()));
}

// A directory that refuses a new file (EACCES, EPERM) gets an existing font
// written in place; a new font cannot be made there.
TEST_P(FaultInjection, RefusedTemporaryFileFallsBackToWritingInPlace) {
    const bool existing = GetParam();
    const int temp_open = existing ? 3 : 2;  // after the sheet's and the existing font's
    for (const char* error : {"EACCES", "EPERM"}) {
        std::filesystem::remove(dir_.path("out.fnt"));
        if (existing) dir_.write("out.fnt", {'o', 'l', 'd'});
        const test::RunResult r = run({"FAULTFS_FAIL=open:" + std::to_string(temp_open) + ":" + error});
        if (existing) {
            EXPECT_EQ(r.status, 0) << error << r.err;
            EXPECT_EQ(test::read_file(dir_.path("out.fnt")).size(), 32u + 64 * 8) << error;
            EXPECT_EQ(entries(), (std::vector<std::string>{"in.bmp", "out.fnt"})) << error;
        } else {
            EXPECT_EQ(r.status, 1) << error;
            EXPECT_EQ(r.err, std::string("sheetcut: out.fnt: ") + (error[1] == 'A' ? "Permission denied" : "Operation not permitted") + "\n");
            EXPECT_EQ(entries(), (std::vector<std::string>{"in.bmp"})) << error;
        }
    }
}

// A rename refused with EPERM, as a sticky directory refuses it for a file
// of another owner: the font the user may write is written in place, and
// the temporary file removed.
TEST_P(FaultInjection, RefusedRenameFallsBackToWritingInPlace) {
    const bool existing = GetParam();
    std::filesystem::remove(dir_.path("out.fnt"));
    if (existing) dir_.write("out.fnt", {'o', 'l', 'd', 'e', 'r', ' ', 'a', 'n', 'd', ' ', 'l', 'o', 'n', 'g', 'e', 'r'});
    const test::RunResult r = run({"FAULTFS_FAIL=rename:1:EPERM"});
    if (existing) {
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(test::read_file(dir_.path("out.fnt")).size(), 32u + 64 * 8);
    } else {
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "sheetcut: out.fnt: Operation not permitted\n");
    }
    const std::vector<std::string> expected =
        existing ? std::vector<std::string>{"in.bmp", "out.fnt"} : std::vector<std::string>{"in.bmp"};
    EXPECT_EQ(entries(), expected);
}

// Writing in place reserves the new font's space first: a full disk then
// leaves the old font whole.
TEST_F(FaultInjection, FullDiskLeavesAFontWrittenInPlaceWhole) {
    const Bytes old(1000, 'x');
    dir_.write("out.fnt", old);
    const test::RunResult r = run({"FAULTFS_FAIL=open:3:EACCES,fallocate:1:ENOSPC"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "sheetcut: out.fnt: No space left on device\n");
    EXPECT_EQ(test::read_file(dir_.path("out.fnt")), old);
    EXPECT_EQ(entries(), (std::vector<std::string>{"in.bmp", "out.fnt"}));
}

// A run ended by a signal while it writes the temporary file removes the
// file and ends as the signal ends it.
TEST_F(FaultInjection, SignalDuringTheWriteLeavesNoTemporaryFile) {
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ}) {
        dir_.write("out.fnt", {'o', 'l', 'd'});
        const pid_t pid = test::start_program(SHEETCUT_BIN, {"-s8,8", "-o0,3f", "in.bmp", "out.fnt"}, dir_.path(""),
                                              {"LD_PRELOAD=" FAULTFS_LIB, "FAULTFS_SLOW=20000"});
        // Wait for the temporary file: the slow write has begun.
        for (int tries = 0; tries < 1000 && entries().size() < 5; ++tries) ::usleep(10000);
        ASSERT_EQ(entries().size(), 5u) << "no temporary file appeared";  // with .stdout and .stderr
        ::kill(pid, sig);
        const test::RunResult r = test::finish_program(pid, dir_.path(""));
        EXPECT_EQ(r.status, 128 + sig) << strsignal(sig);
        EXPECT_EQ(entries(), (std::vector<std::string>{"in.bmp", "out.fnt"})) << strsignal(sig);
        EXPECT_EQ(test::read_file(dir_.path("out.fnt")), (Bytes{'o', 'l', 'd'}));
    }
}

// A write past the file size limit (512 bytes here, the font is 544) is
// reported like any failed write, whether the font replaces a file or goes
// through a descriptor the run holds.
TEST_F(FaultInjection, FileSizeLimitIsAWriteError) {
    test::RunResult r = test::run_shell("ulimit -f 1 && exec \"$SHEETCUT\" -s8,8 -o0,3f in.bmp out.fnt", dir_.path(""));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "sheetcut: out.fnt: File too large\n");
    EXPECT_EQ(entries(), (std::vector<std::string>{"in.bmp"}));
    r = test::run_shell("ulimit -f 1 && exec \"$SHEETCUT\" -s8,8 -o0,3f in.bmp /dev/stdout > held.fnt", dir_.path(""));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "sheetcut: /dev/stdout: File too large\n");
}

INSTANTIATE_TEST_SUITE_P(ExistingFontOrNot, FaultInjection, testing::Bool());

}  // namespace

// The option parser: scanning rules, the settings it fills, and which
// command lines it refuses.
#include <gtest/gtest.h>

#include <climits>

#include "cli/settings.h"
#include "diag/diag.h"

using sheetcut::CommandLine;
using sheetcut::ExitRequest;
using sheetcut::FontSettings;

namespace {

CommandLine parse(std::vector<const char*> args) {
    return sheetcut::parse_options(args);
}

struct PairCase {
    const char* text;
    int base;
    std::int32_t first;
    std::int32_t second;
};

// Fields start at 7 and 9 so that "not assigned" shows.
TEST(ScanPair, FollowsFormattedScanRules) {
    const PairCase cases[] = {
        {"8,16", 10, 8, 16},
        {" \t8, \n16", 10, 8, 16},
        {"+8,-16", 10, 8, -16},
        {"8", 10, 8, 9},               // second field not reached
        {"8 ,16", 10, 8, 9},           // the comma must follow at once
        {"8,", 10, 8, 9},
        {",16", 10, 7, 9},             // nothing assigned
        {"", 10, 7, 9},
        {"x", 10, 7, 9},
        {"-,5", 10, 7, 9},             // a sign alone is no number
        {"12abc,5", 10, 12, 9},
        {"8,16junk", 10, 8, 16},
        {"4294967304,1", 10, 8, 1},    // low 32 bits of 2^32 + 8
        {"2147483648,0", 10, INT_MIN, 0},
        {"-2147483649,0", 10, INT_MAX, 0},
        {"20,7e", 16, 0x20, 0x7e},
        {"0x20,0X7E", 16, 0x20, 0x7e},
        {"-1,7e", 16, -1, 0x7e},
        {"-0x10,AbC", 16, -16, 0xabc},
        {"0x,7e", 16, 7, 9},           // the prefix needs a digit after it
        {"20,0xg", 16, 0x20, 9},
        {"ffffffff,100000000", 16, -1, 0},
        {"1ffffffff,1", 16, -1, 1},
    };
    for (const auto& c : cases) {
        std::int32_t first = 7, second = 9;
        sheetcut::scan_pair(c.text, c.base, first, second);
        EXPECT_EQ(first, c.first) << '"' << c.text << '"';
        EXPECT_EQ(second, c.second) << '"' << c.text << '"';
    }
}

TEST(TextToInt, FollowsTextToIntegerRules) {
    const std::pair<const char*, std::int32_t> cases[] = {
        {"12", 12}, {"  -3", -3}, {"+7x", 7}, {"", 0}, {"x", 0}, {"- 3", 0},
        {"4294967296", 0}, {"4294967295", -1}, {"99999999999", 1215752191},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(sheetcut::text_to_int(text), value) << text;
}

TEST(ParseOptions, FillsEveryField) {
    const CommandLine line = parse({"-s8,16", "-c20,7e", "-o1,5e", "-p4", "-g2,1", "-nABC", "-t200",
                                    "-v", "in.bmp", "out.fnt"});
    const FontSettings& s = line.settings;
    EXPECT_EQ(s.FontWidth, 8);
    EXPECT_EQ(s.FontHeight, 16);
    EXPECT_EQ(s.StartCode, 0x20);
    EXPECT_EQ(s.EndCode, 0x7e);
    EXPECT_EQ(s.StartOffset, 1);
    EXPECT_EQ(s.EndOffset, 0x5e);
    EXPECT_EQ(s.DefaultWidth, 4);
    EXPECT_EQ(s.Flags, sheetcut::FLAG_PROPORTIONAL);
    EXPECT_EQ(s.GapX, 2);
    EXPECT_EQ(s.GapY, 1);
    EXPECT_STREQ(s.FontName, "ABC");
    EXPECT_EQ(s.CctIndex, 200);
    EXPECT_EQ(s.Verbose, 1);
    EXPECT_EQ(line.operands, (std::vector<std::string>{"in.bmp", "out.fnt"}));
}

TEST(ParseOptions, DefaultsAreZero) {
    const CommandLine line = parse({"a", "b"});
    const FontSettings& s = line.settings;
    EXPECT_EQ(s.FontWidth | s.FontHeight | s.StartCode | s.EndCode | s.StartOffset | s.EndOffset |
                  s.DefaultWidth | s.GapX | s.GapY | s.CctIndex | s.Flags | s.Verbose,
              0);
    EXPECT_EQ(std::string(s.FontName, 4), std::string(4, '\0'));
}

TEST(ParseOptions, LaterOccurrencesOverrideFieldByField) {
    const FontSettings s = parse({"-c20,7e", "-c41", "-s16", "-s,5", "-p", "a", "b"}).settings;
    EXPECT_EQ(s.StartCode, 0x41);
    EXPECT_EQ(s.EndCode, 0x7e);
    EXPECT_EQ(s.FontWidth, 16);   // "-s,5" assigns nothing
    EXPECT_EQ(s.FontHeight, 0);
    EXPECT_TRUE(s.proportional());
    EXPECT_EQ(s.DefaultWidth, 0);
}

TEST(ParseOptions, FirstNonOptionEndsOptions) {
    const CommandLine line = parse({"-s8,8", "", "-v", "x"});
    EXPECT_EQ(line.operands, (std::vector<std::string>{"", "-v", "x"}));
    EXPECT_EQ(line.settings.Verbose, 0);
}

TEST(ParseOptions, AcceptsEdgeValues) {
    EXPECT_EQ(parse({"-t255"}).settings.CctIndex, 255);
    EXPECT_EQ(parse({"-tx"}).settings.CctIndex, 0);
    EXPECT_EQ(parse({"-t4294967297"}).settings.CctIndex, 1);  // low 32 bits
    EXPECT_EQ(parse({"-verbose"}).settings.Verbose, 1);
}

TEST(ParseOptions, RefusesWithUsage) {
    const std::vector<std::vector<const char*>> refused = {
        {"-"}, {"--"}, {"-x"}, {"-S16,16"}, {"-n"}, {"-nAB"}, {"-nABCD"},
        {"-t"}, {"-t256"}, {"-t-1"}, {"-v", "-x", "a", "b"},
    };
    for (const auto& args : refused) {
        testing::internal::CaptureStderr();
        EXPECT_THROW(parse(args), ExitRequest) << args[0];
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(err.rfind("Usage: sheetcut [options] {bmp-file} {fnt-file}\n", 0), 0u) << err;
    }
}

}  // namespace

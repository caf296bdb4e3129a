// The settings record, the option parser and the usage block.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace sheetcut {

inline constexpr std::int32_t FLAG_PROPORTIONAL = 1;

// Filled by parse_options, then only read. Every field starts at zero; an
// option that is not given leaves its field at zero.
struct FontSettings {
    std::int32_t FontWidth = 0;
    std::int32_t FontHeight = 0;
    std::int32_t StartCode = 0;
    std::int32_t EndCode = 0;
    std::int32_t StartOffset = 0;
    std::int32_t EndOffset = 0;
    std::int32_t DefaultWidth = 0;
    std::int32_t GapX = 0;
    std::int32_t GapY = 0;
    char FontName[4] = {0, 0, 0, 0};  // three bytes and a zero, or all zero
    std::int32_t CctIndex = 0;
    std::int32_t Flags = 0;
    std::int32_t Verbose = 0;

    bool proportional() const { return (Flags & FLAG_PROPORTIONAL) != 0; }
};

struct CommandLine {
    FontSettings settings;
    std::vector<std::string> operands;
};

// Parses the arguments after the program name. A rejected option calls
// usage at once.
CommandLine parse_options(std::span<const char* const> args);

// "%d,%d" and "%x,%x" as the formatted-scan rules read them: each field is
// assigned only when the scan reaches it; the others keep their values.
void scan_pair(const char* text, int base, std::int32_t& first, std::int32_t& second);
// Decimal text to integer: white space, one sign, digits; no digits is 0.
// Out-of-range values keep their low 32 bits.
std::int32_t text_to_int(const char* text);

// The settings summary printed under -v.
void trace_settings(const FontSettings& settings);

// Writes the usage block to standard error and ends the run with status 1.
[[noreturn]] void usage();

// The whole program behind main: returns the process status.
int run_sheetcut(int argc, const char* const* argv);

}  // namespace sheetcut

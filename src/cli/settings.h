// The settings record, the option parser and the usage block.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "convert/font_settings.h"

namespace sheetcut {

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

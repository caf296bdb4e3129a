// Fuzz target: arbitrary bytes as an argument vector (arguments separated
// by zero bytes) through the option parser and the settings summary.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/settings.h"
#include "diag/diag.h"
#include "quiet_trace.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quiet_trace();
    std::vector<std::string> args(1);
    for (std::size_t i = 0; i < size && args.size() <= 64; ++i) {
        if (data[i] == 0) args.emplace_back();
        else args.back().push_back(static_cast<char>(data[i]));
    }
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    sheetcut::run_reported([&] {
        const sheetcut::CommandLine line = sheetcut::parse_options(argv);
        if (line.settings.Verbose) sheetcut::trace_settings(line.settings);
        if (line.operands.size() != 2) sheetcut::usage();
    });
    return 0;
}

#include "cli/settings.h"
#include "convert/sheet.h"
#include "diag/diag.h"

namespace sheetcut {

int run_sheetcut(int argc, const char* const* argv) {
    return run_reported([&] {
        // The program's own name is never looked at.
        const auto args = std::span<const char* const>(argv, static_cast<std::size_t>(argc)).subspan(argc > 0 ? 1 : 0);
        const CommandLine line = parse_options(args);
        if (line.settings.Verbose) trace_settings(line.settings);
        if (line.operands.size() != 2) usage();
        convert_sheet(line.settings, line.operands[0], line.operands[1]);
    });
}

}  // namespace sheetcut

#include <cstring>

#include "cli/settings.h"
#include "diag/diag.h"

namespace sheetcut {
namespace {

// The usage format, then one line per option, closed by a null entry.
constexpr const char* kUsageLines[] = {
    "Usage: %s [options] {bmp-file} {fnt-file}",
    "\t-sW,H:\tfont width and height",
    "\t-cS,E:\tstart,end code (in hex)",
    "\t-oS,E:\tstart,end offset (in hex)",
    "\t-pX:\tproportional font and width for default char",
    "\t-gX,Y:\tx,y font gap",
    "\t-nNNN:\tfont name (length must be 3 bytes)",
    "\t-t#:\tCCT index (#=0-255)",
    "\t-v:\tverbose output",
    nullptr,
};

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int digit_value(char c, int base) {
    int v = -1;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    return v < base ? v : -1;
}

// Scans one number the way %d or %x does. Returns the position after it, or
// nullptr when no number matches there. Digits accumulate modulo 2^64, so
// the low 32 bits come out right however long the number is.
const char* scan_number(const char* p, int base, std::int32_t& out) {
    while (is_space(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (base == 16 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        // After the prefix at least one hex digit must follow.
        if (digit_value(p[2], 16) < 0) return nullptr;
        p += 2;
    }
    if (digit_value(*p, base) < 0) return nullptr;
    std::uint64_t value = 0;
    for (int d; (d = digit_value(*p, base)) >= 0; ++p)
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(d);
    if (negative) value = 0 - value;
    out = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    return p;
}

void set_name(FontSettings& s, const char* value) {
    if (std::strlen(value) != 3) usage();
    std::memcpy(s.FontName, value, 3);
    s.FontName[3] = '\0';
}

void set_cct_index(FontSettings& s, const char* value) {
    if (*value == '\0') usage();
    const std::int32_t index = text_to_int(value);
    if (index < 0 || index > 255) usage();
    s.CctIndex = index;
}

void apply_option(FontSettings& s, char letter, const char* value) {
    switch (letter) {
    case 's': scan_pair(value, 10, s.FontWidth, s.FontHeight); break;
    case 'c': scan_pair(value, 16, s.StartCode, s.EndCode); break;
    case 'o': scan_pair(value, 16, s.StartOffset, s.EndOffset); break;
    case 'p':
        s.Flags |= FLAG_PROPORTIONAL;
        s.DefaultWidth = text_to_int(value);
        break;
    case 'g': scan_pair(value, 10, s.GapX, s.GapY); break;
    case 'n': set_name(s, value); break;
    case 't': set_cct_index(s, value); break;
    case 'v': s.Verbose = 1; break;
    default: usage();
    }
}

}  // namespace

void scan_pair(const char* text, int base, std::int32_t& first, std::int32_t& second) {
    const char* p = scan_number(text, base, first);
    if (p == nullptr || *p != ',') return;
    scan_number(p + 1, base, second);
}

std::int32_t text_to_int(const char* text) {
    // Same number syntax as %d; no digits leaves the result at 0.
    std::int32_t value = 0;
    scan_number(text, 10, value);
    return value;
}

CommandLine parse_options(std::span<const char* const> args) {
    CommandLine line;
    line.settings.Flags = 0;
    std::size_t i = 0;
    for (; i < args.size() && args[i][0] == '-'; ++i) {
        const char* arg = args[i];
        // A lone "-" has no letter; the value text starts after the letter.
        if (arg[1] == '\0') usage();
        apply_option(line.settings, arg[1], arg + 2);
    }
    line.operands.assign(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
    return line;
}

void trace_settings(const FontSettings& s) {
    trace("FontWidth = %d\n", s.FontWidth);
    trace("FontHeight = %d\n", s.FontHeight);
    trace("Code Range(%x,%x)\n", static_cast<unsigned>(s.StartCode), static_cast<unsigned>(s.EndCode));
    trace("Offset Range(%x,%x)\n", static_cast<unsigned>(s.StartOffset),
          static_cast<unsigned>(s.EndOffset));
    trace("\n");
}

void usage() {
    trace_out().flush();
    std::fprintf(stderr, kUsageLines[0], program_name());
    std::fputs("\n", stderr);
    for (const char* const* line = kUsageLines + 1; *line != nullptr; ++line)
        std::fprintf(stderr, "%s\n", *line);
    std::fflush(stderr);
    throw ExitRequest{1};
}

}  // namespace sheetcut

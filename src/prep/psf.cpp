// PSF, the Linux console font format.
//
// PSF 1: magic 36 04, a mode byte (bit 0: 512 glyphs instead of 256; bits
// 1 and 2: a Unicode table follows) and the glyph height; glyphs are 8
// pixels wide, one byte a row. Its table gives each glyph its code points as
// 16-bit little-endian values ended by FFFF; FFFE starts sequences of
// combining characters, which are skipped.
// PSF 2: magic 72 B5 4A 86 and a 32-byte little-endian header (version,
// header size, flags with bit 0 for a Unicode table, glyph count, bytes per
// glyph, height, width); rows are padded to whole bytes. Its table is UTF-8,
// each glyph's entry ended by FF, FE starting sequences.
#include <cstdio>
#include <map>

#include "prep/font.h"

namespace sheetcut {
namespace {

[[noreturn]] void refuse(const std::string& what) {
    throw PictureError("PSF: " + what);
}

struct PsfLayout {
    int version = 0;
    std::uint64_t header = 0;
    std::uint64_t count = 0;
    std::uint64_t bytes_per_glyph = 0;
    int width = 0;
    int height = 0;
    bool has_table = false;
};

PsfLayout read_layout(std::span<const std::uint8_t> f) {
    PsfLayout l;
    if (f.size() >= 4 && f[0] == 0x36 && f[1] == 0x04) {
        l.version = 1;
        l.header = 4;
        l.count = (f[2] & 1) ? 512 : 256;
        l.has_table = (f[2] & 6) != 0;
        l.height = f[3];
        l.width = 8;
        l.bytes_per_glyph = l.height;
    } else {
        if (f.size() < 32) refuse("truncated header");
        l.version = 2;
        l.header = le32(f.data() + 8);
        l.has_table = (le32(f.data() + 12) & 1) != 0;
        l.count = le32(f.data() + 16);
        l.bytes_per_glyph = le32(f.data() + 20);
        const std::uint32_t height = le32(f.data() + 24), width = le32(f.data() + 28);
        // sheetcut takes cells of at most 255 pixels a side.
        if (width == 0 || height == 0 || width > 255 || height > 255)
            refuse("glyphs of " + std::to_string(width) + " x " + std::to_string(height) + " pixels");
        l.width = static_cast<int>(width);
        l.height = static_cast<int>(height);
        if (l.header < 32) refuse("header size " + std::to_string(l.header));
        if (l.bytes_per_glyph != std::uint64_t{height} * ((width + 7) / 8))
            refuse("glyph size " + std::to_string(l.bytes_per_glyph) + " does not fit " + std::to_string(width) +
                   " x " + std::to_string(height));
    }
    if (l.height == 0) refuse("glyph height 0");
    if (l.header > f.size() || l.count > (f.size() - l.header) / l.bytes_per_glyph) refuse("truncated glyphs");
    return l;
}

// Code point -> glyph, from the table; the first glyph that lists a code
// draws it.
std::map<std::uint32_t, std::uint64_t> read_table(std::span<const std::uint8_t> f, const PsfLayout& l) {
    std::map<std::uint32_t, std::uint64_t> glyph_of;
    std::size_t p = static_cast<std::size_t>(l.header + l.count * l.bytes_per_glyph);
    for (std::uint64_t glyph = 0; glyph < l.count && p < f.size(); ++glyph) {
        bool in_sequence = false;
        if (l.version == 1) {
            for (; p + 1 < f.size(); p += 2) {
                const std::uint16_t v = le16(f.data() + p);
                if (v == 0xffff) break;
                if (v == 0xfffe) in_sequence = true;
                else if (!in_sequence) glyph_of.emplace(v, glyph);
            }
            p += 2;
            continue;
        }
        while (p < f.size() && f[p] != 0xff) {
            if (f[p] == 0xfe) {
                in_sequence = true;
                ++p;
                continue;
            }
            // One UTF-8 character.
            const std::uint8_t lead = f[p];
            const int extra = lead >= 0xf0 ? 3 : lead >= 0xe0 ? 2 : lead >= 0xc0 ? 1 : 0;
            std::uint32_t code = extra == 0 ? lead : lead & (0x3f >> extra);
            ++p;
            for (int i = 0; i < extra && p < f.size() && f[p] != 0xff && f[p] != 0xfe; ++i, ++p)
                code = code << 6 | (f[p] & 0x3f);
            if (!in_sequence) glyph_of.emplace(code, glyph);
        }
        ++p;  // the FF that ends the entry
    }
    return glyph_of;
}

}  // namespace

bool is_psf(std::span<const std::uint8_t> f) {
    return (f.size() >= 2 && f[0] == 0x36 && f[1] == 0x04) ||
           (f.size() >= 4 && f[0] == 0x72 && f[1] == 0xb5 && f[2] == 0x4a && f[3] == 0x86);
}

RenderedFont render_psf(std::span<const std::uint8_t> f, const FontRequest& request) {
    const PsfLayout l = read_layout(f);
    const auto glyph_of = l.has_table ? read_table(f, l) : std::map<std::uint32_t, std::uint64_t>{};
    RenderedFont font;
    font.first = request.first;
    font.ascent = l.height;
    font.descent = 0;
    const std::size_t row_bytes = (static_cast<std::size_t>(l.width) + 7) / 8;
    for (std::uint64_t code = request.first; code <= request.last; ++code) {
        GlyphImage g;
        g.advance = l.width;
        std::uint64_t index = code;
        if (l.has_table) {
            const auto found = glyph_of.find(static_cast<std::uint32_t>(code));
            index = found == glyph_of.end() ? l.count : found->second;
        }
        if (index < l.count) {
            g.present = true;
            g.top = l.height;
            g.width = l.width;
            g.rows = l.height;
            g.ink.resize(static_cast<std::size_t>(l.width) * l.height);
            const std::uint8_t* bits = f.data() + l.header + index * l.bytes_per_glyph;
            for (int y = 0; y < l.height; ++y)
                for (int x = 0; x < l.width; ++x)
                    g.ink[static_cast<std::size_t>(y * l.width + x)] =
                        (bits[static_cast<std::size_t>(y) * row_bytes + static_cast<std::size_t>(x / 8)] >> (7 - x % 8)) & 1;
        }
        font.glyphs.push_back(std::move(g));
    }
    char format[128];
    std::snprintf(format, sizeof format, "PSF %d font, %llu glyphs of %d x %d%s", l.version,
                  static_cast<unsigned long long>(l.count), l.width, l.height,
                  l.has_table ? ", with a Unicode table" : "");
    font.format = format;
    return font;
}

}  // namespace sheetcut

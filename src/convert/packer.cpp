#include "convert/packer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "diag/diag.h"

namespace sheetcut {
namespace {

// A cell row of up to 255 pixels packs into 32 bytes; 8 more zero bytes let
// a 64-bit window start at any of them.
constexpr int kRowBytes = 40;
// Bits moved per step: a 64-bit window shifted by up to 7 still holds 56.
constexpr int kChunkBits = 56;

// Eight pixels to eight bits, the first pixel in the top bit: any non-zero
// byte is ink.
std::uint8_t pack8(const std::uint8_t* pixels) {
    std::uint64_t v;
    std::memcpy(&v, pixels, 8);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    // Fold each byte's bits into its lowest bit, then gather those eight
    // bits into the top byte: byte i lands at bit 7 - i.
    v |= v >> 4;
    v |= v >> 2;
    v |= v >> 1;
    v &= 0x0101010101010101ULL;
    return static_cast<std::uint8_t>((v * 0x8040201008040201ULL) >> 56);
}

// One pixel row of a cell as bits; bits past width stay zero.
void row_bits(const std::uint8_t* pixels, int width, std::uint8_t* out) {
    int x = 0;
    for (; x + 8 <= width; x += 8) out[x / 8] = pack8(pixels + x);
    if (x < width) {
        std::uint8_t tail[8] = {};
        std::memcpy(tail, pixels + x, static_cast<std::size_t>(width - x));
        out[x / 8] = pack8(tail);
    }
}

// n bits (1..56) of src from bit `from` on, left-aligned in the result.
std::uint64_t take_bits(const std::uint8_t* src, int from, int n) {
    std::uint64_t w;
    std::memcpy(&w, src + from / 8, 8);
    if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
    return (w << (from % 8)) & (~std::uint64_t{0} << (64 - n));
}

// ORs n left-aligned bits (1..56) into out at bit position bitpos.
void put_bits(std::uint8_t* out, std::int64_t bitpos, std::uint64_t w, int n) {
    std::uint8_t* p = out + bitpos / 8;
    const int shift = static_cast<int>(bitpos % 8);
    w >>= shift;
    const int nbytes = (shift + n + 7) / 8;
    for (int i = 0; i < nbytes; ++i) p[i] |= static_cast<std::uint8_t>(w >> (56 - 8 * i));
}

// Eight picture characters for each byte of bits: "o" for ink, " " else.
constexpr auto kPicture = [] {
    std::array<std::array<char, 8>, 256> table{};
    for (int b = 0; b < 256; ++b)
        for (int i = 0; i < 8; ++i) table[b][i] = (b >> (7 - i)) & 1 ? 'o' : ' ';
    return table;
}();

// The picture line of bits [from, to) of one row, and its line feed.
void trace_picture_row(const std::uint8_t* row, int from, int to) {
    Trace& t = trace_out();
    char* out = t.reserve(static_cast<std::size_t>(std::max(0, to - from)) + 9);
    std::size_t k = 0;
    for (; from < to; from += kChunkBits) {
        const int n = std::min(kChunkBits, to - from);
        const std::uint64_t w = take_bits(row, from, n);
        for (int i = 0; i * 8 < n; ++i)
            std::memcpy(out + k + 8 * static_cast<std::size_t>(i), kPicture[(w >> (56 - 8 * i)) & 0xff].data(), 8);
        k += static_cast<std::size_t>(n);
    }
    out[k++] = '\n';
    t.commit(k);
}

InkSpan span_of_rows(const std::uint8_t* rows, int height, std::int32_t default_width) {
    std::uint8_t columns[kRowBytes] = {};
    for (int y = 0; y < height; ++y)
        for (int i = 0; i < kRowBytes; ++i) columns[i] |= rows[y * kRowBytes + i];
    int first = 0;
    while (first < kRowBytes && columns[first] == 0) ++first;
    if (first == kRowBytes) return {0, default_width};
    int last = kRowBytes - 1;
    while (columns[last] == 0) --last;
    return {first * 8 + std::countl_zero(columns[first]), last * 8 + 8 - std::countr_zero(columns[last])};
}

class Packer {
public:
    Packer(const FontSettings& s, const SheetImage& sheet, FontImage& font)
        : s_(s), sheet_(sheet), font_(font),
          rows_(static_cast<std::size_t>(s.FontHeight) * kRowBytes, 0) {}

    void run() {
        for (std::int64_t off = s_.StartOffset; off <= s_.EndOffset; ++off) pack_glyph(off);
    }

    // Loads the cell's rows as bits, after proving every pixel of the cell
    // lies inside the pixel block.
    void load_cell(std::int64_t top_left) {
        const std::int64_t bottom_left = top_left - std::int64_t{s_.FontHeight - 1} * sheet_.bmpwidth;
        if (bottom_left < 0 || top_left + s_.FontWidth > sheet_.bmpsize) fatal("Invalid pb.");
        const std::uint8_t* row = sheet_.pixels.get() + top_left;
        for (int y = 0; y < s_.FontHeight; ++y, row -= sheet_.bmpwidth)
            row_bits(row, s_.FontWidth, rows_.data() + y * kRowBytes);
    }

    const std::uint8_t* rows() const { return rows_.data(); }

private:
    std::int64_t top_left_of(std::int64_t off) const {
        return sheet_.top_row - (off / sheet_.ncols) * sheet_.bmpnext + (off % sheet_.ncols) * s_.FontWidth;
    }

    void trace_glyph_start(std::int64_t off) const {
        Trace& t = trace_out();
        t.text("off = ");
        t.hex(static_cast<std::uint32_t>(off), 4);
        t.text("\ntemp = ");
        t.dec((off / sheet_.ncols) * sheet_.bmpnext + (off % sheet_.ncols) * s_.FontWidth);
        t.text("\nfont off = ");
        t.hex(static_cast<std::uint32_t>(cursor_.pf), 6);
        t.text(" , bit mask = ");
        t.hex(cursor_.mask, 2);
        t.ch('\n');
    }

    void pack_glyph(std::int64_t off) {
        if (s_.Verbose) trace_glyph_start(off);
        load_cell(top_left_of(off));
        InkSpan span{0, s_.FontWidth};
        std::int64_t bitpos = bitpos_;  // absolute bit position in the image
        if (s_.proportional()) {
            span = span_of_rows(rows_.data(), s_.FontHeight, s_.DefaultWidth);
            bitpos = prologue(span);
        }
        const int w = span.xend - span.xstart;
        const std::int64_t nbits = std::int64_t{w} * s_.FontHeight;
        if (bitpos + nbits > font_.fntsize * 8) fatal("Invalid pf.");
        for (int y = 0; y < s_.FontHeight; ++y) {
            const std::uint8_t* row = rows_.data() + y * kRowBytes;
            for (int from = span.xstart; from < span.xend; from += kChunkBits) {
                const int n = std::min(kChunkBits, span.xend - from);
                put_bits(font_.bytes.get(), bitpos, take_bits(row, from, n), n);
                bitpos += n;
            }
            if (s_.Verbose) trace_picture_row(row, span.xstart, span.xend);
        }
        if (s_.proportional()) {
            // The next record starts a whole record on; the mask is left as
            // the last packed pixel left it, which the next trace line shows.
            cursor_.pf += record_length(s_);
            cursor_.mask = static_cast<std::uint8_t>(0x80 >> (nbits % 8));
        } else {
            bitpos_ = bitpos;
            cursor_.pf = bitpos / 8;
            cursor_.mask = static_cast<std::uint8_t>(0x80 >> (bitpos % 8));
        }
        if (s_.Verbose) trace_out().ch('\n');
    }

    // Stores the width byte at the record's start and returns the bit
    // position of its bitmap.
    std::int64_t prologue(InkSpan span) {
        const int w = span.xend - span.xstart;
        if (cursor_.pf + record_length(s_) > font_.fntsize) fatal("Invalid pf.");
        font_.bytes[static_cast<std::size_t>(cursor_.pf)] = static_cast<std::uint8_t>(w);
        if (s_.Verbose) {
            Trace& t = trace_out();
            t.text("xstart,xend = ");
            t.dec(span.xstart);
            t.ch(',');
            t.dec(span.xend);
            t.text("\nw = ");
            t.dec(w);
            t.ch('\n');
        }
        return (cursor_.pf + 1) * 8;
    }

    const FontSettings& s_;
    const SheetImage& sheet_;
    FontImage& font_;
    std::vector<std::uint8_t> rows_;  // the current cell, kRowBytes per row
    PackCursor cursor_;
    std::int64_t bitpos_ = kHeaderSize * 8;
};

}  // namespace

InkSpan ink_span(const FontSettings& s, const SheetImage& sheet, std::int64_t top_left) {
    FontImage unused;
    Packer packer(s, sheet, unused);
    packer.load_cell(top_left);
    return span_of_rows(packer.rows(), s.FontHeight, s.DefaultWidth);
}

void pack_glyphs(const FontSettings& s, const SheetImage& sheet, FontImage& font) {
    Packer(s, sheet, font).run();
}

}  // namespace sheetcut

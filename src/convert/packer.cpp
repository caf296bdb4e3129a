#include "convert/packer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "diag/diag.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace sheetcut {
namespace {

// Bits moved per step: a 64-bit word shifted by up to 7 bits into a byte
// position still holds 56.
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

// Sixty-four pixels to a word of bits, the first pixel in the top bit.
std::uint64_t pack64(const std::uint8_t* pixels) {
#if defined(__SSE2__)
    // One compare and one mask extraction per sixteen pixels; the mask has
    // the first pixel in its lowest bit, so the word is reversed after.
    const __m128i zero = _mm_setzero_si128();
    std::uint64_t low_first = 0;
    for (int i = 0; i < 4; ++i) {
        __m128i v;
        std::memcpy(&v, pixels + 16 * i, 16);
        const auto blank = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero)));
        low_first |= std::uint64_t{~blank & 0xffffu} << (16 * i);
    }
    std::uint64_t x = low_first;
    x = (x >> 1 & 0x5555555555555555ULL) | (x & 0x5555555555555555ULL) << 1;
    x = (x >> 2 & 0x3333333333333333ULL) | (x & 0x3333333333333333ULL) << 2;
    x = (x >> 4 & 0x0f0f0f0f0f0f0f0fULL) | (x & 0x0f0f0f0f0f0f0f0fULL) << 4;
    return __builtin_bswap64(x);
#else
    std::uint64_t w = 0;
    for (int g = 0; g < 8; ++g) w = w << 8 | pack8(pixels + 8 * g);
    return w;
#endif
}

// Eight pixels of which only `readable` (at least 1) may be read.
std::uint8_t pack8_tail(const std::uint8_t* pixels, std::int64_t readable) {
    if (readable >= 8) return pack8(pixels);
    std::uint8_t tail[8] = {};
    std::memcpy(tail, pixels, static_cast<std::size_t>(readable));
    return pack8(tail);
}

// A bit row: a row of pixels as bits, most significant bit first, as the
// font stores them, followed by at least eight zero bytes.

// n bits (1..56) of a bit row from bit `from` on, left-aligned: one
// unaligned load, since 56 bits and a shift of up to 7 fit in a word.
std::uint64_t take_bits(const std::uint8_t* row, std::uint64_t from, int n) {
    std::uint64_t v;
    std::memcpy(&v, row + from / 8, 8);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    return (v << (from % 8)) & (~std::uint64_t{0} << (64 - n));
}

void store_be64(std::uint8_t* out, std::uint64_t w) {
    if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
    std::memcpy(out, &w, 8);
}

// Appends bits to the font image from a byte-aligned start, eight bytes at
// a time. The image is zero-filled and bits are only ever set, so whole
// bytes can be stored rather than ORed in. The caller has checked that the
// bits it puts fit the image; flush writes the last partial bytes.
class BitWriter {
public:
    explicit BitWriter(std::uint8_t* out) : out_(out) {}

    // n (1..56) left-aligned bits.
    void put(std::uint64_t v, int n) {
        acc_ |= v >> used_;
        if (used_ + n < 64) {
            used_ += n;
            return;
        }
        store8(acc_);
        const int spill = used_ + n - 64;
        acc_ = spill > 0 ? v << (n - spill) : 0;
        used_ = spill;
    }

    // Where the bits written so far end on a byte boundary, the next n
    // bytes can be handed out to be filled whole.
    bool aligned() const { return used_ % 8 == 0; }
    std::uint8_t* claim(std::size_t n) {
        flush();
        std::uint8_t* bytes = out_;
        out_ += n;
        return bytes;
    }

    void flush() {
        for (int i = 0; i * 8 < used_; ++i) *out_++ = static_cast<std::uint8_t>(acc_ >> (56 - 8 * i));
        acc_ = 0;
        used_ = 0;
    }

private:
    void store8(std::uint64_t w) {
        store_be64(out_, w);
        out_ += 8;
    }

    std::uint8_t* out_;
    std::uint64_t acc_ = 0;
    int used_ = 0;  // bits held in acc_, always below 64
};

// Eight picture characters for each byte of bits: "o" for ink, " " else.
constexpr auto kPicture = [] {
    std::array<std::array<char, 8>, 256> table{};
    for (int b = 0; b < 256; ++b)
        for (int i = 0; i < 8; ++i) table[b][i] = (b >> (7 - i)) & 1 ? 'o' : ' ';
    return table;
}();

// A run of pixel rows of the sheet as bit rows: the rows a cell or a whole
// row of cells spans, converted once, top row first. Reading the sheet a
// whole image row at a time keeps the reads sequential.
class BitRows {
public:
    // Converts `height` rows of `width` pixels whose top-left pixel is at
    // `top_left`, each row bmpwidth bytes before the one above it in the
    // block. Every pixel must lie inside the block: "Invalid pb." if not.
    void load(const SheetImage& sheet, std::int64_t top_left, std::int32_t width, std::int32_t height) {
        const std::int64_t bottom_left = top_left - std::int64_t{height - 1} * sheet.bmpwidth;
        if (bottom_left < 0 || top_left + width > sheet.bmpsize) fatal("Invalid pb.");
        stride_ = static_cast<std::size_t>(width + 7) / 8 + 8;
        bits_.assign(stride_ * static_cast<std::size_t>(height), 0);
        // The rows from the bottom one's first pixel to the top one's last,
        // and any bytes after it that the block holds, for whole loads.
        const std::int64_t length = std::min(top_left + width + 7, sheet.bmpsize) - bottom_left;
        const std::uint8_t* block = sheet.range(bottom_left, length, scratch_);
        std::int64_t row = top_left - bottom_left;
        for (std::int32_t y = 0; y < height; ++y, row -= sheet.bmpwidth)
            convert_row(block + row, width, length - row, &bits_[y * stride_]);
    }

    const std::uint8_t* row(int y) const { return &bits_[static_cast<std::size_t>(y) * stride_]; }
    std::size_t stride() const { return stride_; }

private:
    // Bytes past the last pixel are read while the block lasts (`readable`
    // bytes from pixels on), so that every group of eight is one load;
    // their bits are cleared after.
    static void convert_row(const std::uint8_t* pixels, std::int32_t width, std::int64_t readable,
                            std::uint8_t* bits) {
        const std::int64_t groups = (width + 7) / 8;
        const std::int64_t whole = std::min<std::int64_t>(groups, readable / 8) / 8;  // of 64 pixels
        for (std::int64_t k = 0; k < whole; ++k) store_be64(bits + 8 * k, pack64(pixels + 64 * k));
        for (std::int64_t g = whole * 8; g < groups; ++g) bits[g] = pack8_tail(pixels + 8 * g, readable - 8 * g);
        if (width % 8 != 0) bits[groups - 1] &= static_cast<std::uint8_t>(0xff << (8 - width % 8));
    }

    std::size_t stride_ = 0;
    std::vector<std::uint8_t> bits_;
    std::vector<std::uint8_t> scratch_;  // pixels read from the sheet
};

// The leftmost and rightmost ink columns of the cell whose columns start at
// bit `left` of the rows.
InkSpan span_of(const BitRows& rows, std::uint64_t left, const FontSettings& s) {
    InkSpan span{-1, -1};
    for (int from = 0; from < s.FontWidth; from += kChunkBits) {
        const int n = std::min(kChunkBits, s.FontWidth - from);
        std::uint64_t ink = 0;
        for (int y = 0; y < s.FontHeight; ++y) ink |= take_bits(rows.row(y), left + static_cast<std::uint64_t>(from), n);
        if (ink == 0) continue;
        if (span.xstart < 0) span.xstart = from + std::countl_zero(ink);
        span.xend = from + 64 - std::countr_zero(ink);
    }
    if (span.xstart < 0) return {0, s.DefaultWidth};
    return span;
}

class Packer {
public:
    Packer(const FontSettings& s, const SheetImage& sheet, FontImage& font) : s_(s), sheet_(sheet), font_(font) {}

    void run() {
        // Cell row r and column c of off, counted along rather than divided.
        std::int64_t r = s_.StartOffset / sheet_.ncols, c = s_.StartOffset % sheet_.ncols;
        load_band(r);
        for (std::int64_t off = s_.StartOffset; off <= s_.EndOffset; ++off) {
            if (c == sheet_.ncols) {
                c = 0;
                load_band(++r);
            }
            pack_glyph(off, static_cast<std::uint64_t>(c++ * s_.FontWidth));
        }
        stream_.flush();
    }

private:
    // The whole row of cells r, converted before its first glyph.
    void load_band(std::int64_t r) {
        band_rows_.load(sheet_, sheet_.top_row - r * sheet_.bmpnext, sheet_.ncols * s_.FontWidth, s_.FontHeight);
    }

    void trace_glyph_start(std::int64_t off) const {
        Trace& t = trace_out();
        t.text("off = ");
        t.hex(static_cast<std::uint32_t>(off), 4);
        t.text("\ntemp = ");
        t.dec(off / sheet_.ncols * sheet_.bmpnext + off % sheet_.ncols * s_.FontWidth);
        t.text("\nfont off = ");
        t.hex(static_cast<std::uint32_t>(cursor_.pf), 6);
        t.text(" , bit mask = ");
        t.hex(cursor_.mask, 2);
        t.ch('\n');
    }

    // Packs cell off, whose columns start at bit column `left` of the band.
    void pack_glyph(std::int64_t off, std::uint64_t left) {
        if (s_.Verbose) trace_glyph_start(off);
        if (s_.proportional()) {
            const InkSpan span = span_of(band_rows_, left, s_);
            const std::int64_t nbits = std::int64_t{span.xend - span.xstart} * s_.FontHeight;
            BitWriter record(prologue(span, nbits));
            pack_rows(record, span, left);
            record.flush();
            // The next record starts a whole record on; the mask is left as
            // the last packed pixel left it, which the next trace line shows.
            cursor_.pf += record_length(s_);
            cursor_.mask = static_cast<std::uint8_t>(0x80 >> (nbits % 8));
        } else {
            const std::int64_t nbits = std::int64_t{s_.FontWidth} * s_.FontHeight;
            if (bitpos_ + nbits > font_.fntsize * 8) fatal("Invalid pf.");
            pack_rows(stream_, InkSpan{0, s_.FontWidth}, left);
            bitpos_ += nbits;
            cursor_.pf = bitpos_ / 8;
            cursor_.mask = static_cast<std::uint8_t>(0x80 >> (bitpos_ % 8));
        }
        if (s_.Verbose) trace_out().ch('\n');
    }

    // Columns xstart..xend - 1 of each pixel row of the cell at bit column
    // `left` of the band, top to bottom.
    void pack_rows(BitWriter& out, InkSpan span, std::uint64_t left) const {
        // Work on local copies: stores into the image could otherwise alias
        // the writer's state and the row pointers, and force them through
        // memory on every put.
        BitWriter w = out;
        const std::uint64_t first = left + static_cast<std::uint64_t>(span.xstart);
        const int width = span.xend - span.xstart;
        const std::size_t stride = band_rows_.stride();
        const std::uint8_t* row = band_rows_.row(0);
        const bool verbose = s_.Verbose != 0;
        const int height = s_.FontHeight;
        // Rows of whole bytes that start on a byte are copied as they are.
        const std::size_t row_bytes = static_cast<std::size_t>(width / 8);
        std::uint8_t* bytes = width % 8 == 0 && first % 8 == 0 && w.aligned() ? w.claim(row_bytes * height) : nullptr;
        for (int y = 0; y < height; ++y, row += stride) {
            if (bytes != nullptr) {
                // Glyph rows are a few bytes: a plain loop beats a call to memcpy.
                for (std::size_t i = 0; i < row_bytes; ++i) bytes[i] = row[first / 8 + i];
                bytes += row_bytes;
            } else for (int done = 0; done < width; done += kChunkBits) {
                const int n = std::min(kChunkBits, width - done);
                w.put(take_bits(row, first + static_cast<std::uint64_t>(done), n), n);
            }
            if (verbose) trace_picture_row(row, first, width);
        }
        out = w;
    }

    // Stores the width byte at the record's start and returns where its
    // bitmap begins.
    std::uint8_t* prologue(InkSpan span, std::int64_t nbits) {
        const int w = span.xend - span.xstart;
        const std::int64_t reclen = record_length(s_);
        if (cursor_.pf + reclen > font_.fntsize || nbits > (reclen - 1) * 8) fatal("Invalid pf.");
        std::uint8_t* record = font_.bytes.get() + cursor_.pf;
        record[0] = static_cast<std::uint8_t>(w);
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
        return record + 1;
    }

    // The picture line of bits [from, to) of one row, and its line feed.
    static void trace_picture_row(const std::uint8_t* row, std::uint64_t from, int width) {
        Trace& t = trace_out();
        char* out = t.reserve(static_cast<std::size_t>(std::max(0, width)) + 9);
        std::size_t k = 0;
        for (int done = 0; done < width; done += kChunkBits) {
            const int n = std::min(kChunkBits, width - done);
            const std::uint64_t w = take_bits(row, from + static_cast<std::uint64_t>(done), n);
            for (int i = 0; i * 8 < n; ++i)
                std::memcpy(out + k + 8 * static_cast<std::size_t>(i), kPicture[(w >> (56 - 8 * i)) & 0xff].data(), 8);
            k += static_cast<std::size_t>(n);
        }
        out[k++] = '\n';
        t.commit(k);
    }

    const FontSettings& s_;
    const SheetImage& sheet_;
    FontImage& font_;
    BitRows band_rows_;  // the current row of cells
    PackCursor cursor_;
    std::int64_t bitpos_ = kHeaderSize * 8;  // where the next fixed-width glyph starts
    BitWriter stream_{font_.bytes.get() + kHeaderSize};
};

}  // namespace

InkSpan ink_span(const FontSettings& s, const SheetImage& sheet, std::int64_t top_left) {
    BitRows cell;
    cell.load(sheet, top_left, s.FontWidth, s.FontHeight);
    return span_of(cell, 0, s);
}

void pack_glyphs(const FontSettings& s, const SheetImage& sheet, FontImage& font) {
    Packer(s, sheet, font).run();
}

}  // namespace sheetcut

#include "bmp/bmp.h"

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace sheetcut {
namespace {

[[noreturn]] void refuse(const char* format, ...) __attribute__((format(printf, 1, 2)));
[[noreturn]] void refuse(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    throw PictureError(text);
}

// Bytes of a row of 8-bit pixels: rows are padded to 4 bytes.
std::int64_t row_stride(std::int64_t width) {
    return (width + 3) & ~std::int64_t{3};
}

void put_le(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

enum Compression : std::uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kJpeg = 4, kPng = 5, kAlphaBitFields = 6 };

// What the headers say, in one place.
struct Layout {
    std::uint32_t header_size = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;  // rows, whichever way they run
    bool top_down = false;
    int bpp = 0;
    std::uint32_t compression = kRgb;
    std::uint32_t colours_used = 0;
    std::uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
    bool has_masks = false;
    std::size_t after_headers = 0;  // where the palette would start
};

// One colour channel of a bit-field pixel, scaled to 8 bits.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint32_t max = 0;

    explicit Channel(std::uint32_t m) : mask(m) {
        if (mask == 0) return;
        while (((mask >> shift) & 1) == 0) ++shift;
        max = mask >> shift;
    }
    std::uint8_t operator()(std::uint32_t pixel) const {
        if (max == 0) return 0;
        const std::uint64_t v = (pixel & mask) >> shift;
        return static_cast<std::uint8_t>((v * 255 + max / 2) / max);
    }
};

const char* compression_name(std::uint32_t c) {
    switch (c) {
    case kRle8: return "RLE8";
    case kRle4: return "RLE4";
    case kBitFields: return "bit fields";
    case kAlphaBitFields: return "bit fields with alpha";
    default: return "uncompressed";
    }
}

Layout read_layout(std::span<const std::uint8_t> f) {
    if (f.size() < kFileHeaderSize + 4) refuse("truncated: %zu bytes, less than the headers", f.size());
    if (f[0] != 'B' || f[1] != 'M') refuse("not a BMP file: no \"BM\" at the start");
    Layout l;
    l.header_size = le32(f.data() + kFileHeaderSize);
    switch (l.header_size) {
    case 12: case 40: case 52: case 56: case 108: case 124: break;
    case 64: refuse("OS/2 2.x bitmaps (64-byte header) are not read");
    default: refuse("unknown info header size %u", l.header_size);
    }
    if (f.size() < kFileHeaderSize + l.header_size)
        refuse("truncated inside its %u-byte info header", l.header_size);
    const std::uint8_t* p = f.data() + kFileHeaderSize;
    std::int64_t height = 0;
    if (l.header_size == 12) {
        l.width = le16(p + 4);
        height = le16(p + 6);
        l.bpp = le16(p + 10);
    } else {
        l.width = static_cast<std::int32_t>(le32(p + 4));
        height = static_cast<std::int32_t>(le32(p + 8));
        l.bpp = le16(p + 14);
        l.compression = le32(p + 16);
        l.colours_used = le32(p + 32);
    }
    l.after_headers = kFileHeaderSize + l.header_size;
    if (l.compression == kBitFields || l.compression == kAlphaBitFields) {
        l.has_masks = true;
        const int count = l.compression == kAlphaBitFields ? 4 : 3;
        if (l.header_size == 40) {
            // The masks follow a 40-byte header.
            if (f.size() < l.after_headers + 4 * count) refuse("truncated inside its colour masks");
            for (int i = 0; i < count; ++i) l.masks[i] = le32(f.data() + l.after_headers + 4 * i);
            l.after_headers += 4 * count;
        } else {
            for (int i = 0; i < 4 && 40 + 4 * i + 4 <= static_cast<int>(l.header_size); ++i)
                l.masks[i] = le32(p + 40 + 4 * i);
        }
    }
    if (l.width < 1) refuse("width %lld is not positive", static_cast<long long>(l.width));
    if (height == 0 || height == INT32_MIN) refuse("height %lld is not usable", static_cast<long long>(height));
    l.top_down = height < 0;
    l.height = height < 0 ? -height : height;
    return l;
}

void check_kind(const Layout& l) {
    switch (l.bpp) {
    case 1: case 4: case 8: case 16: case 24: case 32: break;
    default: refuse("%d bits per pixel is not read (1, 4, 8, 16, 24 and 32 are)", l.bpp);
    }
    switch (l.compression) {
    case kRgb: return;
    case kRle8:
        if (l.bpp != 8) refuse("RLE8 needs 8 bits per pixel, not %d", l.bpp);
        return;
    case kRle4:
        if (l.bpp != 4) refuse("RLE4 needs 4 bits per pixel, not %d", l.bpp);
        return;
    case kBitFields: case kAlphaBitFields:
        if (l.bpp != 16 && l.bpp != 32) refuse("bit fields need 16 or 32 bits per pixel, not %d", l.bpp);
        return;
    case kJpeg: refuse("JPEG-compressed BMP is not read");
    case kPng: refuse("PNG-compressed BMP is not read");
    default: refuse("unknown compression %u", l.compression);
    }
}

// The palette: biClrUsed entries (all 2^bpp when 0, never more), as many as
// lie before the pixel data.
std::vector<Rgba> read_palette(std::span<const std::uint8_t> f, const Layout& l, std::uint32_t pixel_offset) {
    if (l.bpp > 8) return {};
    const std::size_t entry = l.header_size == 12 ? 3 : 4;
    std::size_t count = std::size_t{1} << l.bpp;
    if (l.colours_used != 0 && l.colours_used < count) count = l.colours_used;
    std::size_t end = f.size();
    if (pixel_offset != 0) end = std::min<std::size_t>(end, pixel_offset);
    count = std::min(count, end > l.after_headers ? (end - l.after_headers) / entry : 0);
    if (count == 0) refuse("no palette for its %d bits per pixel", l.bpp);
    std::vector<Rgba> palette(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* e = f.data() + l.after_headers + i * entry;
        palette[i] = Rgba{e[2], e[1], e[0], 255};
    }
    return palette;
}

// Unpacks one stored row of 16, 24 or 32 bits into RGBA.
void unpack_colours(const std::uint8_t* in, const Layout& l, const Channel (&c)[4], std::int64_t width,
                    std::uint8_t* out) {
    for (std::int64_t x = 0; x < width; ++x, out += 4) {
        if (l.bpp == 24) {
            const std::uint8_t* px = in + 3 * x;
            out[0] = px[2], out[1] = px[1], out[2] = px[0], out[3] = 255;
            continue;
        }
        const std::uint32_t px = l.bpp == 16 ? le16(in + 2 * x) : le32(in + 4 * x);
        out[0] = c[0](px), out[1] = c[1](px), out[2] = c[2](px);
        out[3] = c[3].max == 0 ? 255 : c[3](px);
    }
}

void decode_rows(std::span<const std::uint8_t> f, const Layout& l, std::size_t start, Picture& pic) {
    const std::int64_t stride = (l.width * l.bpp + 31) / 32 * 4;
    // The last row may lack its padding.
    const std::int64_t needed = stride * (l.height - 1) + (l.width * l.bpp + 7) / 8;
    const auto available = static_cast<std::int64_t>(f.size() - start);
    if (needed > available)
        refuse("truncated: the pixel rows need %lld bytes, the file has %lld", static_cast<long long>(needed),
               static_cast<long long>(available));
    // Without bit fields, 16 bits are 5-5-5 and 32 bits are 8-8-8 with the
    // top byte as alpha (where any pixel uses it: see below).
    std::uint32_t masks[4] = {l.masks[0], l.masks[1], l.masks[2], l.masks[3]};
    if (!l.has_masks && l.bpp == 16) masks[0] = 0x7c00, masks[1] = 0x03e0, masks[2] = 0x001f, masks[3] = 0;
    if (!l.has_masks && l.bpp == 32) masks[0] = 0xff0000, masks[1] = 0xff00, masks[2] = 0xff, masks[3] = 0xff000000;
    const Channel channels[4] = {Channel(masks[0]), Channel(masks[1]), Channel(masks[2]), Channel(masks[3])};
    const std::size_t row_bytes = static_cast<std::size_t>(l.width) * pic.pixel_size();
    for (std::int64_t stored = 0; stored < l.height; ++stored) {
        const std::uint8_t* in = f.data() + start + static_cast<std::size_t>(stored * stride);
        const std::int64_t y = l.top_down ? stored : l.height - 1 - stored;
        std::uint8_t* out = pic.pixels.data() + static_cast<std::size_t>(y) * row_bytes;
        if (pic.indexed) {
            unpack_indices(in, l.bpp, l.width, out);
        } else {
            unpack_colours(in, l, channels, l.width, out);
        }
    }
    // A 32-bit BMP without bit fields has a reserved top byte that many
    // writers leave zero: all zero means opaque, not transparent.
    if (!l.has_masks && l.bpp == 32) {
        bool any_alpha = false;
        for (std::size_t i = 3; i < pic.pixels.size() && !any_alpha; i += 4) any_alpha = pic.pixels[i] != 0;
        if (!any_alpha)
            for (std::size_t i = 3; i < pic.pixels.size(); i += 4) pic.pixels[i] = 255;
    }
}

// RLE8 and RLE4: pairs (count, value) give runs; a zero count escapes to
// end of line (0), end of bitmap (1), a move (2, dx, dy) or n literal
// pixels padded to a 16-bit boundary (n >= 3). Skipped pixels keep index 0.
void decode_rle(std::span<const std::uint8_t> f, const Layout& l, std::size_t start, Picture& pic) {
    const bool four = l.compression == kRle4;
    std::int64_t x = 0, row = 0;  // row counts stored rows, bottom first
    auto put = [&](std::int64_t count, auto value_at) {
        if (row >= l.height) refuse("RLE data runs past the image");
        if (count > l.width - x) refuse("RLE data runs past the end of row %lld", static_cast<long long>(row));
        const std::int64_t y = l.top_down ? row : l.height - 1 - row;
        std::uint8_t* out = pic.pixels.data() + static_cast<std::size_t>(y * l.width + x);
        for (std::int64_t i = 0; i < count; ++i) out[i] = value_at(i);
        x += count;
    };
    std::size_t p = start;
    for (;;) {
        if (f.size() - p < 2) refuse("RLE data ends before its end-of-bitmap mark");
        const std::uint8_t count = f[p], value = f[p + 1];
        p += 2;
        if (count > 0) {
            put(count, [&](std::int64_t i) {
                return four ? static_cast<std::uint8_t>(i % 2 == 0 ? value >> 4 : value & 0xf) : value;
            });
            continue;
        }
        if (value == 0) {
            x = 0;
            ++row;
        } else if (value == 1) {
            return;
        } else if (value == 2) {
            if (f.size() - p < 2) refuse("RLE data ends before its end-of-bitmap mark");
            x += f[p];
            row += f[p + 1];
            p += 2;
            if (x > l.width || row > l.height) refuse("RLE data moves past the image");
        } else {
            const std::size_t bytes = four ? (value + 1u) / 2 : value;
            const std::size_t padded = (bytes + 1) & ~std::size_t{1};
            if (f.size() - p < padded) refuse("RLE data ends before its end-of-bitmap mark");
            const std::uint8_t* literal = f.data() + p;
            put(value, [&](std::int64_t i) {
                if (!four) return literal[i];
                const std::uint8_t byte = literal[i / 2];
                return static_cast<std::uint8_t>(i % 2 == 0 ? byte >> 4 : byte & 0xf);
            });
            p += padded;
        }
    }
}

}  // namespace

std::uint16_t le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void decode_file_header(const std::uint8_t* p, BmpHeader& h) {
    h.bfType = le16(p);
    h.bfOffBits = le32(p + 10);
}

void decode_info_header(const std::uint8_t* p, BmpHeader& h) {
    h.biSize = le32(p);
    h.biWidth = static_cast<std::int32_t>(le32(p + 4));
    h.biHeight = static_cast<std::int32_t>(le32(p + 8));
    h.biPlanes = le16(p + 12);
    h.biBitCount = le16(p + 14);
    h.biCompression = le32(p + 16);
}

std::int64_t sheet_pixel_bytes(std::int64_t width, std::int64_t height) {
    return row_stride(width) * height;
}

SheetBmp make_sheet(std::int64_t width, std::int64_t height) {
    SheetBmp s;
    s.width = width;
    s.height = height;
    s.stride = row_stride(width);
    const std::int64_t pixel_bytes = s.stride * height;
    s.bytes.assign(kSheetPixelOffset + static_cast<std::size_t>(pixel_bytes), 0);
    auto& b = s.bytes;
    b[0] = 'B';
    b[1] = 'M';
    put_le(b, 2, static_cast<std::uint32_t>(b.size()), 4);
    put_le(b, 10, kSheetPixelOffset, 4);
    put_le(b, 14, kInfoHeaderSize, 4);
    put_le(b, 18, static_cast<std::uint32_t>(width), 4);
    put_le(b, 22, static_cast<std::uint32_t>(height), 4);
    put_le(b, 26, 1, 2);
    put_le(b, 28, 8, 2);
    put_le(b, 34, static_cast<std::uint32_t>(pixel_bytes), 4);
    put_le(b, 38, 2835, 4);  // 72 pixels an inch, as most writers say
    put_le(b, 42, 2835, 4);
    put_le(b, 46, 256, 4);
    put_le(b, kFileHeaderSize + kInfoHeaderSize, 0x00ffffff, 4);  // index 0: white, the background
    return s;
}

void check_picture_size(std::int64_t width, std::int64_t height, const PictureLimits& limits) {
    if (width > limits.max_side || height > limits.max_side || width * height > limits.max_pixels)
        refuse("%lld x %lld pixels is over the limit (%lld pixels a side, %lld in all)",
               static_cast<long long>(width), static_cast<long long>(height),
               static_cast<long long>(limits.max_side), static_cast<long long>(limits.max_pixels));
}

void unpack_indices(const std::uint8_t* in, int bits, std::int64_t width, std::uint8_t* out) {
    if (bits == 8) {
        std::memmove(out, in, static_cast<std::size_t>(width));
        return;
    }
    const int per_byte = 8 / bits;
    const unsigned mask = (1u << bits) - 1;
    for (std::int64_t x = width - 1; x >= 0; --x) {
        const int slot = static_cast<int>(x % per_byte);
        out[x] = static_cast<std::uint8_t>((in[x / per_byte] >> (8 - bits * (slot + 1))) & mask);
    }
}

void check_palette_indices(const Picture& pic) {
    const std::size_t entries = pic.palette.size();
    if (entries >= 256) return;
    for (std::size_t i = 0; i < pic.pixels.size(); ++i)
        if (pic.pixels[i] >= entries)
            refuse("pixel (%lld, %lld) has palette index %d, past the %zu-entry palette",
                   static_cast<long long>(static_cast<std::int64_t>(i) % pic.width),
                   static_cast<long long>(static_cast<std::int64_t>(i) / pic.width), pic.pixels[i], entries);
}

Picture decode_bmp(std::span<const std::uint8_t> f, const PictureLimits& limits) {
    const Layout l = read_layout(f);
    check_kind(l);
    check_picture_size(l.width, l.height, limits);
    const std::uint32_t offset = le32(f.data() + 10);
    if (offset != 0 && offset < l.after_headers) refuse("pixel data offset %u is inside the headers", offset);
    Picture pic;
    pic.width = l.width;
    pic.height = l.height;
    pic.indexed = l.bpp <= 8;
    pic.palette = read_palette(f, l, offset);
    // An offset of 0 means the pixels follow the palette.
    const std::size_t start =
        offset != 0 ? offset : l.after_headers + pic.palette.size() * (l.header_size == 12 ? 3 : 4);
    if (start > f.size()) refuse("truncated before its pixel data");
    pic.pixels.assign(static_cast<std::size_t>(l.width * l.height) * pic.pixel_size(), 0);
    if (l.compression == kRle8 || l.compression == kRle4) {
        decode_rle(f, l, start, pic);
    } else {
        decode_rows(f, l, start, pic);
    }
    if (pic.indexed) check_palette_indices(pic);
    char format[160];
    std::snprintf(format, sizeof format, "BMP, %u-byte header, %d bit%s per pixel, %s%s", l.header_size, l.bpp,
                  l.bpp == 1 ? "" : "s", compression_name(l.compression), l.top_down ? ", top-down" : "");
    pic.format = format;
    return pic;
}

}  // namespace sheetcut

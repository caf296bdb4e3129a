#include "pictures.h"

#include <zlib.h>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace test {
namespace {

void put_be32(Bytes& b, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<std::uint8_t>(v >> shift));
}

void put_le(Bytes& b, std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void chunk(Bytes& png, const char* type, const Bytes& data) {
    put_be32(png, static_cast<std::uint32_t>(data.size()));
    Bytes body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    png.insert(png.end(), body.begin(), body.end());
    put_be32(png, static_cast<std::uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size()))));
}

// The filtered scanlines (filter 0) of the pixels in columns x0, x0 + dx,
// ... and rows y0, y0 + dy, ...: one pass of Adam7, or the whole image.
void scanlines(Bytes& out, int width, int height, const std::vector<std::uint16_t>& samples, const PngForm& f,
               int x0, int y0, int dx, int dy) {
    const int channels = png_channels(f.colour_type);
    if (x0 >= width || y0 >= height) return;  // an empty pass has no lines
    for (int y = y0; y < height; y += dy) {
        out.push_back(0);
        int bits = 0;
        unsigned acc = 0;
        for (int x = x0; x < width; x += dx) {
            for (int c = 0; c < channels; ++c) {
                const std::uint16_t v = samples[(static_cast<std::size_t>(y) * width + x) * channels + c];
                if (f.depth == 16) {
                    out.push_back(static_cast<std::uint8_t>(v >> 8));
                    out.push_back(static_cast<std::uint8_t>(v));
                } else if (f.depth == 8) {
                    out.push_back(static_cast<std::uint8_t>(v));
                } else {
                    acc = acc << f.depth | v;
                    bits += f.depth;
                    if (bits == 8) out.push_back(static_cast<std::uint8_t>(acc)), bits = 0, acc = 0;
                }
            }
        }
        if (bits != 0) out.push_back(static_cast<std::uint8_t>(acc << (8 - bits)));
    }
}

// One RLE row: repeats of equal pixels, or literal runs of up to 255.
void rle_row(Bytes& out, const std::uint32_t* row, int width, const BmpForm& f) {
    const bool four = f.compression == 2;
    int x = 0;
    while (x < width) {
        if (f.rle_literals && width - x >= 3) {
            const int n = std::min(255, width - x);
            out.push_back(0);
            out.push_back(static_cast<std::uint8_t>(n));
            std::size_t bytes = 0;
            for (int i = 0; i < n; i += four ? 2 : 1, ++bytes) {
                const std::uint32_t hi = row[x + i], lo = four && i + 1 < n ? row[x + i + 1] : 0;
                out.push_back(static_cast<std::uint8_t>(four ? hi << 4 | lo : hi));
            }
            if (bytes % 2 != 0) out.push_back(0);
            x += n;
            continue;
        }
        int n = 1;
        while (x + n < width && n < 255 && row[x + n] == row[x]) ++n;
        out.push_back(static_cast<std::uint8_t>(n));
        out.push_back(static_cast<std::uint8_t>(four ? row[x] << 4 | row[x] : row[x]));
        x += n;
    }
    out.push_back(0);
    out.push_back(0);  // end of line
}

}  // namespace

int png_channels(int colour_type) {
    switch (colour_type) {
    case 2: return 3;
    case 4: return 2;
    case 6: return 4;
    default: return 1;
    }
}

Bytes write_png(int width, int height, const std::vector<std::uint16_t>& samples, const PngForm& f) {
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    Bytes ihdr;
    put_be32(ihdr, static_cast<std::uint32_t>(width));
    put_be32(ihdr, static_cast<std::uint32_t>(height));
    ihdr.insert(ihdr.end(), {static_cast<std::uint8_t>(f.depth), static_cast<std::uint8_t>(f.colour_type), 0, 0,
                             static_cast<std::uint8_t>(f.interlaced ? 1 : 0)});
    chunk(png, "IHDR", ihdr);
    if (f.colour_type == 3) {
        Bytes plte, trns;
        for (const auto& c : f.palette) plte.insert(plte.end(), {c.r, c.g, c.b});
        for (const auto& c : f.palette) trns.push_back(c.a);
        chunk(png, "PLTE", plte);
        if (std::any_of(f.palette.begin(), f.palette.end(), [](const auto& c) { return c.a != 255; }))
            chunk(png, "tRNS", trns);
    } else if (f.key) {
        Bytes trns;
        const int n = f.colour_type == 0 ? 1 : 3;
        for (int i = 0; i < n; ++i) trns.insert(trns.end(), {static_cast<std::uint8_t>((*f.key)[i] >> 8),
                                                             static_cast<std::uint8_t>((*f.key)[i])});
        chunk(png, "tRNS", trns);
    }
    Bytes raw;
    if (f.interlaced) {
        static constexpr int kPasses[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                              {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
        for (const auto& p : kPasses) scanlines(raw, width, height, samples, f, p[0], p[1], p[2], p[3]);
    } else {
        scanlines(raw, width, height, samples, f, 0, 0, 1, 1);
    }
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    Bytes idat(size);
    if (compress(idat.data(), &size, raw.data(), static_cast<uLong>(raw.size())) != Z_OK)
        throw std::runtime_error("compress failed");
    idat.resize(size);
    chunk(png, "IDAT", idat);
    chunk(png, "IEND", {});
    return png;
}

Bytes write_bmp_picture(int width, int height, const std::vector<std::uint32_t>& values, const BmpForm& f) {
    const bool core = f.header_size == 12;
    const bool masks_after = f.compression == 3 && f.header_size == 40;
    const std::size_t palette_bytes = f.palette.size() * (core ? 3 : 4);
    const std::uint32_t offset =
        static_cast<std::uint32_t>(14 + f.header_size + (masks_after ? 12 : 0) + palette_bytes);
    Bytes pixels;
    const auto stride = static_cast<std::size_t>((width * f.bpp + 31) / 32 * 4);
    for (int stored = 0; stored < height; ++stored) {
        const int y = f.top_down ? stored : height - 1 - stored;
        const std::uint32_t* row = values.data() + static_cast<std::size_t>(y) * width;
        if (f.compression == 1 || f.compression == 2) {
            rle_row(pixels, row, width, f);
            continue;
        }
        Bytes line(stride, 0);
        for (int x = 0; x < width; ++x) {
            const std::uint32_t v = row[x];
            if (f.bpp < 8) {
                line[static_cast<std::size_t>(x * f.bpp / 8)] |= static_cast<std::uint8_t>(v << (8 - f.bpp - x * f.bpp % 8));
            } else {
                for (int i = 0; i < f.bpp / 8; ++i)
                    line[static_cast<std::size_t>(x * f.bpp / 8 + i)] = static_cast<std::uint8_t>(v >> (8 * i));
            }
        }
        pixels.insert(pixels.end(), line.begin(), line.end());
    }
    if (f.compression == 1 || f.compression == 2) pixels.insert(pixels.end(), {0, 1});  // end of bitmap

    Bytes b = {'B', 'M'};
    put_le(b, offset + static_cast<std::uint32_t>(pixels.size()), 4);
    put_le(b, 0, 4);
    put_le(b, offset, 4);
    put_le(b, f.header_size, 4);
    if (core) {
        put_le(b, static_cast<std::uint32_t>(width), 2);
        put_le(b, static_cast<std::uint32_t>(height), 2);
        put_le(b, 1, 2);
        put_le(b, static_cast<std::uint32_t>(f.bpp), 2);
    } else {
        put_le(b, static_cast<std::uint32_t>(width), 4);
        put_le(b, static_cast<std::uint32_t>(f.top_down ? -height : height), 4);
        put_le(b, 1, 2);
        put_le(b, static_cast<std::uint32_t>(f.bpp), 2);
        put_le(b, f.compression, 4);
        put_le(b, static_cast<std::uint32_t>(pixels.size()), 4);
        put_le(b, 2835, 4);
        put_le(b, 2835, 4);
        put_le(b, static_cast<std::uint32_t>(f.palette.size()), 4);
        put_le(b, 0, 4);
        for (std::uint32_t at = 40; at < f.header_size; at += 4)
            put_le(b, at < 56 ? f.masks[(at - 40) / 4] : at == 56 ? 0x73524742 : 0, 4);  // then "sRGB"
    }
    if (masks_after)
        for (int i = 0; i < 3; ++i) put_le(b, f.masks[static_cast<std::size_t>(i)], 4);
    for (const auto& c : f.palette) {
        b.insert(b.end(), {c.b, c.g, c.r});
        if (!core) b.push_back(0);
    }
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

}  // namespace test

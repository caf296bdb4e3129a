#include "prep/png.h"

#include <spng.h>

#include <cstdio>
#include <memory>
#include <string>

namespace sheetcut {
namespace {

struct FreeContext {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};

void check(int result) {
    if (result != 0) throw PictureError(std::string("PNG: ") + spng_strerror(result));
}

// The tRNS chunk, where there is one; reading past the headers may meet a
// damaged file, which is reported.
bool get_trns(spng_ctx* ctx, spng_trns& trns) {
    const int result = spng_get_trns(ctx, &trns);
    if (result == SPNG_ECHUNKAVAIL) return false;
    check(result);
    return true;
}

const char* colour_type_name(int type) {
    switch (type) {
    case SPNG_COLOR_TYPE_GRAYSCALE: return "grey";
    case SPNG_COLOR_TYPE_TRUECOLOR: return "RGB";
    case SPNG_COLOR_TYPE_INDEXED: return "palette";
    case SPNG_COLOR_TYPE_GRAYSCALE_ALPHA: return "grey and alpha";
    default: return "RGBA";
    }
}

// The palette of an indexed PNG, its tRNS alpha applied; for grey, the
// levels of its bit depth, the tRNS grey transparent.
std::vector<Rgba> png_palette(spng_ctx* ctx, const spng_ihdr& ihdr, bool& has_trns) {
    spng_trns trns{};
    has_trns = get_trns(ctx, trns);
    std::vector<Rgba> palette;
    if (ihdr.color_type == SPNG_COLOR_TYPE_INDEXED) {
        spng_plte plte{};
        check(spng_get_plte(ctx, &plte));
        for (std::uint32_t i = 0; i < plte.n_entries; ++i) {
            const auto& e = plte.entries[i];
            const std::uint8_t alpha = has_trns && i < trns.n_type3_entries ? trns.type3_alpha[i] : 255;
            palette.push_back(Rgba{e.red, e.green, e.blue, alpha});
        }
        return palette;
    }
    const unsigned levels = 1u << ihdr.bit_depth;
    for (unsigned v = 0; v < levels; ++v) {
        const auto grey = static_cast<std::uint8_t>(v * 255 / (levels - 1));
        palette.push_back(Rgba{grey, grey, grey, has_trns && trns.gray == v ? std::uint8_t{0} : std::uint8_t{255}});
    }
    return palette;
}

// Spreads rows packed at 1, 2 or 4 bits a pixel to a byte a pixel, in
// place: from the last row back, each row's bytes lie at or after its
// packed bytes, so nothing is overwritten before it is read.
void unpack_rows(std::vector<std::uint8_t>& pixels, std::int64_t width, std::int64_t height, int depth) {
    if (depth == 8) return;
    const std::int64_t stride = (width * depth + 7) / 8;
    for (std::int64_t y = height - 1; y >= 0; --y)
        unpack_indices(pixels.data() + y * stride, depth, width, pixels.data() + y * width);
}

}  // namespace

Picture decode_png(std::span<const std::uint8_t> file, const PictureLimits& limits) {
    const std::unique_ptr<spng_ctx, FreeContext> owner(spng_ctx_new(0));
    spng_ctx* ctx = owner.get();
    if (ctx == nullptr) throw std::bad_alloc();
    const auto side = static_cast<std::uint32_t>(limits.max_side);
    check(spng_set_image_limits(ctx, side, side));
    check(spng_set_chunk_limits(ctx, kPngChunkLimit, kPngCacheLimit));
    check(spng_set_png_buffer(ctx, file.data(), file.size()));
    spng_ihdr ihdr{};
    const int header = spng_get_ihdr(ctx, &ihdr);
    if (header == SPNG_EUSER_WIDTH || header == SPNG_EUSER_HEIGHT) {
        // Say it as for any picture: the size stands in the first chunk.
        const std::uint8_t* p = file.data() + 16;
        check_picture_size(std::int64_t{p[0]} << 24 | p[1] << 16 | p[2] << 8 | p[3],
                           std::int64_t{p[4]} << 24 | p[5] << 16 | p[6] << 8 | p[7], limits);
    }
    check(header);
    check_picture_size(ihdr.width, ihdr.height, limits);

    Picture pic;
    pic.width = ihdr.width;
    pic.height = ihdr.height;
    pic.indexed = ihdr.color_type == SPNG_COLOR_TYPE_INDEXED ||
                  (ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE && ihdr.bit_depth <= 8);
    bool has_trns = false;
    if (pic.indexed) pic.palette = png_palette(ctx, ihdr, has_trns);
    spng_trns unused{};
    if (!pic.indexed) has_trns = get_trns(ctx, unused);
    const int fmt = pic.indexed ? SPNG_FMT_PNG : SPNG_FMT_RGBA8;
    std::size_t size = 0;
    check(spng_decoded_image_size(ctx, fmt, &size));
    const auto expected = static_cast<std::size_t>(pic.width * pic.height) * pic.pixel_size();
    if (size > expected) throw PictureError("decoded size does not match the image size");
    pic.pixels.resize(expected);
    check(spng_decode_image(ctx, pic.pixels.data(), size, fmt, pic.indexed ? 0 : SPNG_DECODE_TRNS));
    if (pic.indexed) {
        unpack_rows(pic.pixels, pic.width, pic.height, ihdr.bit_depth);
        check_palette_indices(pic);
    }
    char format[128];
    std::snprintf(format, sizeof format, "PNG, %d-bit %s%s%s", ihdr.bit_depth, colour_type_name(ihdr.color_type),
                  has_trns ? " with tRNS" : "", ihdr.interlace_method != 0 ? ", interlaced" : "");
    pic.format = format;
    return pic;
}

}  // namespace sheetcut

// The floor for sheetprep on a PNG: read the file and decode it with libspng
// alone, into the form sheetprep decodes it into (a byte a pixel for palette
// and grey pictures of 8 bits or fewer, RGBA otherwise), and nothing more.
//
//   png_decode FILE
#include <spng.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: png_decode FILE\n", stderr);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    spng_ctx* ctx = spng_ctx_new(0);
    spng_set_png_buffer(ctx, file.data(), file.size());
    spng_ihdr ihdr{};
    if (spng_get_ihdr(ctx, &ihdr) != 0) return 1;
    const bool indexed = ihdr.color_type == SPNG_COLOR_TYPE_INDEXED ||
                         (ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE && ihdr.bit_depth <= 8);
    const int fmt = indexed ? SPNG_FMT_PNG : SPNG_FMT_RGBA8;
    std::size_t size = 0;
    if (spng_decoded_image_size(ctx, fmt, &size) != 0) return 1;
    std::vector<unsigned char> image(size);
    const int result = spng_decode_image(ctx, image.data(), size, fmt, indexed ? 0 : SPNG_DECODE_TRNS);
    spng_ctx_free(ctx);
    return result == 0 ? 0 : 1;
}

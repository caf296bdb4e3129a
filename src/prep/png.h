// Reading PNG through libspng, within stated limits.
#pragma once

#include <cstdint>
#include <span>

#include "bmp/bmp.h"

namespace sheetcut {

inline constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

// Chunks other than the image data may be no larger than this, and hold no
// more than kPngCacheLimit in all. libspng itself keeps no more than 1000
// ancillary chunks.
inline constexpr std::size_t kPngChunkLimit = std::size_t{16} << 20;
inline constexpr std::size_t kPngCacheLimit = std::size_t{64} << 20;

// Decodes a PNG of any colour type, bit depth and interlacing. Palette
// pictures, and grey ones of 8 bits or fewer, stay indexed (the grey levels
// as their palette); the rest become RGBA, 16-bit samples keeping their high
// byte. tRNS becomes alpha. PictureError on a damaged file or one over
// limits, before the image is allocated where the size tells.
Picture decode_png(std::span<const std::uint8_t> file, const PictureLimits& limits);

}  // namespace sheetcut

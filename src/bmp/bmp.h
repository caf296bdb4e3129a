// The BMP format: its headers, a reader of every variant real writers
// produce, and the sheet layout the programs write.
//
// A BMP file is a 14-byte file header ("BM", the file size, the offset of
// the pixel data) and an info header whose first four bytes give its size:
// 12 bytes (the old core header, 16-bit sizes and 3-byte palette entries),
// or 40, 52, 56, 108 or 124 bytes (32-bit sizes, 4-byte palette entries,
// colour masks from 52 bytes on, alpha mask from 56). Rows are bottom-up
// for a positive height and top-down for a negative one, each padded to a
// multiple of 4 bytes. Multi-byte fields are little-endian.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace sheetcut {

inline constexpr std::size_t kFileHeaderSize = 14;
inline constexpr std::size_t kInfoHeaderSize = 40;

std::uint16_t le16(const std::uint8_t* p);
std::uint32_t le32(const std::uint8_t* p);

// The fields of the file header and of a 40-byte info header that a sheet
// reader consults.
struct BmpHeader {
    std::uint16_t bfType = 0;
    std::uint32_t bfOffBits = 0;
    std::uint32_t biSize = 0;
    std::int32_t biWidth = 0;
    std::int32_t biHeight = 0;
    std::uint16_t biPlanes = 0;
    std::uint16_t biBitCount = 0;
    std::uint32_t biCompression = 0;
};

// Decodes the 14-byte file header, and the 40-byte info header.
void decode_file_header(const std::uint8_t* bytes, BmpHeader& header);
void decode_info_header(const std::uint8_t* bytes, BmpHeader& header);

// The sheet the programs write, the one sheetcut reads best: a 40-byte info
// header, a 256-entry palette whose index 0 is white (background) and index
// 1 black (ink), pixel data at offset 1078, rows bottom-up and padded to 4
// bytes, bfSize the file's length.
inline constexpr std::size_t kSheetPixelOffset = 14 + 40 + 1024;

struct SheetBmp {
    std::vector<std::uint8_t> bytes;  // the whole file, pixels zero
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::int64_t stride = 0;
    // Row y of the picture, counted from the top.
    std::uint8_t* row(std::int64_t y) {
        return bytes.data() + kSheetPixelOffset + static_cast<std::size_t>((height - 1 - y) * stride);
    }
};

// Bytes of the pixel rows of a width x height sheet; sheetcut reads sheets
// whose rows fit in 2147483647 bytes.
std::int64_t sheet_pixel_bytes(std::int64_t width, std::int64_t height);
// A blank sheet, headers filled; width and height positive, and the pixel
// rows within sheetcut's limit.
SheetBmp make_sheet(std::int64_t width, std::int64_t height);

// A decoded picture of any format.
struct Rgba {
    std::uint8_t r = 0, g = 0, b = 0, a = 255;
    bool operator==(const Rgba&) const = default;
};

struct Picture {
    std::int64_t width = 0;
    std::int64_t height = 0;
    // Indexed pictures hold one palette index a pixel; others four bytes,
    // R, G, B, A. Rows top first, without padding.
    bool indexed = false;
    std::vector<Rgba> palette;
    std::vector<std::uint8_t> pixels;
    std::string format;  // what was read, in words, for the -v report

    std::size_t pixel_size() const { return indexed ? 1 : 4; }
};

// The largest picture a reader accepts.
struct PictureLimits {
    std::int64_t max_side = 65535;
    std::int64_t max_pixels = std::int64_t{16384} * 16384;
};

// A file that cannot be read as the picture it claims to be; the message
// says why, without the file's name.
struct PictureError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Checks width x height against limits; PictureError when over them.
void check_picture_size(std::int64_t width, std::int64_t height, const PictureLimits& limits);

// Spreads a row of width indices packed at 1, 2, 4 or 8 bits, most
// significant first, to a byte each. It works from the last pixel back, so
// out may overlap in where it starts at or after it (unpacking in place).
void unpack_indices(const std::uint8_t* in, int bits, std::int64_t width, std::uint8_t* out);

// PictureError when an indexed picture uses an entry past its palette.
void check_palette_indices(const Picture& picture);

// Reads a BMP of any variant real writers produce: the headers above; 1, 4,
// 8, 16, 24 or 32 bits per pixel; uncompressed, RLE8, RLE4 or bit fields;
// palettes shorter than 2^bpp; bfSize ignored. Pictures of 8 bits or fewer
// per pixel stay indexed. PictureError on anything else or anything
// damaged: nothing outside the file is read.
Picture decode_bmp(std::span<const std::uint8_t> file, const PictureLimits& limits);

}  // namespace sheetcut

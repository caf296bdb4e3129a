// Sheet loading and the conversion run.
//
// A sheet is an uncompressed 8-bit BMP with a 40-byte info header. The
// pixel rows are found from the file's own fields: they start at bfOffBits
// and are biHeight rows of bmpwidth bytes, bottom row first.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bmp/bmp.h"
#include "convert/font_settings.h"
#include "convert/mapped.h"

namespace sheetcut {

// Where a sheet's bytes come from: a file, or a buffer in a test or fuzzer.
class SheetSource {
public:
    enum class Read { ok, end_of_file, error };
    virtual ~SheetSource() = default;
    // Reads exactly n bytes; on error errno tells why.
    virtual Read read_exact(std::uint8_t* out, std::size_t n) = 0;
    // Moves forward to offset from the start (never backwards). On failure
    // returns false with errno set.
    virtual bool skip_to(std::uint64_t offset) = 0;
    // The length, when the source knows it (a regular file, a buffer).
    virtual std::optional<std::uint64_t> known_length() const = 0;
    // Whether read_at works: a regular file can be read anywhere, any
    // number of times; a pipe cannot.
    virtual bool random_access() const = 0;
    // Reads exactly n bytes at offset from the start.
    virtual Read read_at(std::uint64_t offset, std::uint8_t* out, std::size_t n) = 0;
};

// A sheet held in memory.
class MemorySource : public SheetSource {
public:
    // Loaded whole, as from a pipe, unless random_access: then read a row of
    // cells at a time, as a regular file is.
    MemorySource(const std::uint8_t* data, std::size_t size, bool random_access = false)
        : data_(data), size_(size), random_access_(random_access) {}
    Read read_exact(std::uint8_t* out, std::size_t n) override;
    bool skip_to(std::uint64_t offset) override;
    std::optional<std::uint64_t> known_length() const override { return size_; }
    // Loaded whole, the block is an allocation of its exact size, where any
    // read past it shows.
    bool random_access() const override { return random_access_; }
    Read read_at(std::uint64_t offset, std::uint8_t* out, std::size_t n) override;

private:
    const std::uint8_t* data_;
    std::size_t size_;
    bool random_access_;
    std::size_t pos_ = 0;
};

// The pixel block and the cell grid over it. The pixel block is
// bmpsize bytes, rows bottom-up. It is either held whole in memory or, for
// a sheet that can be read anywhere, read a row of cells at a time: that
// reads the sheet once, in pieces that stay in the processor's cache,
// without faulting in memory for all of it.
struct SheetImage {
    Mapped<std::uint8_t> pixels{nullptr, Unmap{}};  // the whole block, or empty
    SheetSource* source = nullptr;                  // else, where to read it
    std::uint64_t pixel_offset = 0;                 // bfOffBits
    std::string path;
    std::int64_t bmpsize = 0;    // bmpwidth * biHeight bytes
    std::int32_t bmpwidth = 0;   // row stride: biWidth rounded up to 4
    std::int32_t bmpheight = 0;  // biHeight
    std::int32_t ncols = 0;
    std::int32_t nlines = 0;
    std::int32_t nbmps = 0;
    std::int32_t bmpnext = 0;    // bytes of one row of cells
    std::int64_t top_row = 0;    // offset of the image's top row in the block

    // Bytes [first, first + length) of the pixel block, which the caller has
    // checked lie inside it: a pointer into the block, or into scratch,
    // where they are read from the sheet.
    const std::uint8_t* range(std::int64_t first, std::int64_t length, std::vector<std::uint8_t>& scratch) const;
};

// Reads and checks a sheet against the settings, stage by stage, tracing as
// it goes; every failure ends the run through a reporter naming path.
SheetImage load_sheet(const FontSettings& settings, SheetSource& source, const std::string& path);

// The number of glyphs the settings ask for (after load_sheet has checked
// the offsets).
inline std::int32_t glyph_count(const FontSettings& s) {
    return s.EndOffset - s.StartOffset + 1;
}

// The whole run: load, size and fill the font image, pack, write.
void convert_sheet(const FontSettings& settings, const std::string& sheet_path,
                   const std::string& font_path);

}  // namespace sheetcut

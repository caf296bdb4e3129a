// fontdump: reads a font file that sheetcut writes, prints its header and
// glyphs as pictures, and draws the glyphs back into a sheet.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace fontdump {

// A file that is not a font of this format, or a request it cannot meet;
// the message says what is wrong.
struct DumpError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A checked font file.
struct FontFile {
    std::vector<std::uint8_t> bytes;
    std::string name;  // up to three bytes, empty when the header has none
    bool proportional = false;
    int width = 0;
    int height = 0;
    int gap_x = 0;
    int gap_y = 0;
    int glyph_size = 0;  // as stored: bits per glyph, or record length
    int start_code = 0;
    int end_code = 0;
    int cct_index = 0;
    std::int64_t record_length = 0;  // proportional fonts
    std::int64_t count = 0;          // glyphs the file holds

    // Width of glyph i: its width byte, or the font's width.
    int glyph_width(std::int64_t i) const;
    // Whether pixel (x, y) of glyph i is ink; x below glyph_width(i).
    bool ink(std::int64_t i, int x, int y) const;
};

// Checks the 32-byte header at the start of bytes; DumpError when it is not
// one, before anything else is read.
void check_header(const std::vector<std::uint8_t>& bytes);
// Checks bytes as a font file; DumpError when they are not one.
FontFile parse_font(std::vector<std::uint8_t> bytes);

// The header, one "field: value" line each.
std::string header_text(const FontFile& font);
// "code HEX" (and " width W" for proportional fonts), the picture with "o"
// for ink and a space for background, one line per row, and an empty line.
std::string glyph_text(const FontFile& font, std::int64_t i);

// The glyphs as an 8-bit BMP sheet, per_row cells to a row (fewer when the
// font has fewer glyphs): pixel data at offset 1078, index 0 white
// background, index 1 black ink. A proportional glyph starts at its cell's
// first column.
std::vector<std::uint8_t> sheet_bmp(const FontFile& font, int per_row);
// The sheetcut options that turn that sheet back into this font, quoted
// for a POSIX shell.
std::string sheetcut_options(const FontFile& font);

// The program behind main: returns the process status.
int run_fontdump(int argc, char** argv);

}  // namespace fontdump

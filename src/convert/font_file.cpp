#include "convert/font_file.h"

#include <cerrno>
#include <cstring>

#include "diag/diag.h"
#include "output/output.h"

namespace sheetcut {
namespace {

void put16(std::uint8_t* p, std::int32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

std::int64_t cell_bits(const FontSettings& s) {
    return std::int64_t{s.FontWidth} * s.FontHeight;
}

}  // namespace

std::int64_t record_length(const FontSettings& s) {
    return (cell_bits(s) + 7) / 8 + 1;
}

std::int64_t font_size(const FontSettings& s, std::int32_t count) {
    if (s.proportional()) return kHeaderSize + record_length(s) * count;
    return kHeaderSize + (cell_bits(s) * count + 7) / 8;
}

FontImage make_font_image(const FontSettings& s, std::int32_t count) {
    FontImage font;
    font.fntsize = font_size(s, count);
    // The file format and the trace count the image in 31 bits.
    if (font.fntsize > INT32_MAX) fatal("font is too large.");
    font.bytes = map_zeroed(static_cast<std::size_t>(font.fntsize));
    if (!font.bytes) fatal_io("");
    if (s.Verbose) trace("fntsize = %d\n", static_cast<int>(font.fntsize));
    fill_header(s, font.bytes.get());
    return font;
}

void fill_header(const FontSettings& s, std::uint8_t* image) {
    image[FontHeader::magic] = 'F';
    image[FontHeader::magic + 1] = 'F';
    image[FontHeader::version] = 1;
    image[FontHeader::header_size] = static_cast<std::uint8_t>(kHeaderSize);
    // The name up to and including its zero; an empty name is one zero byte.
    const std::size_t name_length = strnlen(s.FontName, sizeof s.FontName - 1);
    std::memcpy(image + FontHeader::name, s.FontName, name_length);
    image[FontHeader::name + name_length] = 0;
    put16(image + FontHeader::flags, s.Flags);
    const auto glyph_size = s.proportional() ? record_length(s) : cell_bits(s);
    put16(image + FontHeader::glyph_size, static_cast<std::int32_t>(glyph_size));
    image[FontHeader::width] = static_cast<std::uint8_t>(s.FontWidth);
    image[FontHeader::height] = static_cast<std::uint8_t>(s.FontHeight);
    image[FontHeader::gap_x] = static_cast<std::uint8_t>(s.GapX);
    image[FontHeader::gap_y] = static_cast<std::uint8_t>(s.GapY);
    put16(image + FontHeader::start_code, s.StartCode);
    put16(image + FontHeader::end_code, s.EndCode);
    image[FontHeader::cct_index] = static_cast<std::uint8_t>(s.CctIndex);
    std::memset(image + FontHeader::reserved, 0, kHeaderSize - FontHeader::reserved);
}

void write_font_file(const std::string& path, const FontImage& font) {
    // The trace comes first when both go to standard output, and a trace
    // that could not be written fails the run before the font is touched.
    trace_out().flush();
    trace_out().check();
    write_output_file(path, font.bytes.get(), font.fntsize);
}

}  // namespace sheetcut

#include "prep/font.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_FONT_FORMATS_H
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>

namespace sheetcut {
namespace {

[[noreturn]] void refuse(const std::string& what) {
    throw PictureError(what);
}

struct Library {
    FT_Library lib = nullptr;
    Library() {
        if (FT_Init_FreeType(&lib) != 0) refuse("FreeType could not start");
    }
    ~Library() { FT_Done_FreeType(lib); }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
};

struct Face {
    FT_Face face = nullptr;
    ~Face() {
        if (face != nullptr) FT_Done_Face(face);
    }
};

std::string error_text(FT_Error error) {
    if (const char* text = FT_Error_String(error)) return text;
    char code[32];
    std::snprintf(code, sizeof code, "FreeType error 0x%02x", error);
    return code;
}

std::string sizes_text(const std::vector<int>& sizes) {
    std::string text;
    for (const int size : sizes) text += (text.empty() ? "" : ", ") + std::to_string(size);
    return text;
}

// Sets the size: an outline font's pixel size, or the strike of a bitmap
// font (the only one, when it has one and none was asked for).
std::string choose_size(FT_Face face, const FontRequest& request) {
    if (FT_IS_SCALABLE(face)) {
        if (!request.pixel_size) refuse("an outline font needs a size: give -z PX, the em height in pixels");
        if (const FT_Error e = FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(*request.pixel_size)))
            refuse("cannot be set to " + std::to_string(*request.pixel_size) + " pixels: " + error_text(e));
        return "outline, at " + std::to_string(*request.pixel_size) + " pixels";
    }
    std::vector<int> sizes;
    for (int i = 0; i < face->num_fixed_sizes; ++i) sizes.push_back(static_cast<int>((face->available_sizes[i].y_ppem + 32) >> 6));
    if (sizes.empty()) refuse("the font has neither outlines nor bitmaps");
    int chosen = 0;
    if (request.pixel_size) {
        const auto at = std::find(sizes.begin(), sizes.end(), *request.pixel_size);
        if (at == sizes.end())
            refuse("no " + std::to_string(*request.pixel_size) + "-pixel strike; the font has " + sizes_text(sizes));
        chosen = static_cast<int>(at - sizes.begin());
    } else if (sizes.size() > 1) {
        refuse("a bitmap font of several sizes: give -z with one of " + sizes_text(sizes));
    }
    if (const FT_Error e = FT_Select_Size(face, chosen)) refuse("cannot select its strike: " + error_text(e));
    return "bitmap, " + std::to_string(sizes[static_cast<std::size_t>(chosen)]) + "-pixel strike";
}

// Whether pixel (x, y) of a rendered bitmap is ink: a bit of a monochrome
// bitmap, or at least half of a grey or colour one (embedded strikes).
bool bitmap_ink(const FT_Bitmap& b, unsigned x, unsigned y) {
    const int pitch = b.pitch;
    const unsigned row = pitch >= 0 ? y : b.rows - 1 - y;
    const unsigned char* line = b.buffer + static_cast<std::ptrdiff_t>(row) * (pitch >= 0 ? pitch : -pitch);
    switch (b.pixel_mode) {
    case FT_PIXEL_MODE_MONO: return (line[x / 8] >> (7 - x % 8)) & 1;
    case FT_PIXEL_MODE_GRAY: return line[x] >= 128;
    case FT_PIXEL_MODE_BGRA: return line[4 * x + 3] >= 128;
    default: return false;
    }
}

GlyphImage render_glyph(FT_Face face, FT_UInt index) {
    GlyphImage g;
    if (FT_Load_Glyph(face, index, FT_LOAD_TARGET_MONO) != 0) return g;
    FT_GlyphSlot slot = face->glyph;
    if (slot->format != FT_GLYPH_FORMAT_BITMAP && FT_Render_Glyph(slot, FT_RENDER_MODE_MONO) != 0) return g;
    g.present = true;
    g.left = slot->bitmap_left;
    g.top = slot->bitmap_top;
    g.width = static_cast<int>(slot->bitmap.width);
    g.rows = static_cast<int>(slot->bitmap.rows);
    g.advance = static_cast<int>((slot->advance.x + 32) >> 6);
    g.ink.resize(static_cast<std::size_t>(g.width) * static_cast<std::size_t>(g.rows));
    for (unsigned y = 0; y < slot->bitmap.rows; ++y)
        for (unsigned x = 0; x < slot->bitmap.width; ++x)
            g.ink[y * slot->bitmap.width + x] = bitmap_ink(slot->bitmap, x, y) ? 1 : 0;
    return g;
}

// The box about the common origin: left and right columns, top and bottom
// rows (y up, the baseline at 0).
struct Box {
    int left = 0, right = 0, top = 0, bottom = 0;
};

Box natural_box(const RenderedFont& font) {
    Box box{0, 0, font.ascent, -font.descent};
    for (const GlyphImage& g : font.glyphs) {
        if (!g.present) continue;
        box.right = std::max(box.right, g.advance);
        if (std::find(g.ink.begin(), g.ink.end(), 1) == g.ink.end()) continue;
        box.left = std::min(box.left, g.left);
        box.right = std::max(box.right, g.left + g.width);
        box.top = std::max(box.top, g.top);
        box.bottom = std::min(box.bottom, g.top - g.rows);
    }
    return box;
}

}  // namespace

std::vector<std::uint8_t> gunzip(std::span<const std::uint8_t> bytes, std::size_t limit) {
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) refuse("gzip: cannot start inflating");
    std::vector<std::uint8_t> out;
    std::uint8_t chunk[1 << 16];
    z.next_in = const_cast<Bytef*>(bytes.data());
    z.avail_in = static_cast<uInt>(std::min<std::size_t>(bytes.size(), UINT_MAX));
    int result = Z_OK;
    while (result != Z_STREAM_END) {
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        result = inflate(&z, Z_NO_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END) {
            inflateEnd(&z);
            refuse(result == Z_BUF_ERROR ? "gzip: truncated" : "gzip: damaged data");
        }
        out.insert(out.end(), chunk, chunk + (sizeof chunk - z.avail_out));
        if (out.size() > limit) {
            inflateEnd(&z);
            refuse("gzip: unpacks to more than " + std::to_string(limit) + " bytes");
        }
    }
    inflateEnd(&z);
    return out;
}

RenderedFont render_with_freetype(std::span<const std::uint8_t> bytes, const FontRequest& request) {
    Library library;
    Face face;
    if (FT_New_Memory_Face(library.lib, bytes.data(), static_cast<FT_Long>(bytes.size()), 0, &face.face) != 0)
        refuse("");  // the caller says what the file is not
    const std::string size = choose_size(face.face, request);
    // Codes are Unicode code points where the font maps them; a font
    // without such a map is looked up by its own code positions.
    const bool unicode = FT_Select_Charmap(face.face, FT_ENCODING_UNICODE) == 0;
    if (!unicode && face.face->num_charmaps > 0) FT_Set_Charmap(face.face, face.face->charmaps[0]);
    RenderedFont font;
    font.first = request.first;
    const FT_Size_Metrics& m = face.face->size->metrics;
    font.ascent = static_cast<int>((m.ascender + 63) >> 6);
    font.descent = static_cast<int>((-m.descender + 63) >> 6);
    for (std::uint64_t code = request.first; code <= request.last; ++code) {
        const FT_UInt index = FT_Get_Char_Index(face.face, static_cast<FT_ULong>(code));
        font.glyphs.push_back(index == 0 ? GlyphImage{} : render_glyph(face.face, index));
    }
    const char* name = face.face->family_name != nullptr ? face.face->family_name : "unnamed";
    const char* style = face.face->style_name != nullptr ? face.face->style_name : "";
    font.format = std::string(FT_Get_Font_Format(face.face)) + " font \"" + name + (*style ? " " : "") + style +
                  "\", " + size + (unicode ? "" : ", by its own code positions");
    return font;
}

SheetBmp font_sheet(const RenderedFont& font, std::optional<std::pair<int, int>> forced_cell, int per_row,
                    const PictureLimits& limits, FontLayout& layout) {
    const Box box = natural_box(font);
    layout = FontLayout{};
    layout.origin_x = -box.left;
    layout.baseline = box.top;
    layout.cell_width = forced_cell ? forced_cell->first : box.right - box.left;
    layout.cell_height = forced_cell ? forced_cell->second : box.top - box.bottom;
    // A forced cell keeps the descent below the baseline where it can, so
    // what does not fit is cut from the top, where glyphs rise above the
    // ascent, and from the right.
    if (forced_cell) layout.baseline = std::max(0, std::min(layout.baseline, layout.cell_height - font.descent));
    if (layout.cell_width < 1 || layout.cell_height < 1) refuse("the font draws nothing for these codes");
    if (layout.cell_width > 255 || layout.cell_height > 255)
        refuse("the glyphs need a " + std::to_string(layout.cell_width) + " x " + std::to_string(layout.cell_height) +
               " cell; sheetcut takes at most 255 a side (use a smaller -z, or -s to clip)");
    const auto count = static_cast<std::int64_t>(font.glyphs.size());
    layout.per_row = static_cast<int>(std::min<std::int64_t>(per_row, count));
    const std::int64_t rows = (count + layout.per_row - 1) / layout.per_row;
    try {
        check_picture_size(std::int64_t{layout.per_row} * layout.cell_width, rows * layout.cell_height, limits);
    } catch (const PictureError& e) {
        refuse(std::string("the sheet of ") + e.what() + "; another -w may fit it");
    }
    SheetBmp sheet = make_sheet(std::int64_t{layout.per_row} * layout.cell_width, rows * layout.cell_height);
    for (std::int64_t k = 0; k < count; ++k) {
        const GlyphImage& g = font.glyphs[static_cast<std::size_t>(k)];
        if (!g.present) {
            ++layout.missing;
            if (layout.missing_codes.size() < 8) layout.missing_codes.push_back(font.first + static_cast<std::uint32_t>(k));
            continue;
        }
        const std::int64_t cell_x = k % layout.per_row * layout.cell_width;
        const std::int64_t cell_y = k / layout.per_row * layout.cell_height;
        bool clipped = false;
        for (int y = 0; y < g.rows; ++y)
            for (int x = 0; x < g.width; ++x) {
                if (!g.ink[static_cast<std::size_t>(y * g.width + x)]) continue;
                const int cx = layout.origin_x + g.left + x, cy = layout.baseline - g.top + y;
                if (cx < 0 || cy < 0 || cx >= layout.cell_width || cy >= layout.cell_height) {
                    clipped = true;
                    continue;
                }
                sheet.row(cell_y + cy)[cell_x + cx] = 1;
            }
        layout.clipped += clipped;
    }
    return sheet;
}

}  // namespace sheetcut

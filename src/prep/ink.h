// Deciding which pixels of a picture are ink, from their colours alone.
//
// Where any pixel is less than half opaque, transparent pixels are the
// background and the others ink, whatever colour they carry. Otherwise the
// background is the most common colour, or the one the user names, and a
// pixel is ink when it differs from it, in the channel where it differs
// most, by at least the split point (half, unless the user says otherwise)
// of the largest such difference in the picture. A picture of one colour is
// all background.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "bmp/bmp.h"

namespace sheetcut {

struct InkOptions {
    std::optional<Rgba> background;  // named by the user: no guessing, no transparency
    bool invert = false;
    int split = 50;  // percent of the largest difference, 1 to 100
};

// What was decided, for the -v report.
struct InkReport {
    bool by_transparency = false;
    bool named = false;
    Rgba background;
    std::int64_t background_pixels = 0;  // of the background colour
    int largest_difference = 0;          // 0 to 255; full opacity under transparency
    std::int64_t ink = 0;
    std::int64_t between = 0;  // neither the background nor the largest difference
    std::int64_t between_ink = 0;
};

// The sheet for picture: index 1 where there is ink, 0 elsewhere.
SheetBmp ink_sheet(const Picture& picture, const InkOptions& options, InkReport& report);

}  // namespace sheetcut

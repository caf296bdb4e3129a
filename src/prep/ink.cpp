#include "prep/ink.h"

#include <algorithm>
#include <array>
#include <vector>

namespace sheetcut {
namespace {

std::uint32_t pack(Rgba c) {
    return c.r | std::uint32_t{c.g} << 8 | std::uint32_t{c.b} << 16 | std::uint32_t{c.a} << 24;
}

Rgba unpack(std::uint32_t v) {
    return Rgba{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
                static_cast<std::uint8_t>(v >> 24)};
}

std::uint32_t load(const std::uint8_t* p) {
    return p[0] | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

// What one pass over the colours finds: the count of each colour (RGB),
// whether any is less than half opaque, and each channel's range. The
// colours are counted in a fixed table: a drawing has few, and a
// photograph's millions need not all be counted to find the most common
// one, which comes early; colours that find the table full still count
// towards the ranges.
class ColourStats {
public:
    bool any_transparent = false;
    std::array<int, 3> lo{255, 255, 255};
    std::array<int, 3> hi{0, 0, 0};

    void add(std::uint32_t rgba, std::int64_t n) {
        std::size_t slot = hash(rgba, kBits);
        for (;; slot = (slot + 1) & (kSlots - 1)) {
            if (keys_[slot] == rgba) {
                counts_[slot] += n;
                return;
            }
            if (keys_[slot] == kEmpty) break;
        }
        note(unpack(static_cast<std::uint32_t>(rgba)));
        if (used_ * 4 >= kSlots * 3) return;
        keys_[slot] = rgba;
        counts_[slot] = n;
        ++used_;
    }

    // The most common colour (RGB, opaque) and its count; ties go to the
    // lowest value, so the choice does not depend on the table's order.
    std::pair<Rgba, std::int64_t> most_common() const {
        std::vector<std::pair<std::uint32_t, std::int64_t>> by_rgb;
        for (std::size_t i = 0; i < kSlots; ++i)
            if (keys_[i] != kEmpty) by_rgb.emplace_back(static_cast<std::uint32_t>(keys_[i]) & 0xffffff, counts_[i]);
        std::sort(by_rgb.begin(), by_rgb.end());
        std::pair<std::uint32_t, std::int64_t> best{0, 0};
        for (std::size_t i = 0; i < by_rgb.size();) {
            std::pair<std::uint32_t, std::int64_t> sum{by_rgb[i].first, 0};
            for (; i < by_rgb.size() && by_rgb[i].first == sum.first; ++i) sum.second += by_rgb[i].second;
            if (sum.second > best.second) best = sum;
        }
        return {unpack(best.first | 0xff000000), best.second};
    }

    static std::size_t hash(std::uint64_t v, int bits) {
        return static_cast<std::size_t>((v * 0x9e3779b97f4a7c15ull) >> (64 - bits));
    }

private:
    void note(Rgba c) {
        any_transparent = any_transparent || c.a < 128;
        const int v[3] = {c.r, c.g, c.b};
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], v[k]);
            hi[k] = std::max(hi[k], v[k]);
        }
    }

    static constexpr int kBits = 14;
    static constexpr std::size_t kSlots = std::size_t{1} << kBits;
    static constexpr std::uint64_t kEmpty = ~std::uint64_t{0};  // no RGBA value
    std::vector<std::uint64_t> keys_ = std::vector<std::uint64_t>(kSlots, kEmpty);
    std::vector<std::int64_t> counts_ = std::vector<std::int64_t>(kSlots, 0);
    std::size_t used_ = 0;
};

// Counts the pixels of an RGBA picture. A small cache in front of the table
// takes almost every pixel of a drawing in one compare.
void gather_rgba(const Picture& pic, ColourStats& stats) {
    constexpr int kBits = 10;
    constexpr std::size_t kSlots = std::size_t{1} << kBits;
    const std::uint32_t first = load(pic.pixels.data());
    std::array<std::uint32_t, kSlots> keys;
    keys.fill(first);  // slots other than first's own never match: their counts stay 0
    std::array<std::uint32_t, kSlots> counts{};
    const std::uint8_t* end = pic.pixels.data() + pic.pixels.size();
    for (const std::uint8_t* p = pic.pixels.data(); p != end; p += 4) {
        const std::uint32_t v = load(p);
        const std::size_t slot = ColourStats::hash(v, kBits);
        if (keys[slot] == v) {
            ++counts[slot];
            continue;
        }
        if (counts[slot] != 0) stats.add(keys[slot], counts[slot]);
        keys[slot] = v;
        counts[slot] = 1;
    }
    for (std::size_t i = 0; i < kSlots; ++i)
        if (counts[i] != 0) stats.add(keys[i], counts[i]);
}

// Where ink begins: the smallest measure (the largest channel difference
// from the background, or the alpha) that is ink, 256 when none is.
int ink_threshold(int largest, int percent) {
    if (largest == 0) return 256;
    for (int d = 1; d <= largest; ++d)
        if (d * 100 >= percent * largest) return d;
    return 256;
}

struct Counts {
    std::int64_t ink = 0, between = 0, between_ink = 0, background = 0;
};

std::uint8_t difference(std::uint8_t a, std::uint8_t b) {
    return static_cast<std::uint8_t>(a > b ? a - b : b - a);
}

// One row of an RGBA picture, in a loop without branches that the compiler
// turns into vector code.
template <bool kByAlpha>
void classify_row(const std::uint8_t* in, std::size_t width, Rgba bg, int threshold, int largest, bool invert,
                  std::uint8_t* out, Counts& total) {
    std::uint32_t ink = 0, between = 0, between_ink = 0, zero = 0;
    for (std::size_t x = 0; x < width; ++x) {
        const std::uint8_t* p = in + 4 * x;
        std::uint8_t d;
        if constexpr (kByAlpha) {
            d = p[3];
        } else {
            d = std::max(difference(p[0], bg.r), std::max(difference(p[1], bg.g), difference(p[2], bg.b)));
        }
        const std::uint8_t is_ink = static_cast<std::uint8_t>((d >= threshold) != invert);
        const std::uint8_t is_between = static_cast<std::uint8_t>((d != 0) & (d < largest));
        out[x] = is_ink;
        ink += is_ink;
        between += is_between;
        between_ink += is_between & is_ink;
        zero += d == 0;
    }
    total.ink += ink, total.between += between, total.between_ink += between_ink, total.background += zero;
}

void draw_rgba(const Picture& pic, bool by_alpha, Rgba bg, int threshold, int largest, bool invert, SheetBmp& sheet,
               Counts& counts) {
    const auto width = static_cast<std::size_t>(pic.width);
    for (std::int64_t y = 0; y < pic.height; ++y) {
        const std::uint8_t* in = pic.pixels.data() + static_cast<std::size_t>(y) * width * 4;
        if (by_alpha) {
            classify_row<true>(in, width, bg, threshold, largest, invert, sheet.row(y), counts);
        } else {
            classify_row<false>(in, width, bg, threshold, largest, invert, sheet.row(y), counts);
        }
    }
}

// An indexed picture: the decision for each palette entry, and the counts
// from how often each is used.
void draw_indexed(const Picture& pic, const std::array<std::int64_t, 256>& uses, bool by_alpha, Rgba bg,
                  int threshold, int largest, bool invert, SheetBmp& sheet, Counts& counts) {
    std::array<std::uint8_t, 256> ink{};
    for (std::size_t i = 0; i < pic.palette.size(); ++i) {
        const Rgba c = pic.palette[i];
        const int d = by_alpha ? c.a
                               : std::max({difference(c.r, bg.r), difference(c.g, bg.g), difference(c.b, bg.b)});
        ink[i] = static_cast<std::uint8_t>((d >= threshold) != invert);
        const bool between = d != 0 && d < largest;
        counts.ink += ink[i] * uses[i];
        counts.between += between * uses[i];
        counts.between_ink += (between && ink[i]) * uses[i];
        counts.background += (d == 0) * uses[i];
    }
    const auto width = static_cast<std::size_t>(pic.width);
    for (std::int64_t y = 0; y < pic.height; ++y) {
        const std::uint8_t* in = pic.pixels.data() + static_cast<std::size_t>(y) * width;
        std::uint8_t* out = sheet.row(y);
        for (std::size_t x = 0; x < width; ++x) out[x] = ink[in[x]];
    }
}

// How often each palette entry is used, in four tallies so that runs of
// one index do not wait on each other's increments.
std::array<std::int64_t, 256> index_uses(const Picture& pic) {
    std::array<std::array<std::uint32_t, 256>, 4> tally{};
    std::array<std::int64_t, 256> uses{};
    const std::uint8_t* p = pic.pixels.data();
    const std::size_t n = pic.pixels.size();
    for (std::size_t done = 0; done < n;) {
        // Flush before a 32-bit tally could fill.
        const std::size_t stop = std::min(n, done + (std::size_t{1} << 30));
        std::size_t i = done;
        for (; i + 4 <= stop; i += 4) ++tally[0][p[i]], ++tally[1][p[i + 1]], ++tally[2][p[i + 2]], ++tally[3][p[i + 3]];
        for (; i < stop; ++i) ++tally[0][p[i]];
        for (auto& t : tally)
            for (std::size_t k = 0; k < 256; ++k) uses[k] += t[k], t[k] = 0;
        done = stop;
    }
    return uses;
}

}  // namespace

SheetBmp ink_sheet(const Picture& pic, const InkOptions& options, InkReport& report) {
    ColourStats stats;
    std::array<std::int64_t, 256> uses{};
    if (pic.indexed) {
        uses = index_uses(pic);
        for (std::size_t i = 0; i < pic.palette.size(); ++i)
            if (uses[i] != 0) stats.add(pack(pic.palette[i]), uses[i]);
    } else {
        gather_rgba(pic, stats);
    }
    report = InkReport{};
    report.named = options.background.has_value();
    report.by_transparency = !report.named && stats.any_transparent;
    int largest = 255;
    if (!report.by_transparency) {
        report.background = report.named ? *options.background : stats.most_common().first;
        const int bg[3] = {report.background.r, report.background.g, report.background.b};
        largest = 0;
        for (int k = 0; k < 3; ++k) largest = std::max({largest, stats.hi[k] - bg[k], bg[k] - stats.lo[k]});
    }
    report.largest_difference = largest;
    const int threshold = ink_threshold(largest, options.split);
    SheetBmp sheet = make_sheet(pic.width, pic.height);
    Counts counts;
    if (pic.indexed) {
        draw_indexed(pic, uses, report.by_transparency, report.background, threshold, largest, options.invert, sheet,
                     counts);
    } else {
        draw_rgba(pic, report.by_transparency, report.background, threshold, largest, options.invert, sheet, counts);
    }
    report.ink = counts.ink;
    report.between = counts.between;
    report.between_ink = counts.between_ink;
    report.background_pixels = counts.background;
    return sheet;
}

}  // namespace sheetcut

#include "prep/ink.h"

#include <algorithm>
#include <array>
#include <cstdlib>
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

// Counts pixels by colour (RGB) in a fixed table: a drawing has few
// colours, and a photograph's millions need not all be counted to find the
// most common one, which comes early. Colours that find the table full are
// not counted.
class ColourCounter {
public:
    void add(std::uint32_t rgb, std::int64_t n) {
        std::size_t slot = (rgb * 2654435761u) >> (32 - kBits);
        for (std::size_t probes = 0; probes < kSlots; ++probes, slot = (slot + 1) & (kSlots - 1)) {
            if (keys_[slot] == rgb) {
                counts_[slot] += n;
                return;
            }
            if (keys_[slot] == kEmpty) {
                if (used_ * 4 >= kSlots * 3) return;
                keys_[slot] = rgb;
                counts_[slot] = n;
                ++used_;
                return;
            }
        }
    }
    // The most common colour and its count; ties go to the lowest value,
    // so the choice does not depend on the table's order.
    std::pair<std::uint32_t, std::int64_t> most_common() const {
        std::pair<std::uint32_t, std::int64_t> best{0, 0};
        for (std::size_t i = 0; i < kSlots; ++i)
            if (keys_[i] != kEmpty && (counts_[i] > best.second || (counts_[i] == best.second && keys_[i] < best.first)))
                best = {keys_[i], counts_[i]};
        return best;
    }

private:
    static constexpr int kBits = 16;
    static constexpr std::size_t kSlots = std::size_t{1} << kBits;
    static constexpr std::uint32_t kEmpty = 0xffffffff;  // no RGB value
    std::vector<std::uint32_t> keys_ = std::vector<std::uint32_t>(kSlots, kEmpty);
    std::vector<std::int64_t> counts_ = std::vector<std::int64_t>(kSlots, 0);
    std::size_t used_ = 0;
};

// What one pass over the colours finds.
struct ColourStats {
    bool any_transparent = false;
    std::array<int, 3> lo{255, 255, 255};
    std::array<int, 3> hi{0, 0, 0};
    ColourCounter counter;

    void add(Rgba c, std::int64_t n) {
        any_transparent = any_transparent || c.a < 128;
        const int v[3] = {c.r, c.g, c.b};
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], v[k]);
            hi[k] = std::max(hi[k], v[k]);
        }
        counter.add(pack(c) & 0xffffff, n);
    }
};

void gather(const Picture& pic, ColourStats& stats) {
    if (pic.indexed) {
        std::array<std::int64_t, 256> counts{};
        for (const std::uint8_t i : pic.pixels) ++counts[i];
        for (std::size_t i = 0; i < pic.palette.size(); ++i)
            if (counts[i] != 0) stats.add(pic.palette[i], counts[i]);
        return;
    }
    // Drawings run in long stretches of one colour: count the stretches.
    const std::uint8_t* p = pic.pixels.data();
    const std::uint8_t* end = p + pic.pixels.size();
    std::uint32_t run_colour = load(p);
    std::int64_t run = 0;
    for (; p != end; p += 4) {
        const std::uint32_t v = load(p);
        if (v == run_colour) {
            ++run;
            continue;
        }
        stats.add(unpack(run_colour), run);
        run_colour = v;
        run = 1;
    }
    stats.add(unpack(run_colour), run);
}

// The decision for each value of the measure (the largest channel
// difference from the background, or the alpha): 0 background, 1 ink, and
// whether it lies between the ends.
struct Split {
    std::array<std::uint8_t, 256> ink{};
    std::array<bool, 256> between{};

    Split(int largest, int percent, bool invert) {
        for (int d = 0; d < 256; ++d) {
            const bool is_ink = largest > 0 && d > 0 && d * 100 >= percent * largest;
            ink[static_cast<std::size_t>(d)] = is_ink != invert ? 1 : 0;
            between[static_cast<std::size_t>(d)] = d > 0 && d < largest;
        }
    }
};

// The measure of a colour against the background: its alpha where
// transparency decides, else its largest channel difference.
struct Measure {
    bool by_alpha;
    Rgba bg;
    int operator()(Rgba c) const {
        if (by_alpha) return c.a;
        return std::max({std::abs(c.r - bg.r), std::abs(c.g - bg.g), std::abs(c.b - bg.b)});
    }
};

void count(InkReport& report, const Split& split, int measure, std::int64_t n) {
    const auto m = static_cast<std::size_t>(measure);
    report.ink += split.ink[m] * n;
    if (split.between[m]) {
        report.between += n;
        report.between_ink += split.ink[m] * n;
    }
    if (measure == 0) report.background_pixels += n;
}

void draw(const Picture& pic, const Measure& measure, const Split& split, SheetBmp& sheet, InkReport& report) {
    const auto width = static_cast<std::size_t>(pic.width);
    if (pic.indexed) {
        std::array<int, 256> measures{};
        for (std::size_t i = 0; i < pic.palette.size(); ++i) measures[i] = measure(pic.palette[i]);
        std::array<std::int64_t, 256> counts{};
        for (std::int64_t y = 0; y < pic.height; ++y) {
            const std::uint8_t* in = pic.pixels.data() + static_cast<std::size_t>(y) * width;
            std::uint8_t* out = sheet.row(y);
            for (std::size_t x = 0; x < width; ++x) {
                out[x] = split.ink[static_cast<std::size_t>(measures[in[x]])];
                ++counts[in[x]];
            }
        }
        for (std::size_t i = 0; i < 256; ++i) count(report, split, measures[i], counts[i]);
        return;
    }
    std::uint32_t last = load(pic.pixels.data());
    int last_measure = measure(unpack(last));
    std::int64_t run = 0;
    for (std::int64_t y = 0; y < pic.height; ++y) {
        const std::uint8_t* in = pic.pixels.data() + static_cast<std::size_t>(y) * width * 4;
        std::uint8_t* out = sheet.row(y);
        for (std::size_t x = 0; x < width; ++x) {
            const std::uint32_t v = load(in + 4 * x);
            if (v != last) {
                count(report, split, last_measure, run);
                last = v;
                last_measure = measure(unpack(v));
                run = 0;
            }
            ++run;
            out[x] = split.ink[static_cast<std::size_t>(last_measure)];
        }
    }
    count(report, split, last_measure, run);
}

}  // namespace

SheetBmp ink_sheet(const Picture& pic, const InkOptions& options, InkReport& report) {
    ColourStats stats;
    gather(pic, stats);
    report = InkReport{};
    report.named = options.background.has_value();
    report.by_transparency = !report.named && stats.any_transparent;
    int largest = 255;
    if (!report.by_transparency) {
        const auto [rgb, pixels] = stats.counter.most_common();
        report.background = report.named ? *options.background : unpack(rgb | 0xff000000);
        const int bg[3] = {report.background.r, report.background.g, report.background.b};
        largest = 0;
        for (int k = 0; k < 3; ++k) largest = std::max({largest, stats.hi[k] - bg[k], bg[k] - stats.lo[k]});
    }
    report.largest_difference = largest;
    const Measure measure{report.by_transparency, report.background};
    const Split split(largest, options.split, options.invert);
    SheetBmp sheet = make_sheet(pic.width, pic.height);
    draw(pic, measure, split, sheet, report);
    return sheet;
}

}  // namespace sheetcut

// Test helpers: a small BMP writer, scratch directories and a runner for
// the sheetcut binary.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "convert/font_settings.h"

namespace test {

using Bytes = std::vector<std::uint8_t>;

// An 8-bit image, one palette index per pixel, top row first.
struct Grid {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> px;

    Grid(int w, int h) : width(w), height(h), px(static_cast<std::size_t>(w) * h, 0) {}
    std::uint8_t& at(int x, int y) { return px[static_cast<std::size_t>(y) * width + x]; }
    std::uint8_t at(int x, int y) const { return px[static_cast<std::size_t>(y) * width + x]; }
};

// How to write a sheet; the defaults give the standard layout: pixel data
// at offset 1078 after a 256-entry palette, bfSize equal to the file length.
struct BmpOptions {
    int palette_entries = 256;
    std::uint16_t bit_count = 8;
    std::uint32_t info_size = 40;
    std::uint32_t compression = 0;
    std::optional<std::uint32_t> bf_size;     // default: the file length
    std::optional<std::uint32_t> off_bits;    // default: 54 + 4 * entries
    std::size_t trailing = 0;                 // extra bytes after the pixels
    bool top_down = false;                    // negative biHeight, top row first
    std::optional<std::int32_t> width_field;  // override biWidth as stored
    std::optional<std::int32_t> height_field;
};

Bytes make_bmp(const Grid& grid, const BmpOptions& options = {});

// The layouts real writers produce besides the standard one: a 16-entry
// palette, bytes after the pixels counted in bfSize, bfSize 0, bfSize far
// too large, and a gap between the palette and the pixels.
std::vector<BmpOptions> writer_layouts();

// A sheet of ncols x nrows cells of cw x ch pixels with random ink, as
// likely in any cell; values 1..255 all count as ink.
Grid random_sheet(std::uint32_t seed, int cw, int ch, int ncols, int nrows, int ink_percent);

std::string hex(const Bytes& bytes);

// sheetcut in-process on a sheet held in memory: the font, and the -v
// trace when the settings ask for it. The run must succeed.
struct Converted {
    Bytes font;
    std::string trace;
};
Converted convert(const sheetcut::FontSettings& settings, const Bytes& sheet);
// The settings that sheetcut's options, as one string, give.
sheetcut::FontSettings settings_from(const std::string& options);

class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::filesystem::path path(const std::string& name) const { return dir_ / name; }
    std::string write(const std::string& name, const Bytes& bytes) const;
    // The names in the directory, sorted.
    std::vector<std::string> entries() const { return list(dir_); }
    static std::vector<std::string> list(const std::filesystem::path& dir);

private:
    std::filesystem::path dir_;
};

Bytes read_file(const std::filesystem::path& path);

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs a program with args in dir, capturing both streams; env holds
// NAME=VALUE settings added to the environment.
RunResult run_program(const char* program, const std::vector<std::string>& args, const std::filesystem::path& dir,
                      const std::vector<std::string>& env = {});

// The same in two steps, for a test that acts on the program while it runs;
// the streams are captured in files in dir.
pid_t start_program(const char* program, const std::vector<std::string>& args, const std::filesystem::path& dir,
                    const std::vector<std::string>& env = {});
RunResult finish_program(pid_t pid, const std::filesystem::path& dir);

// Runs script with /bin/sh in dir, where $SHEETCUT, $FONTDUMP and
// $SHEETPREP name the programs: for what only a shell sets up (pipes,
// appends, descriptors).
RunResult run_shell(const std::string& script, const std::filesystem::path& dir);

inline RunResult run_sheetcut(const std::vector<std::string>& args, const std::filesystem::path& dir,
                              const std::vector<std::string>& env = {}) {
    return run_program(SHEETCUT_BIN, args, dir, env);
}

inline RunResult run_fontdump(const std::vector<std::string>& args, const std::filesystem::path& dir) {
    return run_program(FONTDUMP_BIN, args, dir);
}

}  // namespace test

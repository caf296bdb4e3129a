#include "support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "cli/settings.h"
#include "convert/font_file.h"
#include "convert/packer.h"
#include "convert/sheet.h"
#include "diag/diag.h"

namespace test {
namespace {

void put16(Bytes& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

Bytes make_bmp(const Grid& grid, const BmpOptions& o) {
    const std::size_t stride = (static_cast<std::size_t>(grid.width) + 3) & ~std::size_t{3};
    const std::uint32_t off_bits = o.off_bits.value_or(54 + 4 * o.palette_entries);
    Bytes b(off_bits, 0);
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 10, off_bits);
    put32(b, 14, o.info_size);
    put32(b, 18, static_cast<std::uint32_t>(o.width_field.value_or(grid.width)));
    put32(b, 22, static_cast<std::uint32_t>(o.height_field.value_or(o.top_down ? -grid.height : grid.height)));
    put16(b, 26, 1);
    put16(b, 28, o.bit_count);
    put32(b, 30, o.compression);
    put32(b, 34, static_cast<std::uint32_t>(stride * grid.height));
    put32(b, 46, static_cast<std::uint32_t>(o.palette_entries));
    for (int i = 0; i < o.palette_entries && 54 + 4 * i + 4 <= static_cast<int>(off_bits); ++i) {
        const auto grey = static_cast<std::uint8_t>(255 - i);
        b[54 + 4 * i] = b[55 + 4 * i] = b[56 + 4 * i] = grey;
    }
    for (int r = 0; r < grid.height; ++r) {
        const int y = o.top_down ? r : grid.height - 1 - r;
        for (std::size_t x = 0; x < stride; ++x)
            b.push_back(x < static_cast<std::size_t>(grid.width) ? grid.at(static_cast<int>(x), y) : 0);
    }
    b.resize(b.size() + o.trailing, 0xAA);
    put32(b, 2, o.bf_size.value_or(static_cast<std::uint32_t>(b.size())));
    return b;
}

std::vector<BmpOptions> writer_layouts() {
    std::vector<BmpOptions> layouts(6);
    layouts[1].palette_entries = 16;
    layouts[2].trailing = 2;
    layouts[3].bf_size = 0;
    layouts[4].bf_size = 0xFFFFFFFF;
    layouts[5].off_bits = 2000;
    return layouts;
}

Grid random_sheet(std::uint32_t seed, int cw, int ch, int ncols, int nrows, int ink_percent) {
    std::mt19937 rng(seed);
    Grid g(cw * ncols, ch * nrows);
    for (auto& p : g.px)
        p = static_cast<int>(rng() % 100) < ink_percent ? static_cast<std::uint8_t>(1 + rng() % 255) : 0;
    return g;
}

std::string hex(const Bytes& bytes) {
    std::string s;
    char buf[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%s%02X", i ? " " : "", bytes[i]);
        s += buf;
    }
    return s;
}

ScratchDir::ScratchDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "sheetcut-test-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = tmpl;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    // Undo any permission changes a test made, then remove everything.
    for (auto& entry : std::filesystem::recursive_directory_iterator(dir_, ignored))
        std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(dir_, ignored);
}

std::string ScratchDir::write(const std::string& name, const Bytes& bytes) const {
    std::ofstream out(dir_ / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return (dir_ / name).string();
}

std::vector<std::string> ScratchDir::list(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

Bytes read_file(const std::filesystem::path& path) {
    const std::string s = slurp(path);
    return Bytes(s.begin(), s.end());
}

pid_t start_program(const char* program, const std::vector<std::string>& args, const std::filesystem::path& dir,
                    const std::vector<std::string>& env) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(dir.c_str()) != 0) _exit(126);
        for (const auto& setting : env) ::putenv(const_cast<char*>(setting.c_str()));
        const int out = ::open((dir / ".stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open((dir / ".stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::close(out);
        ::close(err);
        std::vector<char*> argv;
        std::string name = std::filesystem::path(program).filename();
        argv.push_back(name.data());
        std::vector<std::string> copy = args;
        for (auto& a : copy) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(program, argv.data());
        _exit(127);
    }
    return pid;
}

RunResult finish_program(pid_t pid, const std::filesystem::path& dir) {
    int wstatus = 0;
    ::waitpid(pid, &wstatus, 0);
    RunResult r;
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    r.out = slurp(dir / ".stdout");
    r.err = slurp(dir / ".stderr");
    std::filesystem::remove(dir / ".stdout");
    std::filesystem::remove(dir / ".stderr");
    return r;
}

RunResult run_program(const char* program, const std::vector<std::string>& args, const std::filesystem::path& dir,
                      const std::vector<std::string>& env) {
    return finish_program(start_program(program, args, dir, env), dir);
}

RunResult run_shell(const std::string& script, const std::filesystem::path& dir) {
    return run_program("/bin/sh", {"-c", script}, dir, {"SHEETCUT=" SHEETCUT_BIN, "FONTDUMP=" FONTDUMP_BIN, "SHEETPREP=" SHEETPREP_BIN});
}

Converted convert(const sheetcut::FontSettings& s, const Bytes& sheet) {
    std::FILE* capture = std::tmpfile();
    sheetcut::trace_out().set_stream(capture);
    Converted out;
    const int status = sheetcut::run_reported([&] {
        sheetcut::MemorySource source(sheet.data(), sheet.size());
        const sheetcut::SheetImage image = sheetcut::load_sheet(s, source, "in.bmp");
        sheetcut::FontImage font = sheetcut::make_font_image(s, sheetcut::glyph_count(s));
        sheetcut::pack_glyphs(s, image, font);
        out.font.assign(font.bytes.get(), font.bytes.get() + font.fntsize);
    });
    sheetcut::trace_out().set_stream(stdout);
    EXPECT_EQ(status, 0);
    std::rewind(capture);
    for (int c; (c = std::fgetc(capture)) != EOF;) out.trace += static_cast<char>(c);
    std::fclose(capture);
    return out;
}

sheetcut::FontSettings settings_from(const std::string& text) {
    std::istringstream words(text);
    std::vector<std::string> args;
    for (std::string w; words >> w;) args.push_back(w);
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    return sheetcut::parse_options(argv).settings;
}

}  // namespace test

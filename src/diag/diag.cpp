#include "diag/diag.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <new>

namespace sheetcut {
namespace {

const char* current_program = "sheetcut";

// Diagnostics are written unbuffered-by-line: each piece goes straight to
// standard error, whose results are deliberately not examined (the run ends
// with status 1 whatever happens to the message).
void put_err(std::string_view s) {
    std::fwrite(s.data(), 1, s.size(), stderr);
}

[[noreturn]] void end_run() {
    std::fflush(stderr);
    throw ExitRequest{1};
}

void write_lead() {
    // Trace lines written before the failure go out first, so that a
    // terminal shows them ahead of the diagnostic.
    trace_out().flush();
    put_err(current_program);
    put_err(": ");
}

}  // namespace

const char* program_name() {
    return current_program;
}

void set_program_name(const char* name) {
    current_program = name;
}

void fatal(std::string_view message) {
    write_lead();
    put_err(message);
    put_err("\n");
    end_run();
}

void fatal(std::string_view format, std::string_view subject) {
    write_lead();
    const auto at = format.find("%s");
    if (at == std::string_view::npos) {
        put_err(format);
    } else {
        put_err(format.substr(0, at));
        put_err(subject);
        put_err(format.substr(at + 2));
    }
    put_err("\n");
    end_run();
}

void fatal_io(std::string_view subject) {
    const int error = errno;  // before any write can change it
    write_lead();
    if (!subject.empty()) {
        put_err(subject);
        put_err(": ");
    }
    put_err(std::strerror(error));
    put_err("\n");
    end_run();
}

int run_reported(const std::function<void()>& body) {
    int status = 0;
    try {
        try {
            body();
        } catch (const std::bad_alloc&) {
            errno = ENOMEM;
            fatal_io("");
        }
    } catch (const ExitRequest& request) {
        status = request.status;
    }
    trace_out().flush();
    return status;
}

std::string shell_quote(std::string_view text) {
    static constexpr std::string_view kPlain =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_./:+,=@%-";
    if (text.empty()) return "''";
    if (text.find_first_not_of(kPlain) == std::string_view::npos) return std::string(text);
    std::string out;
    bool quoted = false;
    auto quote = [&](bool open) {
        if (quoted != open) out += '\'';
        quoted = open;
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\'') {
            quote(false);
            out += "\\'";
            ++i;
        } else if ((c < 0x20 && c != '\n') || c == 0x7f) {
            // A run of control bytes, as octal escapes of printf. The run
            // never ends in a line feed, which the substitution would drop.
            quote(false);
            out += "\"$(printf '";
            for (; i < text.size(); ++i) {
                const auto b = static_cast<unsigned char>(text[i]);
                if (!((b < 0x20 && b != '\n') || b == 0x7f)) break;
                char octal[8];
                std::snprintf(octal, sizeof octal, "\\%03o", b);
                out += octal;
            }
            out += "')\"";
        } else {
            quote(true);
            out += text[i++];
        }
    }
    quote(false);
    return out;
}

void Trace::make_room(std::size_t n) {
    if (buf_.size() - used_ >= n) return;
    flush();
    // Allocated on first use: a run without -v never pays for it.
    if (buf_.size() < n || buf_.size() < kCapacity) buf_.resize(std::max(n, kCapacity));
}

char* Trace::reserve(std::size_t n) {
    make_room(n);
    return buf_.data() + used_;
}

void Trace::text(std::string_view s) {
    std::memcpy(reserve(s.size()), s.data(), s.size());
    commit(s.size());
}

void Trace::ch(char c) {
    *reserve(1) = c;
    commit(1);
}

void Trace::dec(std::int64_t v) {
    char digits[24];
    int n = 0;
    // Work on the magnitude in unsigned arithmetic: -INT64_MIN would overflow.
    std::uint64_t m = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
    do {
        digits[n++] = static_cast<char>('0' + m % 10);
        m /= 10;
    } while (m != 0);
    char* out = reserve(static_cast<std::size_t>(n) + 1);
    std::size_t k = 0;
    if (v < 0) out[k++] = '-';
    while (n > 0) out[k++] = digits[--n];
    commit(k);
}

void Trace::hex(std::uint32_t v, int width) {
    static constexpr char kDigits[] = "0123456789abcdef";
    char digits[8];
    int n = 0;
    do {
        digits[n++] = kDigits[v & 0xf];
        v >>= 4;
    } while (v != 0);
    const int pad = width > n ? width - n : 0;
    char* out = reserve(static_cast<std::size_t>(pad + n));
    std::size_t k = 0;
    for (int i = 0; i < pad; ++i) out[k++] = '0';
    while (n > 0) out[k++] = digits[--n];
    commit(k);
}

void Trace::flush() {
    const bool written = used_ == 0 || std::fwrite(buf_.data(), 1, used_, stream_) == used_;
    used_ = 0;
    if ((std::fflush(stream_) != 0 || !written) && error_ == 0) error_ = errno != 0 ? errno : EIO;
}

void Trace::check() {
    if (error_ == 0) return;
    errno = error_;
    fatal_io("standard output");
}

void Trace::set_stream(std::FILE* stream) {
    flush();
    stream_ = stream;
}

Trace& trace_out() {
    static Trace instance;
    return instance;
}

void trace(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (n > 0) {
        Trace& t = trace_out();
        // vsnprintf writes a terminating zero; reserve room for it too.
        char* out = t.reserve(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(out, static_cast<std::size_t>(n) + 1, format, again);
        t.commit(static_cast<std::size_t>(n));
    }
    va_end(again);
}

}  // namespace sheetcut

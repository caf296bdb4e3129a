// Reporters and the -v trace.
//
// Every failure ends the run through fatal, fatal_io or usage: each writes
// its line to standard error and throws ExitRequest. Only the entry point
// (or a test or fuzz harness) catches it and turns it into the process
// status, so nothing but main ever ends the process.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

namespace sheetcut {

// The name that begins every diagnostic: "sheetcut" unless another
// program of the family sets its own.
const char* program_name();
void set_program_name(const char* name);

// Thrown by the reporters; carries the exit status (always 1 today).
struct ExitRequest {
    int status;
};

// "PROGRAM: MESSAGE\n", then ends the run.
[[noreturn]] void fatal(std::string_view message);
// "PROGRAM: " + FORMAT with its one "%s" replaced by SUBJECT + "\n".
[[noreturn]] void fatal(std::string_view format, std::string_view subject);
// "PROGRAM: SUBJECT: <error text of errno>\n", or without "SUBJECT: " when
// the subject is empty.
[[noreturn]] void fatal_io(std::string_view subject);

// Runs body and returns the exit status it ends with: 0 when it returns, or
// the status of the report that ended it. Running out of memory anywhere is
// reported like a failed allocation.
int run_reported(const std::function<void()>& body);

// text as one word for a POSIX shell: as it is when it holds only
// characters no shell treats specially, else in single quotes, with control
// bytes (a line feed aside) given through printf so that none reaches a
// terminal raw.
std::string shell_quote(std::string_view text);

// The trace: buffered text for standard output. Lines are collected in one
// large buffer and written out in big blocks, so that -v on a large sheet
// costs little more than the conversion itself.
class Trace {
public:
    void text(std::string_view s);
    void ch(char c);
    void dec(std::int64_t v);
    // Lower-case hex of the 32-bit pattern of v, zero-padded to width.
    void hex(std::uint32_t v, int width = 0);
    // Room for n more bytes, to be filled by the caller and then committed.
    char* reserve(std::size_t n);
    void commit(std::size_t n) { used_ += n; }
    void flush();
    // Reports the first failure to write the trace as
    // "PROGRAM: standard output: ERROR" and ends the run.
    void check();
    // Where flush writes; standard output unless a test redirects it.
    void set_stream(std::FILE* stream);

private:
    static constexpr std::size_t kCapacity = std::size_t{1} << 20;
    void make_room(std::size_t n);
    std::string buf_;
    std::size_t used_ = 0;
    std::FILE* stream_ = stdout;
    int error_ = 0;  // errno of the first failed write
};

// The process-wide trace. Callers write to it only while Verbose is set.
Trace& trace_out();

// Formatted trace line, for the lines that are written once per run.
void trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace sheetcut

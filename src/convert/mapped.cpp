#include "convert/mapped.h"

#include <sys/mman.h>
#include <unistd.h>

namespace sheetcut {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

}  // namespace

void Unmap::operator()(const std::uint8_t*) const {
    if (length != 0) ::munmap(base, length);
}

Mapped<std::uint8_t> map_zeroed(std::size_t size) {
    // Room to align the start to a huge page, when the image fills one.
    const std::size_t slack = size >= kHugePage ? kHugePage : 0;
    void* base = ::mmap(nullptr, size + slack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) return Mapped<std::uint8_t>(nullptr, Unmap{});
    auto* start = static_cast<std::uint8_t*>(base);
    if (slack != 0) {
        // Whole huge pages only: a tail in one more would cost zeroing all
        // of it for a few bytes.
        start += (kHugePage - reinterpret_cast<std::uintptr_t>(base) % kHugePage) % kHugePage;
        ::madvise(start, size / kHugePage * kHugePage, MADV_HUGEPAGE);  // a hint; refusal changes nothing
    }
    return Mapped<std::uint8_t>(start, Unmap{base, size + slack});
}

}  // namespace sheetcut

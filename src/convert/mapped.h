// Memory for the large buffers of a run, the font image and a pixel block
// held whole, taken straight from the kernel with mmap: zero-filled, and in
// huge pages where the buffer is large enough to fill one, since faulting in
// fresh pages one by one is what a large buffer costs most.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace sheetcut {

// Releases a mapping; an empty one (length 0) releases nothing.
struct Unmap {
    void* base = nullptr;
    std::size_t length = 0;
    void operator()(const std::uint8_t*) const;
};

template <typename T>
using Mapped = std::unique_ptr<T[], Unmap>;

// size zero bytes, or an empty pointer with errno set.
Mapped<std::uint8_t> map_zeroed(std::size_t size);
}  // namespace sheetcut

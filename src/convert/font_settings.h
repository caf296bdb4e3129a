// The settings record of a conversion: cell geometry, the ranges and the
// header values, as the command line gives them.
#pragma once

#include <cstdint>

namespace sheetcut {

inline constexpr std::int32_t FLAG_PROPORTIONAL = 1;

// Filled once, then only read. Every field starts at zero; an option that
// is not given leaves its field at zero.
struct FontSettings {
    std::int32_t FontWidth = 0;
    std::int32_t FontHeight = 0;
    std::int32_t StartCode = 0;
    std::int32_t EndCode = 0;
    std::int32_t StartOffset = 0;
    std::int32_t EndOffset = 0;
    std::int32_t DefaultWidth = 0;
    std::int32_t GapX = 0;
    std::int32_t GapY = 0;
    char FontName[4] = {0, 0, 0, 0};  // three bytes and a zero, or all zero
    std::int32_t CctIndex = 0;
    std::int32_t Flags = 0;
    std::int32_t Verbose = 0;

    bool proportional() const { return (Flags & FLAG_PROPORTIONAL) != 0; }
};

}  // namespace sheetcut

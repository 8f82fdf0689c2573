#pragma once
// Bitmap files for the picture tests, written byte by byte (uncompressed, with a colour table
// up to 8 bits per pixel), so every depth the preview names can be tried.

#include <cstdint>
#include <vector>

#include "talvorine/platform/little_endian.h"

namespace talvorine::client::ui::icons::testing {

inline std::vector<std::uint8_t> MakeBitmap(int width, int height, int bitsPerPixel,
                                            std::uint8_t shade = 0x40) {
    const int rowBytes = ((width * bitsPerPixel + 31) / 32) * 4;
    const int colours = bitsPerPixel <= 8 ? 1 << bitsPerPixel : 0;
    const std::size_t offset = 14 + 40 + static_cast<std::size_t>(colours) * 4;
    std::vector<std::uint8_t> bytes(offset + static_cast<std::size_t>(rowBytes * height), shade);
    bytes[0] = 'B';
    bytes[1] = 'M';
    platform::StoreLe32(std::span(bytes).subspan(2), static_cast<std::uint32_t>(bytes.size()));
    platform::StoreLe32(std::span(bytes).subspan(6), 0);
    platform::StoreLe32(std::span(bytes).subspan(10), static_cast<std::uint32_t>(offset));
    auto info = std::span(bytes).subspan(14);
    platform::StoreLe32(info, 40);
    platform::StoreLe32(info.subspan(4), static_cast<std::uint32_t>(width));
    platform::StoreLe32(info.subspan(8), static_cast<std::uint32_t>(height));
    platform::StoreLe16(info.subspan(12), 1);
    platform::StoreLe16(info.subspan(14), static_cast<std::uint16_t>(bitsPerPixel));
    for (std::size_t i = 16; i < 40; ++i) {
        info[i] = 0;  // BI_RGB, default sizes, every colour used
    }
    for (int c = 0; c < colours; ++c) {
        auto entry = std::span(bytes).subspan(54 + static_cast<std::size_t>(c) * 4, 4);
        entry[0] = static_cast<std::uint8_t>(c * 37);
        entry[1] = static_cast<std::uint8_t>(c * 11);
        entry[2] = static_cast<std::uint8_t>(255 - c);
        entry[3] = 0;
    }
    return bytes;
}

}  // namespace talvorine::client::ui::icons::testing

#pragma once
// The Blowfish initial P-array and S-boxes (the hexadecimal digits of pi's fraction).

#include <array>
#include <cstdint>

namespace talvorine::platform::detail {

extern const std::array<std::uint32_t, 18> BlowfishInitialP;
extern const std::array<std::array<std::uint32_t, 256>, 4> BlowfishInitialS;

}  // namespace talvorine::platform::detail

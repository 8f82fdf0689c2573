#pragma once
// Names that compare without regard to case, as registry values and group names do.

#include <algorithm>
#include <cctype>
#include <string_view>

namespace talvorine::client::data::detail {

inline bool EqualsNoCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

}  // namespace talvorine::client::data::detail

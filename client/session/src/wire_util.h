#pragma once
// Small wire helpers shared by the engine's sources.

#include <arpa/inet.h>

#include <array>
#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <string_view>

#include "talvorine/platform/text.h"
#include "talvorine/protocol/catalogue.h"
#include "talvorine/protocol/packet.h"

namespace talvorine::client::session::detail {

// A UserId as sent alone: eight digits and NUL in a 9-byte field.
inline std::array<std::uint8_t, protocol::Size::UserId> UserIdField(std::string_view userId) {
    std::array<std::uint8_t, protocol::Size::UserId> field{};
    platform::WriteTextField(field, userId.substr(0, protocol::Size::UserId - 1));
    return field;
}

inline std::string BodyString(const protocol::PacketHeader& header,
                              std::span<const std::uint8_t> buffer) {
    return std::string(protocol::BodyText(header, buffer));
}

// "%s" replaced in order by the arguments (the designed texts use %s, %d only as %s here).
inline std::string Format(std::string_view pattern, std::initializer_list<std::string_view> args) {
    std::string out;
    auto arg = args.begin();
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() &&
            (pattern[i + 1] == 's' || pattern[i + 1] == 'd') && arg != args.end()) {
            out += *arg++;
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

// Reasons handed to callers hold at most 255 bytes, cut on a character boundary.
inline std::string CutReason(std::string_view text) {
    return std::string(platform::CutUtf8(text, 255));
}

// An IPv4 address in network byte order as dotted text.
inline std::string DottedAddress(std::uint32_t address) {
    in_addr addr{};
    addr.s_addr = address;
    char dotted[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &addr, dotted, sizeof dotted);
    return dotted;
}

inline std::uint32_t Now() {
    return static_cast<std::uint32_t>(std::time(nullptr));
}

}  // namespace talvorine::client::session::detail

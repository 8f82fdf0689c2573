#pragma once
// The one exception of the socket and packet layer: it carries the designed text by value.

#include <stdexcept>
#include <string>

namespace talvorine::protocol {

class NetError : public std::runtime_error {
public:
    explicit NetError(const std::string& text) : std::runtime_error(text) {}
};

}  // namespace talvorine::protocol

#include "password_hash.h"

#include <crypt.h>

#include <memory>

#include "talvorine/platform/text.h"

namespace talvorine::server {

namespace {

// yescrypt, the method Debian uses for its own account passwords.
constexpr const char* HashPrefix = "$y$";
constexpr std::size_t MaxPassword = 16;

// Equal without an early exit, so the time taken tells nothing about where they differ.
bool SameBytes(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    unsigned char difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    }
    return difference == 0;
}

// crypt_r's work area is about 32 kB: on the heap, since session threads have small stacks.
std::optional<std::string> Crypt(std::string_view password, const char* setting) {
    const std::string phrase(password);
    auto data = std::make_unique<crypt_data>();
    const char* result = ::crypt_r(phrase.c_str(), setting, data.get());
    // Failure is NULL or a text beginning with "*" (never a valid hash).
    if (result == nullptr || result[0] == '*') {
        return std::nullopt;
    }
    return std::string(result);
}

}  // namespace

std::optional<std::string> HashPassword(std::string_view password) {
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    // Count 0 and no random bytes given: the library's default cost and its own randomness.
    if (::crypt_gensalt_rn(HashPrefix, 0, nullptr, 0, setting, sizeof setting) == nullptr) {
        return std::nullopt;
    }
    return Crypt(password, setting);
}

bool IsPasswordHash(std::string_view stored) {
    return stored.size() > MaxPassword && stored.front() == '$';
}

bool PasswordMatches(std::string_view password, std::string_view stored) {
    if (IsPasswordHash(stored)) {
        const std::string setting(stored);
        const auto computed = Crypt(password, setting.c_str());
        return computed && SameBytes(*computed, stored);
    }
    return SameBytes(password, platform::CutUtf8(stored, MaxPassword));
}

}  // namespace talvorine::server

#pragma once
// Passwords at rest: a salted yescrypt hash made by the system's libcrypt, so a copy of the
// database (or of a backup) hands out no password. A stored value that is not a hash is a
// password kept as typed, from before hashing or from a site that keeps plain storage.

#include <optional>
#include <string>
#include <string_view>

namespace talvorine::server {

// A new hash of `password` with a fresh salt at the library's default cost; nullopt when the
// library cannot make one (no randomness, out of memory).
std::optional<std::string> HashPassword(std::string_view password);

// True when `stored` is a hash in the crypt format ("$id$..."), which no password can be:
// passwords have at most 16 characters and every hash is longer.
bool IsPasswordHash(std::string_view stored);

// Whether `password` matches what is stored: through the hash for a hash, else compared as
// typed (case-sensitive, the stored text cut to 16 characters).
bool PasswordMatches(std::string_view password, std::string_view stored);

}  // namespace talvorine::server

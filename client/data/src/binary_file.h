#pragma once
// Descriptor-level helpers shared by the binary files of the client's local data. Every read
// says how many bytes it got, so callers check lengths before they use a byte.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "talvorine/platform/file_descriptor.h"
#include "talvorine/platform/little_endian.h"

namespace talvorine::client::data::detail {

// An owned file descriptor; closing also drops any flock held through it.
using UniqueFd = platform::FileDescriptor;

// "<path>: <system text>", cut to 255 bytes as the store's error texts are.
std::string FileErrorText(const std::filesystem::path& path, int error);
[[noreturn]] void ThrowFileError(const std::filesystem::path& path, int error);

// Reads up to buffer.size() bytes at offset, retrying short reads; returns the count read
// (smaller only at the end of the file). Throws DataError on a read error.
std::size_t ReadAt(int fd, std::uint64_t offset, std::span<std::uint8_t> buffer,
                   const std::filesystem::path& path);
// Writes all bytes at offset. Throws DataError on failure.
void WriteAt(int fd, std::uint64_t offset, std::span<const std::uint8_t> bytes,
             const std::filesystem::path& path);
std::uint64_t FileLength(int fd, const std::filesystem::path& path);
void Truncate(int fd, std::uint64_t length, const std::filesystem::path& path);
void Sync(int fd, const std::filesystem::path& path);
// Makes a rename or unlink in `folder` durable. Errors are ignored: not every file system
// lets a folder be synced.
void SyncFolder(const std::filesystem::path& folder);

using platform::LoadLe32;
using platform::StoreLe16;
using platform::StoreLe32;

}  // namespace talvorine::client::data::detail

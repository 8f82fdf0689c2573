#pragma once
// Private-profile (INI) files with the Windows semantics the client's files rely on:
// section and key names compare without regard to case, lines stay in file order, untouched
// lines stay as they were, writes create missing sections and files, and every rewrite is
// atomic (temporary file in the same folder + rename). The file is opened for one operation.
//
// Names and values are trimmed of surrounding blanks on reading. An existing file keeps its own
// line ends (CRLF or LF) on rewrite; a new file gets LF. Writes refuse (errno EINVAL) text that
// would not read back as written: line breaks or NUL, a key holding "=" or beginning with "["
// or ";". The folder must exist: a write does not create it.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace talvorine::platform {

// The largest section read, as the Windows section buffer: 16384 bytes counting each line's
// NUL and the closing NUL.
inline constexpr std::size_t ProfileSectionBufferSize = 0x4000;

class PrivateProfile {
public:
    explicit PrivateProfile(std::filesystem::path file);

    const std::filesystem::path& File() const { return m_file; }

    // The value, or `defaultValue` when the file, section or key is missing. `bufferSize`
    // counts the terminator as the Windows call does: the result holds at most bufferSize - 1
    // bytes (cut without leaving half a UTF-8 character).
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view defaultValue, std::size_t bufferSize = 4096) const;
    // Leading decimal digits (with an optional sign) as GetPrivateProfileInt reads them;
    // `defaultValue` when the key is missing.
    int ReadInt(std::string_view section, std::string_view key, int defaultValue) const;

    // Writes key=value. A null key deletes the whole section; a null value deletes the key.
    // Returns false (errno set) when the file cannot be written.
    bool Write(std::string_view section, std::optional<std::string_view> key,
               std::optional<std::string_view> value);
    bool DeleteKey(std::string_view section, std::string_view key) {
        return Write(section, key, std::nullopt);
    }
    bool DeleteSection(std::string_view section) { return Write(section, std::nullopt, std::nullopt); }

    // The section's "key=value" lines in file order (comment and blank lines left out), cut
    // so that the lines, each with a NUL, and a closing NUL fit into `bufferSize` bytes.
    std::vector<std::string> ReadSection(std::string_view section,
                                         std::size_t bufferSize = ProfileSectionBufferSize) const;
    // Replaces the section's lines with `lines` ("key=value"), creating it when missing.
    bool WriteSection(std::string_view section, const std::vector<std::string>& lines);

    // Section names in file order.
    std::vector<std::string> SectionNames() const;

private:
    std::filesystem::path m_file;
};

}  // namespace talvorine::platform

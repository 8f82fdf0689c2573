#pragma once
// The exported-registry text of one hive file, in memory: its keys in file order, each with its
// values. Parsing checks every escape, length and hex byte; what it cannot read is reported as
// damage with the line number, never guessed at.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "talvorine/platform/registry_store.h"

namespace talvorine::platform::detail {

inline constexpr std::string_view RegistryFileHeader = "Windows Registry Editor Version 5.00";

// Compares registry names the way the registry does for the text we store: ASCII letters
// without regard to case, every other byte as it is.
bool RegistryNamesEqual(std::string_view a, std::string_view b);

struct StoredValue {
    std::string name;  // empty for the default value ("@")
    RegistryValue value;
    // A value of a type this store does not model (hex(N): with N other than 3): the text after
    // "=", kept so that rewriting the file does not lose it. Such values count as absent.
    std::optional<std::string> foreignText;
};

struct StoredKey {
    std::string path;  // full path with the hive root, e.g. "HKEY_CURRENT_USER\Software\..."
    std::vector<StoredValue> values;

    StoredValue* FindValue(std::string_view name);
    const StoredValue* FindValue(std::string_view name) const;
};

struct RegistryDocument {
    std::vector<StoredKey> keys;

    StoredKey* FindKey(std::string_view path);
    const StoredKey* FindKey(std::string_view path) const;
    // True when the key has a section or any section lies below it.
    bool KeyExists(std::string_view path) const;
    // Adds the sections of the key and of each missing parent below `root` (parents first).
    StoredKey& CreateKey(std::string_view root, std::string_view path);
    // Removes the key's section and every section below it; false when none existed.
    bool DeleteKey(std::string_view path);
    // The names of the keys directly below `path`, in file order, each once.
    std::vector<std::string> SubKeyNames(std::string_view path) const;
};

struct ParseResult {
    std::optional<RegistryDocument> document;  // nullopt when the text is damaged
    std::size_t line = 0;                      // the damaged line (1-based)
    std::string error;                         // what is wrong with it
};

ParseResult ParseRegistryText(std::string_view text);
// The file text, with LF line ends.
std::string FormatRegistryText(const RegistryDocument& document);

// Quotes a name or string value with the escapes of an exported registry file (\\ and \", and
// \n, \r, \0 for the control bytes a line cannot hold).
std::string QuoteRegistryString(std::string_view text);

}  // namespace talvorine::platform::detail

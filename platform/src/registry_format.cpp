#include "registry_format.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <unordered_map>

namespace talvorine::platform::detail {
namespace {

char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string FoldName(std::string_view name) {
    std::string folded(name);
    std::transform(folded.begin(), folded.end(), folded.begin(), FoldAscii);
    return folded;
}

bool StartsWithName(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           RegistryNamesEqual(text.substr(0, prefix.size()), prefix);
}

// True when `path` lies strictly below `parent`.
bool IsBelow(std::string_view path, std::string_view parent) {
    return path.size() > parent.size() + 1 && StartsWithName(path, parent) &&
           path[parent.size()] == '\\';
}

std::string_view TrimBlanks(std::string_view text) {
    const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// Collapses empty segments so that "A\\B\" and "A\B" name one key.
std::string NormalisePath(std::string_view path) {
    std::string result;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('\\', start), path.size());
        if (end > start) {
            if (!result.empty()) {
                result += '\\';
            }
            result.append(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return result;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

struct LineError {
    std::string text;
};

// Reads a quoted text at the start of `rest` and removes it (with its quotes) from `rest`.
std::optional<std::string> ReadQuoted(std::string_view& rest, std::string& error) {
    if (rest.empty() || rest.front() != '"') {
        error = "a quoted text was expected";
        return std::nullopt;
    }
    std::string result;
    std::size_t i = 1;
    for (; i < rest.size(); ++i) {
        const char c = rest[i];
        if (c == '"') {
            rest.remove_prefix(i + 1);
            return result;
        }
        if (c != '\\') {
            result += c;
            continue;
        }
        if (i + 1 >= rest.size()) {
            break;
        }
        switch (rest[++i]) {
            case '\\':
                result += '\\';
                break;
            case '"':
                result += '"';
                break;
            case 'n':
                result += '\n';
                break;
            case 'r':
                result += '\r';
                break;
            case '0':
                result += '\0';
                break;
            default:
                error = "bad escape \"\\" + std::string(1, rest[i]) + "\" in a quoted text";
                return std::nullopt;
        }
    }
    error = "a quoted text has no closing quote";
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> ReadHexBytes(std::string_view text, std::string& error) {
    std::vector<std::uint8_t> bytes;
    text = TrimBlanks(text);
    if (text.empty()) {
        return bytes;
    }
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        const std::string_view item = TrimBlanks(
            text.substr(start, comma == std::string_view::npos ? text.npos : comma - start));
        if (item.size() != 2 || HexDigit(item[0]) < 0 || HexDigit(item[1]) < 0) {
            error = "bad hex byte \"" + std::string(item) + "\"";
            return std::nullopt;
        }
        bytes.push_back(static_cast<std::uint8_t>(HexDigit(item[0]) * 16 + HexDigit(item[1])));
        if (comma == std::string_view::npos) {
            return bytes;
        }
        start = comma + 1;
    }
}

std::optional<std::uint32_t> ReadDword(std::string_view text, std::string& error) {
    text = TrimBlanks(text);
    if (text.empty() || text.size() > 8) {
        error = "a dword needs 1 to 8 hex digits";
        return std::nullopt;
    }
    std::uint32_t number = 0;
    for (const char c : text) {
        const int digit = HexDigit(c);
        if (digit < 0) {
            error = "bad hex digit in a dword";
            return std::nullopt;
        }
        number = number * 16 + static_cast<std::uint32_t>(digit);
    }
    return number;
}

// Parses the data after "=" of one value line (continuations already joined).
bool ReadValueData(std::string_view data, StoredValue& value, std::string& error) {
    data = TrimBlanks(data);
    if (!data.empty() && data.front() == '"') {
        auto text = ReadQuoted(data, error);
        if (!text) {
            return false;
        }
        if (!TrimBlanks(data).empty()) {
            error = "text after the closing quote of a string";
            return false;
        }
        value.value.type = RegistryValueType::String;
        value.value.text = std::move(*text);
        return true;
    }
    if (data.starts_with("dword:")) {
        const auto number = ReadDword(data.substr(6), error);
        if (!number) {
            return false;
        }
        value.value.type = RegistryValueType::Dword;
        value.value.number = *number;
        return true;
    }
    if (data.starts_with("hex:") || data.starts_with("hex(3):")) {
        auto bytes = ReadHexBytes(data.substr(data.find(':') + 1), error);
        if (!bytes) {
            return false;
        }
        value.value.type = RegistryValueType::Binary;
        value.value.bytes = std::move(*bytes);
        return true;
    }
    if (data.starts_with("hex(")) {
        const std::size_t close = data.find("):");
        std::string typeError;
        if (close == std::string_view::npos || close == 4 ||
            !ReadDword(data.substr(4, close - 4), typeError) ||
            !ReadHexBytes(data.substr(close + 2), error)) {
            if (error.empty()) {
                error = "bad hex(type) value";
            }
            return false;
        }
        value.foreignText = std::string(data);
        return true;
    }
    if (data == "-") {
        error = "a value deletion (\"=-\") has no place in a stored registry file";
        return false;
    }
    error = "unknown value data \"" + std::string(data.substr(0, 40)) + "\"";
    return false;
}

class Parser {
public:
    explicit Parser(std::string_view text) : m_text(text) {
        if (m_text.starts_with("\xEF\xBB\xBF")) {
            m_text.remove_prefix(3);
        }
    }

    ParseResult Run() {
        ParseResult result;
        RegistryDocument document;
        bool headerSeen = false;
        StoredKey* current = nullptr;
        std::string_view line;
        while (NextLine(line)) {
            const std::string_view trimmed = TrimBlanks(line);
            if (trimmed.empty() || trimmed.front() == ';') {
                continue;
            }
            if (!headerSeen) {
                if (trimmed != RegistryFileHeader) {
                    return Fail("the file does not begin with \"" +
                                std::string(RegistryFileHeader) + "\"");
                }
                headerSeen = true;
                continue;
            }
            if (trimmed.front() == '[') {
                if (trimmed.back() != ']' || trimmed.size() < 3) {
                    return Fail("a key line must be \"[path]\"");
                }
                const std::string_view inner = trimmed.substr(1, trimmed.size() - 2);
                if (inner.front() == '-') {
                    return Fail(
                        "a key deletion (\"[-...]\") has no place in a stored registry file");
                }
                const std::string path = NormalisePath(inner);
                if (path.empty()) {
                    return Fail("a key line names no key");
                }
                current = document.FindKey(path);
                if (current == nullptr) {
                    current = &document.keys.emplace_back(StoredKey{path, {}});
                    m_valueIndex.emplace_back();
                }
                m_currentIndex =
                    &m_valueIndex[static_cast<std::size_t>(current - document.keys.data())];
                continue;
            }
            if (trimmed.front() != '"' && trimmed.front() != '@') {
                return Fail("a line is neither a key nor a value");
            }
            if (current == nullptr) {
                return Fail("a value comes before any key");
            }
            std::string joined;
            if (!JoinContinuations(trimmed, joined)) {
                return Fail("the file ends inside a continued value");
            }
            if (!ReadValueLine(joined, *current)) {
                return Fail(m_error);
            }
        }
        if (!headerSeen && !m_sawContent) {
            result.document = RegistryDocument{};  // an empty file is an empty hive
            return result;
        }
        if (!headerSeen) {
            return Fail("the file does not begin with \"" + std::string(RegistryFileHeader) + "\"");
        }
        result.document = std::move(document);
        return result;
    }

private:
    bool NextLine(std::string_view& line) {
        if (m_pos >= m_text.size()) {
            return false;
        }
        const std::size_t end = std::min(m_text.find('\n', m_pos), m_text.size());
        line = m_text.substr(m_pos, end - m_pos);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        m_pos = end + 1;
        ++m_line;
        if (!TrimBlanks(line).empty()) {
            m_sawContent = true;
        }
        return true;
    }

    // Joins "...,\" + "  next" continuations of hex data into one text.
    bool JoinContinuations(std::string_view first, std::string& joined) {
        std::string_view part = first;
        while (true) {
            part = TrimBlanks(part);
            if (part.empty() || part.back() != '\\' || !IsHexData(joined.empty() ? part : joined)) {
                joined.append(part);
                return true;
            }
            part.remove_suffix(1);
            joined.append(part);
            std::string_view next;
            if (!NextLine(next)) {
                return false;
            }
            part = next;
        }
    }

    // Only hex data continues on the next line; a string may well end in a backslash.
    static bool IsHexData(std::string_view text) {
        const std::size_t eq = ValueSeparator(text);
        if (eq == std::string_view::npos) {
            return false;
        }
        const std::string_view data = TrimBlanks(text.substr(eq + 1));
        return data.starts_with("hex:") || data.starts_with("hex(");
    }

    // The "=" after the value's name (skipping a quoted name with its escapes).
    static std::size_t ValueSeparator(std::string_view text) {
        if (text.starts_with("@")) {
            return text.find('=');
        }
        std::string ignored;
        std::string_view rest = text;
        if (!ReadQuoted(rest, ignored)) {
            return std::string_view::npos;
        }
        const std::size_t eq = text.size() - rest.size();
        const std::size_t found = text.find('=', eq);
        return found;
    }

    bool ReadValueLine(std::string_view text, StoredKey& key) {
        StoredValue value;
        std::string_view rest = text;
        if (rest.front() == '@') {
            rest.remove_prefix(1);
        } else {
            auto name = ReadQuoted(rest, m_error);
            if (!name) {
                return false;
            }
            value.name = std::move(*name);
        }
        rest = TrimBlanks(rest);
        if (rest.empty() || rest.front() != '=') {
            m_error = "a value name is not followed by \"=\"";
            return false;
        }
        rest.remove_prefix(1);
        if (!ReadValueData(rest, value, m_error)) {
            return false;
        }
        // A later line for the same name wins, as on import. The index keeps this linear in
        // the number of values, which matters for hives read on every operation.
        const auto [slot, added] =
            m_currentIndex->try_emplace(FoldName(value.name), key.values.size());
        if (added) {
            key.values.push_back(std::move(value));
        } else {
            key.values[slot->second].value = std::move(value.value);
            key.values[slot->second].foreignText = std::move(value.foreignText);
        }
        return true;
    }

    ParseResult Fail(std::string error) const {
        ParseResult result;
        result.line = m_line;
        result.error = std::move(error);
        return result;
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
    std::size_t m_line = 0;
    bool m_sawContent = false;
    std::string m_error;
    // Per key (parallel to the document's keys): folded value name -> index in its values.
    std::vector<std::unordered_map<std::string, std::size_t>> m_valueIndex;
    std::unordered_map<std::string, std::size_t>* m_currentIndex = nullptr;
};

void AppendHexData(std::string& out, std::size_t lineStart, std::string_view prefix,
                   const std::vector<std::uint8_t>& bytes) {
    out += prefix;
    constexpr std::size_t lineWidth = 76;  // as the registry editor wraps its exports
    char hex[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(hex, sizeof hex, "%02x", bytes[i]);
        out += hex;
        if (i + 1 < bytes.size()) {
            out += ',';
            if (out.size() - lineStart >= lineWidth) {
                out += "\\\n  ";
                lineStart = out.size() - 2;
            }
        }
    }
}

}  // namespace

bool RegistryNamesEqual(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return FoldAscii(x) == FoldAscii(y);
           });
}

StoredValue* StoredKey::FindValue(std::string_view name) {
    const auto it = std::find_if(values.begin(), values.end(), [&](const StoredValue& v) {
        return RegistryNamesEqual(v.name, name);
    });
    return it == values.end() ? nullptr : &*it;
}

const StoredValue* StoredKey::FindValue(std::string_view name) const {
    return const_cast<StoredKey*>(this)->FindValue(name);
}

StoredKey* RegistryDocument::FindKey(std::string_view path) {
    const auto it = std::find_if(keys.begin(), keys.end(), [&](const StoredKey& k) {
        return RegistryNamesEqual(k.path, path);
    });
    return it == keys.end() ? nullptr : &*it;
}

const StoredKey* RegistryDocument::FindKey(std::string_view path) const {
    return const_cast<RegistryDocument*>(this)->FindKey(path);
}

bool RegistryDocument::KeyExists(std::string_view path) const {
    return std::any_of(keys.begin(), keys.end(), [&](const StoredKey& k) {
        return RegistryNamesEqual(k.path, path) || IsBelow(k.path, path);
    });
}

StoredKey& RegistryDocument::CreateKey(std::string_view root, std::string_view path) {
    // Each prefix of the path from the first segment below the root, parents first. Existing
    // keys (also those only implied by sections below them) keep the case they were first
    // created with; only the new segments take the caller's.
    StoredKey* key = FindKey(root);
    std::string spelled(key != nullptr ? std::string_view(key->path) : root);
    std::size_t end = root.size();
    while (end < path.size()) {
        const std::size_t start = end + 1;
        end = std::min(path.find('\\', start), path.size());
        const std::string_view prefix = path.substr(0, end);
        spelled += '\\';
        spelled.append(path.substr(start, end - start));
        key = FindKey(prefix);
        if (key != nullptr) {
            spelled = key->path;
            continue;
        }
        for (const StoredKey& below : keys) {
            if (IsBelow(below.path, prefix)) {
                spelled = below.path.substr(0, prefix.size());
                break;
            }
        }
        key = &keys.emplace_back(StoredKey{spelled, {}});
    }
    if (key == nullptr) {
        key = &keys.emplace_back(StoredKey{std::string(path), {}});
    }
    return *key;
}

bool RegistryDocument::DeleteKey(std::string_view path) {
    const auto removed = std::erase_if(keys, [&](const StoredKey& k) {
        return RegistryNamesEqual(k.path, path) || IsBelow(k.path, path);
    });
    return removed > 0;
}

std::vector<std::string> RegistryDocument::SubKeyNames(std::string_view path) const {
    std::vector<std::string> names;
    for (const StoredKey& key : keys) {
        if (!IsBelow(key.path, path)) {
            continue;
        }
        const std::string_view rest = std::string_view(key.path).substr(path.size() + 1);
        const std::string_view name = rest.substr(0, rest.find('\\'));
        const bool seen = std::any_of(names.begin(), names.end(), [&](const std::string& n) {
            return RegistryNamesEqual(n, name);
        });
        if (!seen) {
            names.emplace_back(name);
        }
    }
    return names;
}

ParseResult ParseRegistryText(std::string_view text) {
    return Parser(text).Run();
}

std::string QuoteRegistryString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\0':
                out += "\\0";
                break;
            default:
                out += c;
        }
    }
    out += '"';
    return out;
}

std::string FormatRegistryText(const RegistryDocument& document) {
    std::string out(RegistryFileHeader);
    out += "\n\n";
    for (const StoredKey& key : document.keys) {
        out += '[';
        out += key.path;
        out += "]\n";
        for (const StoredValue& value : key.values) {
            const std::size_t lineStart = out.size();
            out += value.name.empty() ? std::string("@") : QuoteRegistryString(value.name);
            out += '=';
            if (value.foreignText) {
                out += *value.foreignText;
            } else if (value.value.type == RegistryValueType::String) {
                out += QuoteRegistryString(value.value.text);
            } else if (value.value.type == RegistryValueType::Dword) {
                char number[16];
                std::snprintf(number, sizeof number, "dword:%08x", value.value.number);
                out += number;
            } else {
                AppendHexData(out, lineStart, "hex:", value.value.bytes);
            }
            out += '\n';
        }
        out += '\n';
    }
    return out;
}

}  // namespace talvorine::platform::detail

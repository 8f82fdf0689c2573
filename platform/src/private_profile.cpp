#include "talvorine/platform/private_profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <utility>

#include "talvorine/platform/text.h"

namespace talvorine::platform {
namespace {

// One line of the file as it stands, with what it means. Untouched lines are written back
// from `text` + `ending` exactly.
struct ProfileLine {
    enum class Kind { Section, Key, Other };
    std::string text;    // without the line end
    std::string ending;  // "\r\n", "\n", or "" for a last line without one
    Kind kind = Kind::Other;
    std::string name;   // the section's or key's name, trimmed
    std::string value;  // a key's value, trimmed
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool NamesEqual(std::string_view a, std::string_view b) {
    const auto fold = [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return fold(x) == fold(y); });
}

// Text handed to callers stops at a NUL, as the C strings of the Windows calls do.
std::string_view UpToNul(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

void Classify(ProfileLine& line, bool firstLine) {
    std::string_view text = line.text;
    if (firstLine && text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    const std::string_view trimmed = Trim(text);
    if (trimmed.starts_with('[')) {
        const std::size_t close = trimmed.rfind(']');
        if (close != std::string_view::npos) {
            line.kind = ProfileLine::Kind::Section;
            line.name = Trim(trimmed.substr(1, close - 1));
            return;
        }
    }
    if (trimmed.starts_with(';')) {
        return;
    }
    const std::size_t eq = trimmed.find('=');
    if (eq == std::string_view::npos) {
        return;
    }
    line.kind = ProfileLine::Kind::Key;
    line.name = Trim(trimmed.substr(0, eq));
    line.value = Trim(trimmed.substr(eq + 1));
}

class ProfileDocument {
public:
    std::vector<ProfileLine> lines;
    std::string newline = "\n";  // new files use the Linux line end

    static ProfileDocument Parse(std::string_view text) {
        ProfileDocument document;
        bool styleKnown = false;
        std::size_t pos = 0;
        while (pos < text.size()) {
            const std::size_t lf = text.find('\n', pos);
            ProfileLine line;
            if (lf == std::string_view::npos) {
                line.text = text.substr(pos);
                pos = text.size();
            } else {
                // One assignment of the line end: assigning "\n" and then "\r\n" makes GCC 12
                // at -O3 warn about its own inlined copy.
                const bool crlf = lf > pos && text[lf - 1] == '\r';
                const std::size_t end = crlf ? lf - 1 : lf;
                line.ending = std::string_view(crlf ? "\r\n" : "\n");
                line.text = text.substr(pos, end - pos);
                pos = lf + 1;
                if (!styleKnown) {
                    document.newline = line.ending;  // keep the file's own style on rewrite
                    styleKnown = true;
                }
            }
            Classify(line, document.lines.empty());
            document.lines.push_back(std::move(line));
        }
        return document;
    }

    std::string Text() const {
        std::string out;
        for (const ProfileLine& line : lines) {
            out += line.text;
            out += line.ending;
        }
        return out;
    }

    // The index of the first header of the section, or npos.
    std::size_t FindSection(std::string_view section) const {
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].kind == ProfileLine::Kind::Section && NamesEqual(lines[i].name, section)) {
                return i;
            }
        }
        return npos;
    }

    // The end (exclusive) of the body of the section whose header is at `header`.
    std::size_t SectionEnd(std::size_t header) const {
        std::size_t i = header + 1;
        while (i < lines.size() && lines[i].kind != ProfileLine::Kind::Section) {
            ++i;
        }
        return i;
    }

    std::size_t FindKey(std::size_t header, std::string_view key) const {
        const std::size_t end = SectionEnd(header);
        for (std::size_t i = header + 1; i < end; ++i) {
            if (lines[i].kind == ProfileLine::Kind::Key && NamesEqual(lines[i].name, key)) {
                return i;
            }
        }
        return npos;
    }

    // Where a new line of the section goes: after its last line that is not blank, so the
    // blank line before the next section stays where it is.
    std::size_t InsertionPoint(std::size_t header) const {
        std::size_t end = SectionEnd(header);
        while (end > header + 1 && Trim(lines[end - 1].text).empty()) {
            --end;
        }
        return end;
    }

    void Insert(std::size_t at, std::string text) {
        if (at > 0 && lines[at - 1].ending.empty()) {
            lines[at - 1].ending = newline;  // the old last line had no line end
        }
        ProfileLine line;
        line.text = std::move(text);
        line.ending = newline;
        Classify(line, false);
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
    }

    // Appends "[section]" at the end of the file, after a blank line when other text precedes.
    std::size_t AppendSection(std::string_view section) {
        if (!lines.empty() && !Trim(lines.back().text).empty()) {
            Insert(lines.size(), "");
        }
        std::string header(1, '[');  // built by appends: GCC 12 misreports "[" + string at -O3
        header.append(section).push_back(']');
        Insert(lines.size(), std::move(header));
        return lines.size() - 1;
    }

    void Erase(std::size_t from, std::size_t to) {
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(from),
                    lines.begin() + static_cast<std::ptrdiff_t>(to));
    }

    static constexpr std::size_t npos = static_cast<std::size_t>(-1);
};

// Reads the file; a missing file reads as empty. False (errno set) when it cannot be read.
bool LoadFile(const std::filesystem::path& file, ProfileDocument& document, bool& exists) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    exists = fd >= 0;
    if (fd < 0) {
        if (errno == ENOENT) {
            document = ProfileDocument{};
            return true;
        }
        return false;
    }
    std::string text;
    char buffer[65536];
    bool ok = true;
    while (true) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
    const int readError = errno;
    ::close(fd);
    if (!ok) {
        errno = readError;
        return false;
    }
    document = ProfileDocument::Parse(text);
    return true;
}

// Writes the document to a temporary file in the same folder and renames it over the file.
bool SaveFile(const std::filesystem::path& file, const ProfileDocument& document) {
    mode_t mode = 0;
    struct stat info {};
    if (::stat(file.c_str(), &info) == 0) {
        mode = info.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    std::filesystem::path folder = file.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    std::string tempName(1, '.');
    tempName.append(file.filename().string()).append(".XXXXXX");
    std::string temp = (folder / tempName).string();
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        return false;
    }
    const std::string text = document.Text();
    std::string_view rest = text;
    bool ok = ::fchmod(fd, mode) == 0;
    while (ok && !rest.empty()) {
        const ssize_t put = ::write(fd, rest.data(), rest.size());
        if (put < 0 && errno == EINTR) {
            continue;
        }
        ok = put > 0;
        if (ok) {
            rest.remove_prefix(static_cast<std::size_t>(put));
        }
    }
    ok = ok && ::fsync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temp.c_str(), file.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        errno = error;
    }
    return ok;
}

bool HasLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// A key that would read back as something else (a header, a comment, another key) is refused.
bool ValidKey(std::string_view key) {
    return !HasLineBreakOrNul(key) && key.find('=') == std::string_view::npos &&
           !key.starts_with('[') && !key.starts_with(';');
}

bool Refuse() {
    errno = EINVAL;
    return false;
}

}  // namespace

PrivateProfile::PrivateProfile(std::filesystem::path file) : m_file(std::move(file)) {}

std::string PrivateProfile::ReadString(std::string_view section, std::string_view key,
                                       std::string_view defaultValue,
                                       std::size_t bufferSize) const {
    if (bufferSize == 0) {
        return {};
    }
    ProfileDocument document;
    bool exists = false;
    std::string_view result = defaultValue;
    if (LoadFile(m_file, document, exists)) {
        const std::size_t header = document.FindSection(Trim(section));
        const std::size_t line = header == ProfileDocument::npos
                                     ? ProfileDocument::npos
                                     : document.FindKey(header, Trim(key));
        if (line != ProfileDocument::npos) {
            result = UpToNul(document.lines[line].value);
        }
    }
    return std::string(CutUtf8(result, bufferSize - 1));
}

int PrivateProfile::ReadInt(std::string_view section, std::string_view key,
                            int defaultValue) const {
    ProfileDocument document;
    bool exists = false;
    if (!LoadFile(m_file, document, exists)) {
        return defaultValue;
    }
    const std::size_t header = document.FindSection(Trim(section));
    if (header == ProfileDocument::npos) {
        return defaultValue;
    }
    const std::size_t line = document.FindKey(header, Trim(key));
    if (line == ProfileDocument::npos) {
        return defaultValue;
    }
    // Leading digits only; anything else present gives 0, as GetPrivateProfileInt does.
    // The sum wraps like the 32-bit original instead of overflowing.
    std::string_view text = UpToNul(document.lines[line].value);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    std::uint32_t number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            break;
        }
        number = number * 10u + static_cast<std::uint32_t>(c - '0');
    }
    if (negative) {
        number = 0u - number;
    }
    return static_cast<int>(number);
}

bool PrivateProfile::Write(std::string_view section, std::optional<std::string_view> key,
                           std::optional<std::string_view> value) {
    section = Trim(section);
    if (HasLineBreakOrNul(section)) {
        return Refuse();
    }
    if (key) {
        key = Trim(*key);
        if (!ValidKey(*key) || (value && HasLineBreakOrNul(*value))) {
            return Refuse();
        }
    }
    ProfileDocument document;
    bool exists = false;
    if (!LoadFile(m_file, document, exists)) {
        return false;
    }
    std::size_t header = document.FindSection(section);
    if (!key) {
        if (header == ProfileDocument::npos) {
            return true;  // nothing to delete
        }
        while (header != ProfileDocument::npos) {  // every section of that name
            document.Erase(header, document.SectionEnd(header));
            header = document.FindSection(section);
        }
        return SaveFile(m_file, document);
    }
    if (!value) {
        if (header == ProfileDocument::npos) {
            return true;
        }
        bool removed = false;
        for (std::size_t line = document.FindKey(header, *key); line != ProfileDocument::npos;
             line = document.FindKey(header, *key)) {
            document.Erase(line, line + 1);
            removed = true;
        }
        return removed ? SaveFile(m_file, document) : true;
    }
    const std::string_view newValue = *value;
    if (header == ProfileDocument::npos) {
        header = document.AppendSection(section);
    }
    const std::size_t line = document.FindKey(header, *key);
    if (line == ProfileDocument::npos) {
        document.Insert(document.InsertionPoint(header),
                        std::string(*key) + "=" + std::string(newValue));
    } else {
        ProfileLine& existing = document.lines[line];
        if (existing.value == Trim(newValue) && exists) {
            return true;  // reads would give the same: leave the file alone
        }
        existing.text = existing.name + "=" + std::string(newValue);
        Classify(existing, false);
    }
    return SaveFile(m_file, document);
}

std::vector<std::string> PrivateProfile::ReadSection(std::string_view section,
                                                     std::size_t bufferSize) const {
    std::vector<std::string> result;
    ProfileDocument document;
    bool exists = false;
    if (!LoadFile(m_file, document, exists)) {
        return result;
    }
    const std::size_t header = document.FindSection(Trim(section));
    if (header == ProfileDocument::npos) {
        return result;
    }
    std::size_t used = 1;  // the closing NUL
    const std::size_t end = document.SectionEnd(header);
    for (std::size_t i = header + 1; i < end; ++i) {
        const ProfileLine& line = document.lines[i];
        if (line.kind != ProfileLine::Kind::Key) {
            continue;
        }
        std::string entry =
            std::string(UpToNul(line.name)) + "=" + std::string(UpToNul(line.value));
        if (used + entry.size() + 1 > bufferSize) {
            break;  // a line that does not fit whole is left out, with all after it
        }
        used += entry.size() + 1;
        result.push_back(std::move(entry));
    }
    return result;
}

bool PrivateProfile::WriteSection(std::string_view section, const std::vector<std::string>& lines) {
    section = Trim(section);
    if (HasLineBreakOrNul(section)) {
        return Refuse();
    }
    for (const std::string& line : lines) {
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos || !ValidKey(Trim(std::string_view(line).substr(0, eq))) ||
            HasLineBreakOrNul(line)) {
            return Refuse();
        }
    }
    ProfileDocument document;
    bool exists = false;
    if (!LoadFile(m_file, document, exists)) {
        return false;
    }
    std::size_t header = document.FindSection(section);
    if (header == ProfileDocument::npos) {
        header = document.AppendSection(section);
    }
    // The new lines take the place of the first old key line; comments stay where they are.
    std::size_t at = ProfileDocument::npos;
    for (std::size_t i = document.SectionEnd(header); i-- > header + 1;) {
        if (document.lines[i].kind == ProfileLine::Kind::Key) {
            document.Erase(i, i + 1);
            at = i;
        }
    }
    if (at == ProfileDocument::npos) {
        at = document.InsertionPoint(header);
    }
    for (const std::string& line : lines) {
        document.Insert(at++, line);
    }
    return SaveFile(m_file, document);
}

std::vector<std::string> PrivateProfile::SectionNames() const {
    std::vector<std::string> names;
    ProfileDocument document;
    bool exists = false;
    if (!LoadFile(m_file, document, exists)) {
        return names;
    }
    for (const ProfileLine& line : document.lines) {
        if (line.kind != ProfileLine::Kind::Section) {
            continue;
        }
        const bool seen = std::any_of(names.begin(), names.end(), [&](const std::string& n) {
            return NamesEqual(n, line.name);
        });
        if (!seen) {
            names.push_back(line.name);
        }
    }
    return names;
}

}  // namespace talvorine::platform

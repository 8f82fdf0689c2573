#include "talvorine/platform/registry_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <utility>

#include "registry_format.h"
#include "talvorine/platform/file_descriptor.h"
#include "talvorine/platform/program_folders.h"

namespace talvorine::platform {
namespace {

using detail::RegistryDocument;

std::string ErrnoText(int error) {
    return std::strerror(error);
}

// The hive is renamed over on every write, which would leave a lock on the hive itself held on
// a stale inode; so every process locks one stable file beside it instead.
std::filesystem::path LockFileOf(const std::filesystem::path& hiveFile) {
    std::filesystem::path lock = hiveFile;
    lock += ".lock";
    return lock;
}

bool Flock(int fd, int operation) {
    while (::flock(fd, operation) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

enum class ReadStatus { Ok, Missing, Failed };

ReadStatus ReadWholeFile(const std::filesystem::path& file, std::string& text, int& error) {
    FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.IsOpen()) {
        error = errno;
        return error == ENOENT ? ReadStatus::Missing : ReadStatus::Failed;
    }
    text.clear();
    char buffer[65536];
    while (true) {
        const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = errno;
            return ReadStatus::Failed;
        }
        if (got == 0) {
            return ReadStatus::Ok;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t put = ::write(fd, data.data(), data.size());
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(put));
    }
    return true;
}

// Creates the folder and its missing parents with mode 0755.
void CreateFolders(const std::filesystem::path& folder) {
    if (folder.empty() || std::filesystem::is_directory(folder)) {
        return;
    }
    CreateFolders(folder.parent_path());
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
        throw RegistryError("Cannot create the registry folder \"" + folder.string() +
                            "\": " + ErrnoText(errno));
    }
}

// Writes the text to a temporary file beside `file`, flushes it and renames it over `file`.
void ReplaceFile(const std::filesystem::path& file, std::string_view text, mode_t mode) {
    std::string pattern =
        (file.parent_path() / ("." + file.filename().string() + ".XXXXXX")).string();
    FileDescriptor fd(::mkstemp(pattern.data()));
    if (!fd.IsOpen()) {
        throw RegistryError("Cannot write the registry file \"" + file.string() +
                            "\": " + ErrnoText(errno));
    }
    const auto fail = [&](int error) {
        ::unlink(pattern.c_str());
        throw RegistryError("Cannot write the registry file \"" + file.string() +
                            "\": " + ErrnoText(error));
    };
    if (::fchmod(fd.Get(), mode) != 0 || !WriteAll(fd.Get(), text) || ::fsync(fd.Get()) != 0) {
        fail(errno);
    }
    if (::close(fd.Release()) != 0) {
        fail(errno);
    }
    if (::rename(pattern.c_str(), file.c_str()) != 0) {
        fail(errno);
    }
    // Make the rename itself durable.
    FileDescriptor folder(::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.IsOpen()) {
        ::fsync(folder.Get());
    }
}

std::string DamagedName(const std::filesystem::path& file, int attempt) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    std::string name = file.string() + ".damaged-" + stamp;
    if (attempt > 0) {
        name += "-" + std::to_string(attempt + 1);
    }
    return name;
}

// Renames the file aside without replacing an earlier damaged copy; empty when it failed.
std::string SetAside(const std::filesystem::path& file, int& error) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string target = DamagedName(file, attempt);
        if (::renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
            return target;
        }
        if (errno == EEXIST) {
            continue;
        }
        if (errno == EINVAL || errno == ENOSYS) {  // the file system cannot refuse to replace
            if (std::filesystem::exists(target)) {
                continue;
            }
            if (::rename(file.c_str(), target.c_str()) == 0) {
                return target;
            }
        }
        error = errno;
        return {};
    }
    error = EEXIST;
    return {};
}

// Splits a caller's key path into the full stored path; nullopt when it cannot be a key name.
std::optional<std::string> FullPath(std::string_view root, std::string_view keyPath) {
    std::string full(root);
    std::size_t start = 0;
    while (start <= keyPath.size()) {
        const std::size_t end = std::min(keyPath.find('\\', start), keyPath.size());
        if (end > start) {
            full += '\\';
            full.append(keyPath.substr(start, end - start));
        }
        start = end + 1;
    }
    if (full.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
        return std::nullopt;
    }
    return full;
}

std::string FullPathOrThrow(std::string_view root, std::string_view keyPath) {
    auto full = FullPath(root, keyPath);
    if (!full) {
        throw RegistryError("A registry key name cannot hold a line break or NUL");
    }
    return *full;
}

// One locked session on a hive file: loads it (setting a damaged file aside) and, for a
// writer, stores it back.
class HiveSession {
public:
    HiveSession(const RegistryStore& store, const RegistryStore::WarningHandler& warn,
                bool exclusive)
        : m_file(store.File()),
          m_warn(warn),
          m_exclusive(exclusive),
          m_mode(store.FileHive() == Hive::LocalMachine ? 0644 : 0600) {}

    // Reader: never creates the folder; without a usable lock file it still reads a whole
    // file, since writers only ever rename complete files into place.
    RegistryDocument LoadForRead() {
        if (!std::filesystem::is_directory(m_file.parent_path())) {
            return {};
        }
        OpenLock(false);
        return Load(false);
    }

    RegistryDocument LoadForWrite() {
        CreateFolders(m_file.parent_path());
        OpenLock(true);
        if (!m_lock.IsOpen()) {
            throw RegistryError("Cannot lock the registry file \"" + m_file.string() +
                                "\": " + ErrnoText(m_lockError));
        }
        return Load(true);
    }

    void Store(const RegistryDocument& document) {
        struct stat info {};
        const mode_t mode = ::stat(m_file.c_str(), &info) == 0 ? (info.st_mode & 07777) : m_mode;
        ReplaceFile(m_file, detail::FormatRegistryText(document), mode);
    }

private:
    void OpenLock(bool forWrite) {
        const std::filesystem::path lock = LockFileOf(m_file);
        int fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, m_mode);
        if (fd < 0 && !forWrite) {
            fd = ::open(lock.c_str(), O_RDONLY | O_CLOEXEC);  // another user's machine hive
        }
        if (fd < 0) {
            m_lockError = errno;
            return;
        }
        m_lock = FileDescriptor(fd);
        if (!Flock(fd, m_exclusive ? LOCK_EX : LOCK_SH)) {
            m_lockError = errno;
            m_lock = FileDescriptor();
        }
    }

    RegistryDocument Load(bool forWrite) {
        std::string text;
        int error = 0;
        switch (ReadWholeFile(m_file, text, error)) {
            case ReadStatus::Missing:
                return {};
            case ReadStatus::Failed:
                if (forWrite) {
                    throw RegistryError("Cannot read the registry file \"" + m_file.string() +
                                        "\": " + ErrnoText(error));
                }
                return {};  // an unreadable hive reads as empty: every value its default
            case ReadStatus::Ok:
                break;
        }
        detail::ParseResult parsed = detail::ParseRegistryText(text);
        if (parsed.document) {
            return std::move(*parsed.document);
        }
        return HandleDamage(forWrite);
    }

    // Sets the damaged file aside under the exclusive lock, after checking that it is still
    // damaged (another process may have set it aside and written a new one meanwhile).
    RegistryDocument HandleDamage(bool forWrite) {
        if (m_lock.IsOpen() && !m_exclusive) {
            m_exclusive = true;
            if (!Flock(m_lock.Get(), LOCK_EX)) {
                m_lock = FileDescriptor();
            }
        }
        std::string text;
        int error = 0;
        const ReadStatus status = ReadWholeFile(m_file, text, error);
        if (status == ReadStatus::Missing) {
            return {};
        }
        if (status == ReadStatus::Failed) {
            if (forWrite) {
                throw RegistryError("Cannot read the registry file \"" + m_file.string() +
                                    "\": " + ErrnoText(error));
            }
            return {};
        }
        detail::ParseResult parsed = detail::ParseRegistryText(text);
        if (parsed.document) {
            return std::move(*parsed.document);
        }
        const std::string what = "line " + std::to_string(parsed.line) + ": " + parsed.error;
        const std::string aside = m_lock.IsOpen() ? SetAside(m_file, error) : std::string();
        if (aside.empty()) {
            const std::string message = "The registry file \"" + m_file.string() +
                                        "\" is damaged (" + what +
                                        ") and could not be set aside (" + ErrnoText(error) +
                                        "); it is read as empty and left as it is.";
            Warn(message);
            if (forWrite) {
                throw RegistryError(message);
            }
            return {};
        }
        Warn("The registry file \"" + m_file.string() + "\" is damaged (" + what +
             "); it was set aside as \"" + aside + "\" and the registry starts empty.");
        return {};
    }

    void Warn(const std::string& message) const {
        if (m_warn) {
            m_warn(message);
        } else {
            std::cerr << "talvorine: " << message << std::endl;
        }
    }

    const std::filesystem::path& m_file;
    const RegistryStore::WarningHandler& m_warn;
    bool m_exclusive;
    mode_t m_mode;
    FileDescriptor m_lock;
    int m_lockError = 0;
};

Hive HiveOfFileName(const std::filesystem::path& file) {
    return file.filename() == "machine.reg" ? Hive::LocalMachine : Hive::CurrentUser;
}

const char* NonEmptyEnv(const char* name) {
    const char* value = std::getenv(name);
    return (value != nullptr && *value != '\0') ? value : nullptr;
}

}  // namespace

std::filesystem::path HiveFile(Hive hive) {
    const char* fileName = hive == Hive::LocalMachine ? "machine.reg" : "user.reg";
    if (const char* dir = NonEmptyEnv("TALVORINE_REGISTRY_DIR")) {
        return std::filesystem::path(dir) / fileName;
    }
    if (hive == Hive::LocalMachine) {
        return "/etc/talvorine/machine.reg";
    }
    return ConfigHome() / "talvorine" / fileName;
}

std::string_view HiveRootName(Hive hive) {
    return hive == Hive::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

RegistryStore::RegistryStore(std::filesystem::path file)
    : m_file(std::move(file)), m_hive(HiveOfFileName(m_file)) {}

RegistryStore::RegistryStore(std::filesystem::path file, Hive hive)
    : m_file(std::move(file)), m_hive(hive) {}

RegistryStore RegistryStore::ForHive(Hive hive) {
    return RegistryStore(HiveFile(hive), hive);
}

bool RegistryStore::KeyExists(std::string_view keyPath) const {
    const auto full = FullPath(HiveRootName(m_hive), keyPath);
    if (!full) {
        return false;
    }
    if (*full == HiveRootName(m_hive)) {
        return true;  // the root always exists
    }
    return HiveSession(*this, m_warn, false).LoadForRead().KeyExists(*full);
}

void RegistryStore::CreateKey(std::string_view keyPath) {
    const std::string full = FullPathOrThrow(HiveRootName(m_hive), keyPath);
    HiveSession session(*this, m_warn, true);
    RegistryDocument document = session.LoadForWrite();
    if (document.FindKey(full) != nullptr) {
        return;
    }
    document.CreateKey(HiveRootName(m_hive), full);
    session.Store(document);
}

bool RegistryStore::DeleteKey(std::string_view keyPath) {
    const std::string full = FullPathOrThrow(HiveRootName(m_hive), keyPath);
    if (full == HiveRootName(m_hive)) {
        throw RegistryError("The root key of a hive cannot be deleted");
    }
    HiveSession session(*this, m_warn, true);
    RegistryDocument document = session.LoadForWrite();
    if (!document.DeleteKey(full)) {
        return false;
    }
    session.Store(document);
    return true;
}

std::optional<RegistryValue> RegistryStore::QueryValue(std::string_view keyPath,
                                                       std::string_view name) const {
    const auto full = FullPath(HiveRootName(m_hive), keyPath);
    if (!full) {
        return std::nullopt;
    }
    const RegistryDocument document = HiveSession(*this, m_warn, false).LoadForRead();
    const detail::StoredKey* key = document.FindKey(*full);
    const detail::StoredValue* value = key != nullptr ? key->FindValue(name) : nullptr;
    if (value == nullptr || value->foreignText) {
        return std::nullopt;
    }
    return value->value;
}

namespace {

// Puts one value into the loaded document, creating its key when missing.
void PutValue(RegistryDocument& document, std::string_view rootName, const std::string& fullPath,
              std::string_view name, const RegistryValue& value) {
    detail::StoredKey& key = document.CreateKey(rootName, fullPath);
    detail::StoredValue* stored = key.FindValue(name);
    if (stored == nullptr) {
        stored = &key.values.emplace_back(detail::StoredValue{std::string(name), {}, {}});
    }
    // Keep only the member the type uses, so the file holds nothing stale.
    stored->value = RegistryValue{value.type, {}, 0, {}};
    switch (value.type) {
        case RegistryValueType::String:
            stored->value.text = value.text;
            break;
        case RegistryValueType::Dword:
            stored->value.number = value.number;
            break;
        case RegistryValueType::Binary:
            stored->value.bytes = value.bytes;
            break;
    }
    stored->foreignText.reset();
}

}  // namespace

void RegistryStore::SetValue(std::string_view keyPath, std::string_view name,
                             const RegistryValue& value) {
    const std::string full = FullPathOrThrow(HiveRootName(m_hive), keyPath);
    HiveSession session(*this, m_warn, true);
    RegistryDocument document = session.LoadForWrite();
    PutValue(document, HiveRootName(m_hive), full, name, value);
    session.Store(document);
}

void RegistryStore::SetValues(std::span<const RegistryChange> changes) {
    if (changes.empty()) {
        return;
    }
    std::vector<std::string> fullPaths;
    fullPaths.reserve(changes.size());
    for (const RegistryChange& change : changes) {
        fullPaths.push_back(FullPathOrThrow(HiveRootName(m_hive), change.keyPath));
    }
    HiveSession session(*this, m_warn, true);
    RegistryDocument document = session.LoadForWrite();
    for (std::size_t i = 0; i < changes.size(); ++i) {
        PutValue(document, HiveRootName(m_hive), fullPaths[i], changes[i].name, changes[i].value);
    }
    session.Store(document);
}

bool RegistryStore::DeleteValue(std::string_view keyPath, std::string_view name) {
    const std::string full = FullPathOrThrow(HiveRootName(m_hive), keyPath);
    HiveSession session(*this, m_warn, true);
    RegistryDocument document = session.LoadForWrite();
    detail::StoredKey* key = document.FindKey(full);
    if (key == nullptr) {
        return false;
    }
    const auto removed = std::erase_if(key->values, [&](const detail::StoredValue& v) {
        return detail::RegistryNamesEqual(v.name, name);
    });
    if (removed == 0) {
        return false;
    }
    session.Store(document);
    return true;
}

std::vector<std::string> RegistryStore::SubKeyNames(std::string_view keyPath) const {
    const auto full = FullPath(HiveRootName(m_hive), keyPath);
    if (!full) {
        return {};
    }
    return HiveSession(*this, m_warn, false).LoadForRead().SubKeyNames(*full);
}

std::vector<std::string> RegistryStore::ValueNames(std::string_view keyPath) const {
    const auto full = FullPath(HiveRootName(m_hive), keyPath);
    if (!full) {
        return {};
    }
    const RegistryDocument document = HiveSession(*this, m_warn, false).LoadForRead();
    std::vector<std::string> names;
    if (const detail::StoredKey* key = document.FindKey(*full)) {
        for (const detail::StoredValue& value : key->values) {
            names.push_back(value.name);
        }
    }
    return names;
}

RegistryKey::RegistryKey(RegistryStore store, std::string path)
    : m_store(std::move(store)), m_path(std::move(path)) {}

std::optional<RegistryKey> RegistryKey::Open(RegistryStore store, std::string_view keyPath) {
    if (!store.KeyExists(keyPath)) {
        return std::nullopt;
    }
    return RegistryKey(std::move(store), std::string(keyPath));
}

std::optional<RegistryKey> RegistryKey::Open(Hive hive, std::string_view keyPath) {
    return Open(RegistryStore::ForHive(hive), keyPath);
}

RegistryKey RegistryKey::Create(RegistryStore store, std::string_view keyPath) {
    store.CreateKey(keyPath);
    return RegistryKey(std::move(store), std::string(keyPath));
}

RegistryKey RegistryKey::Create(Hive hive, std::string_view keyPath) {
    return Create(RegistryStore::ForHive(hive), keyPath);
}

std::optional<std::string> RegistryKey::QueryString(std::string_view name) const {
    auto value = m_store.QueryValue(m_path, name);
    if (!value || value->type != RegistryValueType::String) {
        return std::nullopt;
    }
    return std::move(value->text);
}

std::optional<std::uint32_t> RegistryKey::QueryDword(std::string_view name) const {
    const auto value = m_store.QueryValue(m_path, name);
    if (!value || value->type != RegistryValueType::Dword) {
        return std::nullopt;
    }
    return value->number;
}

std::optional<std::vector<std::uint8_t>> RegistryKey::QueryBinary(std::string_view name) const {
    auto value = m_store.QueryValue(m_path, name);
    if (!value || value->type != RegistryValueType::Binary) {
        return std::nullopt;
    }
    return std::move(value->bytes);
}

std::string RegistryKey::GetString(std::string_view name, std::string_view defaultValue) const {
    auto value = QueryString(name);
    return value ? std::move(*value) : std::string(defaultValue);
}

std::uint32_t RegistryKey::GetDword(std::string_view name, std::uint32_t defaultValue) const {
    return QueryDword(name).value_or(defaultValue);
}

void RegistryKey::SetString(std::string_view name, std::string_view value) {
    RegistryValue stored;
    stored.type = RegistryValueType::String;
    stored.text = value;
    m_store.SetValue(m_path, name, stored);
}

void RegistryKey::SetDword(std::string_view name, std::uint32_t value) {
    RegistryValue stored;
    stored.type = RegistryValueType::Dword;
    stored.number = value;
    m_store.SetValue(m_path, name, stored);
}

void RegistryKey::SetBinary(std::string_view name, std::span<const std::uint8_t> value) {
    RegistryValue stored;
    stored.type = RegistryValueType::Binary;
    stored.bytes.assign(value.begin(), value.end());
    m_store.SetValue(m_path, name, stored);
}

bool RegistryKey::DeleteValue(std::string_view name) {
    return m_store.DeleteValue(m_path, name);
}

std::vector<std::string> RegistryKey::SubKeyNames() const {
    return m_store.SubKeyNames(m_path);
}

std::vector<std::string> RegistryKey::ValueNames() const {
    return m_store.ValueNames(m_path);
}

}  // namespace talvorine::platform

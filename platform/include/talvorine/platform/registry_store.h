#pragma once
// The registry store: a file-backed stand-in for the Windows registry with its model of
// keys (case-insensitive paths) and typed values, one exported-registry-format file per hive.
//
// Every operation re-reads the hive file (under a shared flock) so that several processes
// sharing a hive see each other's changes; every change is a read-modify-write under an
// exclusive flock, written to a temporary file in the same folder and renamed over the hive.
// A hive file that cannot be parsed is renamed aside ("<file>.damaged-YYYYmmdd-HHMMSS"),
// reported through the warning handler, and treated as empty; it is never overwritten.
//
// The lock is taken on "<file>.lock" beside the hive, which is never renamed. Files are read
// as UTF-8 with CRLF or LF line ends and written with LF; strings escape \\ and \" as exports
// do, and \n, \r, \0 for the control characters a line cannot hold.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace talvorine::platform {

enum class Hive {
    LocalMachine,  // /etc/talvorine/machine.reg
    CurrentUser,   // $XDG_CONFIG_HOME/talvorine/user.reg
};

// The hive's file: $TALVORINE_REGISTRY_DIR/{machine,user}.reg when that variable is set.
std::filesystem::path HiveFile(Hive hive);

// The root key name written in the file for a hive ("HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER").
std::string_view HiveRootName(Hive hive);

class RegistryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class RegistryValueType { String, Dword, Binary };

struct RegistryValue {
    RegistryValueType type = RegistryValueType::String;
    std::string text;                 // String
    std::uint32_t number = 0;         // Dword
    std::vector<std::uint8_t> bytes;  // Binary
};

// One value to set, for a batch of changes written together.
struct RegistryChange {
    std::string keyPath;
    std::string name;
    RegistryValue value;
};

// One hive file. Cheap to construct; holds only the path.
//
// Key paths are relative to the hive's root ("Software\\Talvorine\\Messenger"); empty
// segments are ignored, so a trailing separator names the same key; "" is the root itself.
// Key and value names compare without regard to ASCII case and keep the case they were first
// created with; the empty value name is the key's default value ("@" in the file). A key name
// cannot hold a line break or NUL (RegistryError on writing, "missing" on reading).
class RegistryStore {
public:
    // The root name written in the file follows the file name: "machine.reg" holds
    // HKEY_LOCAL_MACHINE, any other file HKEY_CURRENT_USER.
    explicit RegistryStore(std::filesystem::path file);
    RegistryStore(std::filesystem::path file, Hive hive);
    static RegistryStore ForHive(Hive hive);

    const std::filesystem::path& File() const { return m_file; }
    Hive FileHive() const { return m_hive; }

    // Called with a clear message when a damaged file is set aside. Default: stderr.
    using WarningHandler = std::function<void(const std::string&)>;
    void SetWarningHandler(WarningHandler handler) { m_warn = std::move(handler); }

    bool KeyExists(std::string_view keyPath) const;
    // Creates the key and its missing parents. Throws RegistryError when the file cannot be
    // written.
    void CreateKey(std::string_view keyPath);
    // Deletes the key with its values and subkeys; false when it did not exist. Throws
    // RegistryError when the file cannot be written or the path names the hive's root.
    bool DeleteKey(std::string_view keyPath);

    std::optional<RegistryValue> QueryValue(std::string_view keyPath, std::string_view name) const;
    // Sets a value, creating the key when missing. Throws RegistryError on failure.
    void SetValue(std::string_view keyPath, std::string_view name, const RegistryValue& value);
    // False when the value did not exist. Throws RegistryError when the file cannot be written.
    // Sets every value (creating keys when missing) in one read-modify-write of the file: all
    // of them land or, when the file cannot be written (RegistryError), none.
    void SetValues(std::span<const RegistryChange> changes);
    bool DeleteValue(std::string_view keyPath, std::string_view name);

    std::vector<std::string> SubKeyNames(std::string_view keyPath) const;
    std::vector<std::string> ValueNames(std::string_view keyPath) const;

private:
    std::filesystem::path m_file;
    Hive m_hive = Hive::CurrentUser;
    WarningHandler m_warn;
};

// An open key, as RegOpenKeyEx/RegCreateKeyEx give one. Absent values give the caller's
// default; values of another type count as absent.
class RegistryKey {
public:
    // nullopt when the key does not exist (the registry's "open" fails).
    static std::optional<RegistryKey> Open(RegistryStore store, std::string_view keyPath);
    static std::optional<RegistryKey> Open(Hive hive, std::string_view keyPath);
    // Opens the key, creating it when missing; throws RegistryError when it cannot be created.
    static RegistryKey Create(RegistryStore store, std::string_view keyPath);
    static RegistryKey Create(Hive hive, std::string_view keyPath);

    const std::string& Path() const { return m_path; }

    std::optional<std::string> QueryString(std::string_view name) const;
    std::optional<std::uint32_t> QueryDword(std::string_view name) const;
    std::optional<std::vector<std::uint8_t>> QueryBinary(std::string_view name) const;

    std::string GetString(std::string_view name, std::string_view defaultValue) const;
    std::uint32_t GetDword(std::string_view name, std::uint32_t defaultValue) const;

    void SetString(std::string_view name, std::string_view value);
    void SetDword(std::string_view name, std::uint32_t value);
    void SetBinary(std::string_view name, std::span<const std::uint8_t> value);
    bool DeleteValue(std::string_view name);

    std::vector<std::string> SubKeyNames() const;
    std::vector<std::string> ValueNames() const;

private:
    RegistryKey(RegistryStore store, std::string path);
    RegistryStore m_store;
    std::string m_path;
};

}  // namespace talvorine::platform

#pragma once
// The poller's settings and mail accounts in the user hive under "Software\\Talvorine\\PostSentry",
// with the account titles kept in list order in the binary value "MailAccount".

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "talvorine/platform/registry_store.h"

namespace talvorine::mailpoll {

inline constexpr std::string_view PostSentryKey = "Software\\Talvorine\\PostSentry";
inline constexpr std::uint16_t DefaultPop3Port = 110;
inline constexpr std::uint32_t DefaultReplyTimeoutSeconds = 60;
inline constexpr std::size_t MaxPasswordBytes = 16;

struct MailAccount {
    std::string title;
    std::string server;
    std::string account;
    std::string password;  // at most 16 bytes
    std::uint16_t port = DefaultPop3Port;
    std::uint32_t timeoutSeconds = DefaultReplyTimeoutSeconds;

    friend bool operator==(const MailAccount&, const MailAccount&) = default;
};

struct PostSentrySettings {
    bool autoCheck = true;
    std::uint32_t intervalMinutes = 15;
    bool popup = false;

    friend bool operator==(const PostSentrySettings&, const PostSentrySettings&) = default;
};

// The "MailAccount" value: a count, then each title with a length prefix (short and long forms).
std::vector<std::uint8_t> EncodeTitleList(std::span<const std::string> titles);
// nullopt when a length runs past the end of the bytes.
std::optional<std::vector<std::string>> DecodeTitleList(std::span<const std::uint8_t> bytes);

class MailStore {
public:
    explicit MailStore(platform::RegistryStore store);
    // The current user's hive.
    MailStore();

    // Defaults where the key or a value is missing.
    PostSentrySettings LoadSettings() const;
    // The accounts in list order; an account whose key lacks "Server" or "Account" is skipped.
    std::vector<MailAccount> LoadAccounts() const;
    // Writes the settings, deletes the keys of the titles stored before and writes every
    // account and the new title list. Throws platform::RegistryError when the hive cannot be
    // written.
    void Save(const PostSentrySettings& settings, std::span<const MailAccount> accounts) const;

private:
    std::vector<std::string> StoredTitles() const;
    mutable platform::RegistryStore m_store;  // holds only the path
};

}  // namespace talvorine::mailpoll

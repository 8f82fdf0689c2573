#include "talvorine/mailpoll/mail_store.h"

#include <limits>

#include "talvorine/platform/password_cipher.h"
#include "talvorine/platform/text.h"

namespace talvorine::mailpoll {

namespace {

using platform::RegistryKey;

void PutLittleEndian(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

// Reads little-endian numbers and byte runs, refusing to read past the end.
class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    std::optional<std::uint32_t> Number(int bytes) {
        if (m_bytes.size() - m_at < static_cast<std::size_t>(bytes)) {
            return std::nullopt;
        }
        std::uint32_t value = 0;
        for (int i = 0; i < bytes; ++i) {
            value |= std::uint32_t{m_bytes[m_at++]} << (8 * i);
        }
        return value;
    }

    std::optional<std::string> Text(std::size_t length) {
        if (m_bytes.size() - m_at < length) {
            return std::nullopt;
        }
        std::string text(reinterpret_cast<const char*>(m_bytes.data() + m_at), length);
        m_at += length;
        return text;
    }

    std::size_t Remaining() const { return m_bytes.size() - m_at; }

private:
    std::span<const std::uint8_t> m_bytes;
    std::size_t m_at = 0;
};

std::string AccountKey(std::string_view title) {
    return std::string(PostSentryKey) + "\\" + std::string(title);
}

std::uint16_t StoredPort(std::uint32_t value) {
    return value >= 1 && value <= std::numeric_limits<std::uint16_t>::max()
               ? static_cast<std::uint16_t>(value)
               : DefaultPop3Port;
}

}  // namespace

std::vector<std::uint8_t> EncodeTitleList(std::span<const std::string> titles) {
    std::vector<std::uint8_t> out;
    if (titles.size() < 0xFFFF) {
        PutLittleEndian(out, titles.size(), 2);
    } else {
        PutLittleEndian(out, 0xFFFF, 2);
        PutLittleEndian(out, titles.size(), 4);
    }
    for (const std::string& title : titles) {
        const std::size_t length = title.size();
        if (length < 0xFF) {
            out.push_back(static_cast<std::uint8_t>(length));
        } else if (length < 0xFFFE) {
            out.push_back(0xFF);
            PutLittleEndian(out, length, 2);
        } else {
            out.push_back(0xFF);
            PutLittleEndian(out, 0xFFFF, 2);
            PutLittleEndian(out, length, 4);
        }
        out.insert(out.end(), title.begin(), title.end());
    }
    return out;
}

std::optional<std::vector<std::string>> DecodeTitleList(std::span<const std::uint8_t> bytes) {
    ByteReader reader(bytes);
    auto count = reader.Number(2);
    if (count && *count == 0xFFFF) {
        count = reader.Number(4);
    }
    if (!count) {
        return std::nullopt;
    }
    std::vector<std::string> titles;
    // Every title takes at least one byte, so a count beyond the bytes left is damage; checking
    // first keeps a damaged count from reserving gigabytes.
    if (*count > reader.Remaining()) {
        return std::nullopt;
    }
    titles.reserve(*count);
    for (std::uint32_t i = 0; i < *count; ++i) {
        auto length = reader.Number(1);
        if (length && *length == 0xFF) {
            length = reader.Number(2);
            if (length && *length == 0xFFFF) {
                length = reader.Number(4);
            }
        }
        if (!length) {
            return std::nullopt;
        }
        auto title = reader.Text(*length);
        if (!title) {
            return std::nullopt;
        }
        titles.push_back(std::move(*title));
    }
    return titles;
}

MailStore::MailStore(platform::RegistryStore store) : m_store(std::move(store)) {}

MailStore::MailStore() : MailStore(platform::RegistryStore::ForHive(platform::Hive::CurrentUser)) {}

PostSentrySettings MailStore::LoadSettings() const {
    PostSentrySettings settings;
    const auto key = RegistryKey::Open(m_store, PostSentryKey);
    if (!key) {
        return settings;
    }
    settings.autoCheck = key->GetDword("AutoCheck", 1) != 0;
    settings.intervalMinutes = key->GetDword("Interval", 15);
    settings.popup = key->GetDword("Popup", 0) != 0;
    return settings;
}

std::vector<std::string> MailStore::StoredTitles() const {
    const auto key = RegistryKey::Open(m_store, PostSentryKey);
    if (!key) {
        return {};
    }
    const auto bytes = key->QueryBinary("MailAccount");
    if (!bytes) {
        return {};
    }
    return DecodeTitleList(*bytes).value_or(std::vector<std::string>{});
}

std::vector<MailAccount> MailStore::LoadAccounts() const {
    std::vector<MailAccount> accounts;
    for (const std::string& title : StoredTitles()) {
        const auto key = RegistryKey::Open(m_store, AccountKey(title));
        if (!key) {
            continue;
        }
        auto server = key->QueryString("Server");
        auto account = key->QueryString("Account");
        if (!server || !account) {
            continue;
        }
        MailAccount mail;
        mail.title = title;
        mail.server = std::move(*server);
        mail.account = std::move(*account);
        if (const auto stored = key->QueryBinary("Password");
            stored && stored->size() == platform::StoredPasswordSize) {
            mail.password = platform::DecipherPassword(
                std::span<const std::uint8_t, platform::StoredPasswordSize>(stored->data(),
                                                                            stored->size()));
        }
        mail.port = StoredPort(key->GetDword("Port", DefaultPop3Port));
        mail.timeoutSeconds = key->GetDword("Timeout", DefaultReplyTimeoutSeconds);
        if (mail.timeoutSeconds == 0) {
            mail.timeoutSeconds = DefaultReplyTimeoutSeconds;  // a zero time-out fails every read
        }
        accounts.push_back(std::move(mail));
    }
    return accounts;
}

void MailStore::Save(const PostSentrySettings& settings,
                     std::span<const MailAccount> accounts) const {
    auto root = RegistryKey::Create(m_store, PostSentryKey);
    root.SetDword("AutoCheck", settings.autoCheck ? 1 : 0);
    root.SetDword("Interval", settings.intervalMinutes);
    root.SetDword("Popup", settings.popup ? 1 : 0);

    for (const std::string& title : StoredTitles()) {
        m_store.DeleteKey(AccountKey(title));
    }
    std::vector<std::string> titles;
    titles.reserve(accounts.size());
    for (const MailAccount& mail : accounts) {
        auto key = RegistryKey::Create(m_store, AccountKey(mail.title));
        key.SetString("Server", mail.server);
        key.SetString("Account", mail.account);
        key.SetDword("Port", mail.port);
        key.SetDword("Timeout", mail.timeoutSeconds);
        const auto stored =
            platform::EncipherPassword(platform::CutUtf8(mail.password, MaxPasswordBytes));
        key.SetBinary("Password", stored);
        titles.push_back(mail.title);
    }
    const auto list = EncodeTitleList(titles);
    root.SetBinary("MailAccount", list);
}

}  // namespace talvorine::mailpoll

#include "talvorine/client/data/client_settings.h"

#include <algorithm>
#include <vector>

#include "no_case.h"
#include "talvorine/client/data/accounts.h"
#include "talvorine/platform/registry_store.h"

namespace talvorine::client::data {

using platform::Hive;
using platform::RegistryChange;
using platform::RegistryKey;
using platform::RegistryStore;
using platform::RegistryValue;
using platform::RegistryValueType;

const std::array<SoundEventInfo, SoundEventCount> SoundEvents = {{
    {SoundEvent::Startup, "Startup", "Startup.wav", false},
    {SoundEvent::IncomingMessage, "Incoming Message", "Message.wav", true},
    {SoundEvent::MessageSent, "Message Sent", "MsgSent.wav", true},
    {SoundEvent::ChatRequest, "Chat Request", "Chat.wav", true},
    {SoundEvent::FileRequest, "File Request", "File.wav", true},
    {SoundEvent::NewMailArrived, "New Mail Arrived", "NewMail.wav", true},
    {SoundEvent::FileSent, "File Sent", "FileSent.wav", true},
    {SoundEvent::UserOnline, "User Online", "Online.wav", true},
    {SoundEvent::Shutdown, "Shutdown", "Shutdown.wav", false},
}};

namespace {

constexpr std::string_view General = "Settings\\General";
constexpr std::string_view Network = "Settings\\Network";
constexpr std::string_view ContactListSection = "Settings\\ContactList";
constexpr std::string_view Sounds = "Settings\\Sounds\\";
constexpr std::string_view File = "Settings\\File\\";

// The full key of a section; a trailing backslash names the same key.
std::string KeyPath(std::string_view section) {
    std::string path = std::string(ClientRegistryRoot) + "\\" + std::string(section);
    while (!path.empty() && path.back() == '\\') {
        path.pop_back();
    }
    return path;
}

// One section opened for reading; every value falls back to its default.
class Reader {
public:
    explicit Reader(std::string_view section) {
        try {
            m_key = RegistryKey::Open(Hive::CurrentUser, KeyPath(section));
        } catch (const std::exception&) {
        }
    }
    std::uint32_t Dword(std::string_view name, std::uint32_t fallback) const {
        try {
            return m_key ? m_key->GetDword(name, fallback) : fallback;
        } catch (const std::exception&) {
            return fallback;
        }
    }
    bool Bool(std::string_view name, bool fallback) const { return Dword(name, fallback) != 0; }
    int Int(std::string_view name, int fallback) const {
        return static_cast<int>(Dword(name, static_cast<std::uint32_t>(fallback)));
    }
    std::string String(std::string_view name, std::string_view fallback) const {
        try {
            return m_key ? m_key->GetString(name, fallback) : std::string(fallback);
        } catch (const std::exception&) {
            return std::string(fallback);
        }
    }

private:
    mutable std::optional<RegistryKey> m_key;
};

// Values collected and written to the user hive in one rewrite of the file when the batch
// ends, instead of one locked, synced rewrite per value; a failed write is dropped, as a failed
// settings write always is.
class WriteBatch {
public:
    WriteBatch() = default;
    WriteBatch(const WriteBatch&) = delete;
    WriteBatch& operator=(const WriteBatch&) = delete;
    ~WriteBatch() {
        try {
            RegistryStore::ForHive(Hive::CurrentUser).SetValues(m_changes);
        } catch (const std::exception&) {
        }
    }

    void Add(std::string_view section, std::string_view name, RegistryValue value) {
        m_changes.push_back({KeyPath(section), std::string(name), std::move(value)});
    }

private:
    std::vector<RegistryChange> m_changes;
};

// One section of a batch.
class Writer {
public:
    Writer(WriteBatch& batch, std::string_view section) : m_batch(batch), m_section(section) {}
    void Dword(std::string_view name, std::uint32_t value) const {
        m_batch.Add(m_section, name, RegistryValue{RegistryValueType::Dword, {}, value, {}});
    }
    void Bool(std::string_view name, bool value) const { Dword(name, value ? 1 : 0); }
    void Int(std::string_view name, int value) const {
        Dword(name, static_cast<std::uint32_t>(value));
    }
    void String(std::string_view name, std::string_view value) const {
        m_batch.Add(m_section, name,
                    RegistryValue{RegistryValueType::String, std::string(value), 0, {}});
    }

private:
    WriteBatch& m_batch;
    std::string m_section;
};

std::string SoundSection(const SoundEventInfo& event) {
    return std::string(Sounds) + std::string(event.name);
}

struct WindowDefault {
    std::string_view section;
    std::string_view name;
    std::uint32_t value;
};

constexpr WindowDefault WindowDefaults[] = {
    {WindowSection::Window, "AppBarMode", 0},
    {WindowSection::Window, "AppBarEdge", 2},
    {WindowSection::Window, "AppBarSizeLeft", 100},
    {WindowSection::Window, "AppBarSizeRight", 100},
    {WindowSection::Window, "TrayIconOnly", 0},
    {WindowSection::ContactList, "LargeIcons", 0},
    {WindowSection::SendMessage, "Multiple", 0},
    {WindowSection::SendMessage, "Send Offline Message", 1},
    {WindowSection::SendMessage, "Prompt", 0},
    {WindowSection::SendMessage, "Word Wrap", 1},
    {WindowSection::ShutDown, "Prompt", 1},
    {WindowSection::ReceivedMessageHistory, "Splitter Pos", 150},
    {WindowSection::ReceivedMessageHistory, "Col1", 150},
    {WindowSection::ReceivedMessageHistory, "Col2", 200},
    {WindowSection::ReceivedMessageHistory, "Word Wrap", 1},
    {WindowSection::SentMessageHistory, "Splitter Pos", 150},
    {WindowSection::SentMessageHistory, "Col1", 150},
    {WindowSection::SentMessageHistory, "Col2", 200},
    {WindowSection::SentMessageHistory, "Word Wrap", 1},
    {WindowSection::ChatHistory, "Col1", 80},
    {WindowSection::ChatHistory, "Col2", 80},
    {WindowSection::ChatHistory, "Col3", 150},
    {WindowSection::ChatHistory, "Col4", 70},
    {WindowSection::ChatHistory, "Col5", 140},
    {WindowSection::FileTransferHistory, "Col1", 80},
    {WindowSection::FileTransferHistory, "Col2", 80},
    {WindowSection::FileTransferHistory, "Col3", 150},
    {WindowSection::FileTransferHistory, "Col4", 50},
    {WindowSection::FileTransferHistory, "Col5", 150},
    {WindowSection::FileTransferHistory, "Col6", 120},
    {WindowSection::FileTransferHistory, "Col7", 150},
    {WindowSection::FileTransferHistory, "Show Outgoing", 1},
    {WindowSection::FileTransferHistory, "Show Incoming", 1},
};

}  // namespace

std::optional<std::string> TrimServerAddress(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    return std::string(text);
}

std::array<SoundEntry, SoundEventCount> DefaultSoundEntries() {
    std::array<SoundEntry, SoundEventCount> entries;
    const auto folder = AccountRoot() / "Sound";
    for (std::size_t i = 0; i < SoundEventCount; ++i) {
        entries[i] = {SoundEvents[i].defaultPlay, (folder / SoundEvents[i].defaultFile).string()};
    }
    return entries;
}

ClientSettings ClientSettings::Defaults() {
    ClientSettings settings;
    settings.defaultSounds = DefaultSoundEntries();
    settings.sounds = settings.defaultSounds;
    settings.filePath = (AccountRoot() / "Received Files").string();
    return settings;
}

ClientSettings ClientSettings::Load() {
    ClientSettings s = Defaults();
    {
        Reader r(General);
        s.popupViewer = r.Bool("Popup message viewer", s.popupViewer);
        s.closeViewerOnReply = r.Bool("Close message viewer on reply", s.closeViewerOnReply);
        s.minimizeOnSend = r.Bool("Minimize dialog on send", s.minimizeOnSend);
        s.markAsRead = r.Bool("Mark as read", s.markAsRead);
        s.markAsReadInterval = r.Int("Mark as read interval", s.markAsReadInterval);
        s.windowAnimation = r.Bool("Window Animation", s.windowAnimation);
        s.propertyPageAnimation = r.Bool("PropertyPage Animation", s.propertyPageAnimation);
        // Unsigned on purpose: a negative stored value is a large one and becomes the maximum.
        s.animationTime =
            std::clamp(r.Dword("Animation Time", s.animationTime), SettingLimits::AnimationTimeMin,
                       SettingLimits::AnimationTimeMax);
    }
    {
        Reader r(Network);
        s.server = r.String("Server", s.server);
        s.port = r.Int("Port", s.port);
        s.autoConnect = r.Bool("AutoConnect", s.autoConnect);
        s.connectInterval = r.Int("ConnectInterval", s.connectInterval);
    }
    {
        Reader r(ContactListSection);
        s.alwaysOnTop = r.Bool("AlwaysOnTop", s.alwaysOnTop);
        s.autoPopup = r.Bool("AutoPopup", s.autoPopup);
        s.taskbarStyle = r.Bool("TaskbarStyle", s.taskbarStyle);
        s.autoHide = r.Bool("AutoHide", s.autoHide);
    }
    for (std::size_t i = 0; i < SoundEventCount; ++i) {
        Reader r(SoundSection(SoundEvents[i]));
        s.sounds[i].play = r.Bool("PlaySound", s.defaultSounds[i].play);
        s.sounds[i].file = r.String("Sound", s.defaultSounds[i].file);
    }
    s.noSound = Reader(Sounds).Bool("NoSound", s.noSound);
    {
        Reader r(File);
        s.acceptMode = static_cast<AcceptMode>(r.Int("AcceptMode", static_cast<int>(s.acceptMode)));
        s.overwriteMode =
            static_cast<OverwriteMode>(r.Int("OverwriteMode", static_cast<int>(s.overwriteMode)));
        s.useUserName = r.Bool("UseUserName", s.useUserName);
        s.filePath = r.String("Path", s.filePath);
    }
    return s;
}

void ClientSettings::Save() const {
    WriteBatch batch;
    {
        Writer w(batch, General);
        w.Bool("Popup message viewer", popupViewer);
        w.Bool("Close message viewer on reply", closeViewerOnReply);
        w.Bool("Minimize dialog on send", minimizeOnSend);
        w.Bool("Mark as read", markAsRead);
        w.Int("Mark as read interval", markAsReadInterval);
        w.Bool("Window Animation", windowAnimation);
        w.Bool("PropertyPage Animation", propertyPageAnimation);
        w.Dword("Animation Time", animationTime);
    }
    {
        Writer w(batch, Network);
        w.String("Server", server);
        w.Int("Port", port);
        w.Bool("AutoConnect", autoConnect);
        w.Int("ConnectInterval", connectInterval);
    }
    {
        Writer w(batch, ContactListSection);
        w.Bool("AlwaysOnTop", alwaysOnTop);
        w.Bool("AutoPopup", autoPopup);
        w.Bool("TaskbarStyle", taskbarStyle);
        w.Bool("AutoHide", autoHide);
    }
    for (std::size_t i = 0; i < SoundEventCount; ++i) {
        Writer w(batch, SoundSection(SoundEvents[i]));
        w.Bool("PlaySound", sounds[i].play);
        w.String("Sound", sounds[i].file);
    }
    Writer(batch, Sounds).Bool("NoSound", noSound);
    {
        Writer w(batch, File);
        w.Int("AcceptMode", static_cast<int>(acceptMode));
        w.Int("OverwriteMode", static_cast<int>(overwriteMode));
        w.Bool("UseUserName", useUserName);
        w.String("Path", filePath);
    }
}

std::optional<std::filesystem::path> ClientSettings::SoundToPlay(int eventNumber) const {
    const int entry = eventNumber - FirstSoundEvent;
    if (noSound || entry < 0 || entry >= static_cast<int>(SoundEventCount)) {
        return std::nullopt;
    }
    const SoundEntry& sound = sounds[static_cast<std::size_t>(entry)];
    if (!sound.play || sound.file.empty()) {
        return std::nullopt;
    }
    return std::filesystem::path(sound.file);
}

std::optional<std::uint32_t> WindowValueDefault(std::string_view section, std::string_view name) {
    for (const WindowDefault& value : WindowDefaults) {
        if (detail::EqualsNoCase(value.section, section) &&
            detail::EqualsNoCase(value.name, name)) {
            return value.value;
        }
    }
    return std::nullopt;
}

WindowSettings::WindowSettings(std::string_view section) : m_section(section) {}

std::uint32_t WindowSettings::GetDword(std::string_view name, std::uint32_t defaultValue) const {
    return Reader(m_section).Dword(name, defaultValue);
}

std::uint32_t WindowSettings::GetDword(std::string_view name) const {
    return GetDword(name, WindowValueDefault(m_section, name).value_or(0));
}

std::string WindowSettings::GetString(std::string_view name, std::string_view defaultValue) const {
    return Reader(m_section).String(name, defaultValue);
}

void WindowSettings::SetDword(std::string_view name, std::uint32_t value) const {
    WriteBatch batch;
    Writer(batch, m_section).Dword(name, value);
}

void WindowSettings::SetString(std::string_view name, std::string_view value) const {
    WriteBatch batch;
    Writer(batch, m_section).String(name, value);
}

std::string WindowSettings::AwayText() {
    return WindowSettings(WindowSection::Status).GetString("Away", DefaultAwayText);
}

void WindowSettings::SetAwayText(std::string_view text) {
    WindowSettings(WindowSection::Status).SetString("Away", text);
}

bool IsPlacementVisible(const Rect& rect, int screenWidth, int screenHeight) {
    // 64-bit so that stored extremes cannot overflow.
    const long long left = std::max<long long>(rect.left, 0);
    const long long top = std::max<long long>(rect.top, 0);
    const long long right = std::min<long long>(rect.right, screenWidth);
    const long long bottom = std::min<long long>(rect.bottom, screenHeight);
    return right - left >= MinimumVisiblePixels && bottom - top >= MinimumVisiblePixels;
}

Rect ChoosePlacement(const Rect& stored, const Rect& present, int screenWidth, int screenHeight) {
    return IsPlacementVisible(stored, screenWidth, screenHeight) ? stored : present;
}

Rect LoadWindowRect(std::string_view section, const Rect& present) {
    Reader r(section);
    return {r.Int("Left", present.left), r.Int("Top", present.top), r.Int("Right", present.right),
            r.Int("Bottom", present.bottom)};
}

Rect RestoreWindowPlacement(std::string_view section, const Rect& present, int screenWidth,
                            int screenHeight) {
    return ChoosePlacement(LoadWindowRect(section, present), present, screenWidth, screenHeight);
}

void SaveWindowPlacement(std::string_view section, const Rect& normalRect) {
    WriteBatch batch;
    Writer w(batch, section);
    w.Int("Left", normalRect.left);
    w.Int("Top", normalRect.top);
    w.Int("Right", normalRect.right);
    w.Int("Bottom", normalRect.bottom);
}

}  // namespace talvorine::client::data

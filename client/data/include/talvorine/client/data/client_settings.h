#pragma once
// The client's preferences in the current user's registry hive under
// "Software\\Talvorine\\Messenger": ClientSettings (read once at start-up, written once at
// exit), the event-sound table, the small values single windows keep, and window placement.
// Registry failures are not reported: an unreadable value gives its default, a value that
// cannot be written is lost.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace talvorine::client::data {

// Ranges the options pages enforce (loading takes stored values as they are, except the
// animation time, which is clamped on reading).
namespace SettingLimits {
inline constexpr std::uint32_t AnimationTimeMin = 100;
inline constexpr std::uint32_t AnimationTimeMax = 1000;
inline constexpr int MarkAsReadIntervalMin = 0;
inline constexpr int MarkAsReadIntervalMax = 3600;
// Account requests go to port + 1, so the session port stops one short of the last port;
// the server accepts the same range.
inline constexpr int PortMin = 1;
inline constexpr int PortMax = 65534;
inline constexpr int ConnectIntervalMin = 5;
inline constexpr int ConnectIntervalMax = 3600;
inline constexpr std::size_t ServerMaxLength = 255;
inline constexpr std::size_t FilePathMaxLength = 255;
}  // namespace SettingLimits

inline constexpr std::string_view InvalidServerAddressText = "Invalid server address";
inline constexpr std::string_view NetworkSettingsCaption = "Network Settings";
inline constexpr std::string_view OptionsCaption = "Options";

// The server text as the Network page leaves it: blanks trimmed on both sides; nullopt when
// nothing is left (the page shows InvalidServerAddressText).
std::optional<std::string> TrimServerAddress(std::string_view text);

// Event numbers (string resources); the number minus 65000 indexes the sound entries.
namespace SoundEvent {
inline constexpr int Startup = 65000;
inline constexpr int IncomingMessage = 65001;
inline constexpr int MessageSent = 65002;
inline constexpr int ChatRequest = 65003;
inline constexpr int FileRequest = 65004;
inline constexpr int NewMailArrived = 65005;
inline constexpr int FileSent = 65006;
inline constexpr int UserOnline = 65007;
inline constexpr int Shutdown = 65008;
}  // namespace SoundEvent

inline constexpr int FirstSoundEvent = 65000;
inline constexpr std::size_t SoundEventCount = 9;

struct SoundEventInfo {
    int number;
    std::string_view name;         // section "Settings\\Sounds\\<name>"
    std::string_view defaultFile;  // in "<AccountRoot>/Sound"
    bool defaultPlay;
};
extern const std::array<SoundEventInfo, SoundEventCount> SoundEvents;

struct SoundEntry {
    bool play = false;
    std::string file;

    bool operator==(const SoundEntry&) const = default;
};

// The nine entries "&Reset all" restores: each event's default flag and
// "<AccountRoot>/Sound/<file>".
std::array<SoundEntry, SoundEventCount> DefaultSoundEntries();

enum class AcceptMode : int { Ask = 0, Accept = 1, Decline = 2 };
enum class OverwriteMode : int { Overwrite = 0, Rename = 1, Ask = 2 };

struct ClientSettings {
    // General
    bool popupViewer = false;
    bool closeViewerOnReply = true;
    bool minimizeOnSend = true;
    bool markAsRead = true;
    int markAsReadInterval = 1;  // seconds
    bool windowAnimation = true;
    bool propertyPageAnimation = true;
    std::uint32_t animationTime = 200;  // milliseconds, 100 .. 1000
    // Network
    std::string server;
    int port = 8000;
    bool autoConnect = true;
    int connectInterval = 5;  // seconds
    // Contact list
    bool alwaysOnTop = true;
    bool autoPopup = false;
    bool taskbarStyle = true;
    bool autoHide = true;
    // Sounds
    std::array<SoundEntry, SoundEventCount> sounds;
    std::array<SoundEntry, SoundEventCount> defaultSounds;  // not stored
    bool noSound = false;
    // File transfer
    AcceptMode acceptMode = AcceptMode::Ask;
    OverwriteMode overwriteMode = OverwriteMode::Rename;
    bool useUserName = true;
    std::string filePath;  // default "<AccountRoot>/Received Files"

    // Every value with its default, as when nothing is stored.
    static ClientSettings Defaults();
    // Reads General, Network, Contact list, Sounds, File in that order; never writes.
    static ClientSettings Load();
    // Writes the same values in the same order (the default sound entries are not stored).
    void Save() const;

    // The file to play for an event, or nullopt when sounds are off, the event's flag is
    // clear, its file is empty or the number is not an event.
    std::optional<std::filesystem::path> SoundToPlay(int eventNumber) const;
};

// Values of single windows: read when the window opens, written when it closes.
namespace WindowSection {
inline constexpr std::string_view Window = "Window";
inline constexpr std::string_view ContactList = "ContactList";
inline constexpr std::string_view SendMessage = "SendMessage";
inline constexpr std::string_view Status = "Status";
inline constexpr std::string_view ShutDown = "Shut Down";
inline constexpr std::string_view MessageHistory = "MessageHistory";
inline constexpr std::string_view ReceivedMessageHistory = "ReceivedMessageHistory";
inline constexpr std::string_view SentMessageHistory = "SentMessageHistory";
inline constexpr std::string_view ChatHistory = "ChatHistory";
inline constexpr std::string_view FileTransferHistory = "FileTransferHistory";
}  // namespace WindowSection

inline constexpr std::string_view DefaultAwayText =
    "I've received your message. I will return shortly.";

// The default of a window value ("Window"/"AppBarEdge" 2, "ChatHistory"/"Col3" 150, ...);
// nullopt for a value no window keeps.
std::optional<std::uint32_t> WindowValueDefault(std::string_view section, std::string_view name);

// A window's section of small values.
class WindowSettings {
public:
    explicit WindowSettings(std::string_view section);
    const std::string& Section() const { return m_section; }

    // The stored DWORD, else `defaultValue`.
    std::uint32_t GetDword(std::string_view name, std::uint32_t defaultValue) const;
    // The stored DWORD, else the value's table default (0 for a value without one).
    std::uint32_t GetDword(std::string_view name) const;
    bool GetBool(std::string_view name) const { return GetDword(name) != 0; }
    std::string GetString(std::string_view name, std::string_view defaultValue) const;
    void SetDword(std::string_view name, std::uint32_t value) const;
    void SetBool(std::string_view name, bool value) const { SetDword(name, value ? 1 : 0); }
    void SetString(std::string_view name, std::string_view value) const;

    // "Status"/"Away".
    static std::string AwayText();
    static void SetAwayText(std::string_view text);

private:
    std::string m_section;
};

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool operator==(const Rect&) const = default;
};

inline constexpr int MinimumVisiblePixels = 20;

// True when the intersection of `rect` with (0, 0, screenWidth, screenHeight) is at least
// 20 pixels wide and 20 pixels high.
bool IsPlacementVisible(const Rect& rect, int screenWidth, int screenHeight);
// The rectangle a window takes on opening: the stored one when it is visible enough, else
// the present one.
Rect ChoosePlacement(const Rect& stored, const Rect& present, int screenWidth, int screenHeight);
// "Left", "Top", "Right", "Bottom" of the section, each defaulting to `present`'s value.
Rect LoadWindowRect(std::string_view section, const Rect& present);
// LoadWindowRect and ChoosePlacement together.
Rect RestoreWindowPlacement(std::string_view section, const Rect& present, int screenWidth,
                            int screenHeight);
void SaveWindowPlacement(std::string_view section, const Rect& normalRect);

}  // namespace talvorine::client::data

#pragma once
// The main window's rules that need no widget: which picture the tray icon shows on each tick,
// which status and session commands are enabled or checked, and the texts of the frame.

#include <optional>
#include <string_view>

#include "talvorine/client/data/client_settings.h"
#include "talvorine/client/session/server_session.h"
#include "talvorine/protocol/catalogue.h"

namespace talvorine::client::ui {

namespace ShellText {
inline constexpr std::string_view AlreadyRunning = "Talvorine Messenger is already running!";
inline constexpr std::string_view TrayTip = "Talvorine Messenger";
inline constexpr std::string_view SystemMenuTip = "System Menu";
inline constexpr std::string_view StatusTip = "Status";
inline constexpr std::string_view PostSentryTip = "Post Sentry";
inline constexpr std::string_view ShowWindow = "&Show Window";
inline constexpr std::string_view HideWindow = "&Hide Window";
inline constexpr std::string_view Hide = "&Hide";
inline constexpr std::string_view ExitWindow = "&Exit";
inline constexpr std::string_view Exit = "Exit";
inline constexpr std::string_view MyStatus = "My Status";
inline constexpr std::string_view Connect = "Connect";
inline constexpr std::string_view Disconnect = "Disconnect";
inline constexpr std::string_view Online = "Online";
inline constexpr std::string_view Away = "Away";
inline constexpr std::string_view NotAvailable = "N/A (Not Available)";
inline constexpr std::string_view ApplyImportAccount = "Apply / Import Account...";
inline constexpr std::string_view ChangeAccount = "Login / Chan&ge Current Account...";
inline constexpr std::string_view ChangePassword = "Change &Password...";
inline constexpr std::string_view Options = "Options...";
inline constexpr std::string_view Help = "&Help Topics";
inline constexpr std::string_view About = "About...";
inline constexpr std::string_view PostSentry = "Post Sentry";
}  // namespace ShellText

// The application-wide help topic.
inline constexpr std::string_view IndexHelpTopic = "index.htm";

enum class TrayPicture {
    Message1,
    Message2,
    Connecting1,
    Connecting2,
    Connecting3,
    Connecting4,
    Offline,
    Online,
    Away,
    NotAvailable,
};

// What the tray picture depends on at one tick.
struct TrayInputs {
    bool windowOutOfSight = false;  // hidden, or docked and slid out of view
    bool unreadMessages = false;    // some contact has unread messages
    bool connecting = false;        // a connection attempt is under way
    protocol::OnlineStatus status = protocol::OnlineStatus::Offline;
};

TrayPicture StatusPicture(protocol::OnlineStatus status);

// Chooses the tray picture on every 500 ms tick: the two message pictures in turn while the
// window is out of sight and something is unread; else the four connecting pictures in turn
// while a connection attempt runs; else the picture of the status.
class TrayPictureRule {
public:
    // The picture for this tick, or nullopt when it is the one already shown.
    std::optional<TrayPicture> Tick(const TrayInputs& inputs);
    std::optional<TrayPicture> Current() const { return m_current; }

private:
    std::optional<TrayPicture> m_current;
    unsigned m_messageStep = 0;
    unsigned m_connectingStep = 0;
};

// The session flags the menus depend on.
struct SessionFlags {
    bool connected = false;
    bool connectWorkerRunning = false;  // a connect attempt is under way
    protocol::OnlineStatus status = protocol::OnlineStatus::Offline;
};

struct MenuItemState {
    bool enabled = false;
    bool checked = false;
    bool operator==(const MenuItemState&) const = default;
};

struct MainMenuState {
    MenuItemState connect;
    MenuItemState disconnect;
    MenuItemState online;
    MenuItemState away;
    MenuItemState notAvailable;

    // "Connect" only while offline and not connecting; "Disconnect" only while connected and
    // not connecting; the statuses only while connected, the current one checked.
    static MainMenuState For(const SessionFlags& flags);
};

// The session's network settings from the client settings. Values the options pages would
// refuse (edited by hand or damaged) fall back to their defaults: a port outside 1..65534
// would wrap (its account port P + 1 too), an interval below 5 s would hammer the server twice
// a second.
session::NetworkSettings NetworkFrom(const data::ClientSettings& settings);

// "&Show Window" while the window is hidden, "&Hide Window" while it is shown.
std::string_view ShowHideText(bool windowVisible);

}  // namespace talvorine::client::ui

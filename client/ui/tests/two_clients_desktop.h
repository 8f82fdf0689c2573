#pragma once
// A private desktop for programs under test: an Xvfb display and a session bus (with the
// accessibility bus it starts) of their own, and the programs' windows seen the way a screen
// reader sees them: found by caption and by each control's label, buttons pressed and texts
// typed through the accessibility bus, windows closed as a window manager closes them.
//
// Every process started here is ended by the destructor, whatever path the test took.

#include <atspi/atspi.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talvorine::client::ui::testing {

struct GObjectRelease {
    void operator()(void* object) const;
};
using Node = std::unique_ptr<AtspiAccessible, GObjectRelease>;

class Desktop {
public:
    // Starts Xvfb and the session bus and points DISPLAY, DBUS_SESSION_BUS_ADDRESS and
    // XDG_RUNTIME_DIR of this process at them, and HOME, XDG_CACHE_HOME and XDG_DATA_HOME at
    // folders of its own. nullptr with `failure` set when either fails.
    static std::unique_ptr<Desktop> Start(std::string& failure);
    ~Desktop();
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    const std::string& Display() const { return m_display; }

    // Asks the shown top-level window of process `pid` captioned `title` to close, as the
    // close box does (WM_DELETE_WINDOW). False when no such window is mapped.
    bool CloseWindow(pid_t pid, std::string_view title) const;
    // True while a menu of process `pid` is popped up (menus are no windows on the
    // accessibility bus; they are steered with keys).
    bool PopupMenuShown(pid_t pid) const;
    // A click of the first mouse button in the middle of a control (a button's menu opens
    // on a press; the accessibility bus only reaches the buttons themselves).
    bool Click(AtspiAccessible* node) const;
    // Presses keys (xdotool names: "End", "Up", "Return") on the display.
    bool Keys(const std::vector<std::string>& keys) const;

private:
    Desktop() = default;
    static bool Run(std::vector<std::string> argv);

    std::filesystem::path m_folder;
    pid_t m_xvfb = -1;
    pid_t m_bus = -1;  // leads a process group with what it starts (the accessibility bus)
    std::string m_display;
};

// One program's windows on the accessibility bus.
class ProgramUi {
public:
    explicit ProgramUi(pid_t pid) : m_pid(pid) {}

    // The shown top-level window captioned `title` that holds a control named `holding` (any
    // window of that caption when empty).
    Node Window(std::string_view title, std::string_view holding = {});
    // A message box (or any top-level window) showing `text` (line breaks as spaces).
    Node BoxWith(std::string_view text);
    // Every window and control with role and name, for a failure message.
    std::string Describe();
    // The first control below `root` whose accessible name is `name` (a button's text without
    // its "&", a field's label; "OK*": any name that starts with "OK"); buttons and check
    // boxes when `button`, else anything with text; anything at all when `any` (a list's
    // items, a list itself).
    static Node Control(AtspiAccessible* root, std::string_view name, bool button,
                        bool any = false);

    static bool Enabled(AtspiAccessible* node);
    static bool Checked(AtspiAccessible* node);
    static bool Press(AtspiAccessible* node);
    static bool SetText(AtspiAccessible* node, std::string_view text);
    static std::string Text(AtspiAccessible* node);
    // Selects characters [start, end) of a text.
    static bool Select(AtspiAccessible* node, int start, int end);
    // The text attributes (with the defaults) at `offset`: "weight", "fg-color" ...
    static std::map<std::string, std::string> Attributes(AtspiAccessible* node, int offset);

private:
    AtspiAccessible* Application();
    Node FirstWindow(const std::function<bool(AtspiAccessible*)>& wanted);

    pid_t m_pid;
    Node m_application;
};

// Polls `find` (serving the accessibility bus between tries) until it yields something or
// `limit` passes.
Node AwaitNode(const std::function<Node()>& find, std::chrono::milliseconds limit);
// Polls `condition` the same way.
bool AwaitTrue(const std::function<bool()>& condition, std::chrono::milliseconds limit);

}  // namespace talvorine::client::ui::testing

#include "two_clients_desktop.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <thread>
#include <vector>

namespace talvorine::client::ui::testing {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

void GObjectRelease::operator()(void* object) const {
    if (object != nullptr) {
        g_object_unref(object);
    }
}

namespace {

// GError* that frees itself; the error itself only means "not found this time".
class Error {
public:
    ~Error() {
        if (m_error != nullptr) {
            g_error_free(m_error);
        }
    }
    GError** operator&() { return &m_error; }
    explicit operator bool() const { return m_error != nullptr; }

private:
    GError* m_error = nullptr;
};

std::string Take(gchar* text) {
    std::string result = text != nullptr ? text : "";
    g_free(text);
    return result;
}

std::string Flatten(std::string text) {
    std::string flat;
    for (const char c : text) {
        if (c == '\r') {
            continue;
        }
        flat.push_back(c == '\n' ? ' ' : c);
    }
    return flat;
}

// Starts `argv` with its descriptor 3 the write end of a pipe, and reads the first line the
// program writes there (Xvfb's display number, the bus address). `ownGroup` makes the
// program lead a process group of its own. The program is killed should this process die
// first, so a crashed test leaves no display or bus behind.
std::optional<std::string> SpawnReporting(std::vector<std::string> argv, bool ownGroup, pid_t& pid,
                                          std::string& failure) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        failure = "pipe: " + std::string(std::strerror(errno));
        return std::nullopt;
    }
    std::vector<char*> args;
    for (auto& argument : argv) {
        args.push_back(argument.data());
    }
    args.push_back(nullptr);
    const pid_t parent = ::getpid();
    pid = ::fork();
    if (pid == 0) {
        // Only calls that are safe between fork and exec.
        if (ownGroup) {
            ::setpgid(0, 0);
        }
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            ::_exit(127);
        }
        ::dup2(fds[1], 3);  // dup2 clears close-on-exec on the copy
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) {
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
        }
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        failure = argv[0] + " cannot be started: " + std::strerror(errno);
        return std::nullopt;
    }
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd wait{fds[0], POLLIN, 0};
        if (::poll(&wait, 1, 200) <= 0) {
            continue;
        }
        char buffer[256];
        const ssize_t got = ::read(fds[0], buffer, sizeof buffer);
        if (got <= 0) {
            break;  // it ended without a word
        }
        line.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fds[0]);
    if (line.find('\n') == std::string::npos) {
        failure = argv[0] + " reported nothing within 30 s (is it installed?)";
        return std::nullopt;
    }
    return line.substr(0, line.find('\n'));
}

void EndProcess(pid_t pid, bool group) {
    if (pid <= 0) {
        return;
    }
    ::kill(group ? -pid : pid, SIGTERM);
    for (int tries = 0; tries < 100; ++tries) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid) {
            if (group) {
                ::kill(-pid, SIGKILL);  // what it started, should any be left
            }
            return;
        }
        std::this_thread::sleep_for(50ms);
    }
    ::kill(group ? -pid : pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

xcb_atom_t Atom(xcb_connection_t* connection, std::string_view name) {
    const auto cookie =
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.data());
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
}

std::string Property(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property,
                     xcb_atom_t type) {
    const auto cookie = xcb_get_property(connection, 0, window, property, type, 0, 1024);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(connection, cookie, nullptr);
    std::string value;
    if (reply != nullptr) {
        value.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                     static_cast<std::size_t>(xcb_get_property_value_length(reply)));
    }
    std::free(reply);
    return value;
}

}  // namespace

// --- Desktop ---

std::unique_ptr<Desktop> Desktop::Start(std::string& failure) {
    std::unique_ptr<Desktop> desktop(new Desktop);
    std::string pattern = (fs::temp_directory_path() / "tlv-desktop-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        failure = "mkdtemp failed";
        return nullptr;
    }
    desktop->m_folder = pattern;  // 0700: fit for XDG_RUNTIME_DIR
    // Whatever the display, the buses and the programs keep for the user (caches, the
    // accessibility bus's files) stays in the test's folder, not the real home folder.
    for (const char* name : {"home", "cache", "data"}) {
        std::error_code ignored;
        fs::create_directories(desktop->m_folder / name, ignored);
    }
    ::setenv("HOME", (desktop->m_folder / "home").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (desktop->m_folder / "cache").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (desktop->m_folder / "data").c_str(), 1);

    const auto display = SpawnReporting(
        {"Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-screen", "0", "1280x1024x24"}, false,
        desktop->m_xvfb, failure);
    if (!display) {
        return nullptr;
    }
    desktop->m_display = ":" + *display;
    ::setenv("DISPLAY", desktop->m_display.c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", desktop->m_folder.c_str(), 1);

    const auto bus = SpawnReporting({"dbus-daemon", "--session", "--nofork", "--print-address=3"},
                                    true, desktop->m_bus, failure);
    if (!bus) {
        return nullptr;
    }
    ::setenv("DBUS_SESSION_BUS_ADDRESS", bus->c_str(), 1);
    // Qt's programs publish their controls on the accessibility bus without a screen reader.
    ::setenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1", 1);
    ::unsetenv("AT_SPI_BUS_ADDRESS");
    if (atspi_init() > 1) {
        failure = "the accessibility library cannot start";
        return nullptr;
    }
    // A program busy on a loaded machine may answer late.
    atspi_set_timeout(10000, 20000);
    return desktop;
}

Desktop::~Desktop() {
    EndProcess(m_bus, true);
    EndProcess(m_xvfb, false);
    std::error_code ignored;
    fs::remove_all(m_folder, ignored);
}

namespace {

// An X connection for one look at the screen's top-level windows.
class XScreen {
public:
    explicit XScreen(const std::string& display) {
        int screenNumber = 0;
        m_connection = xcb_connect(display.c_str(), &screenNumber);
        if (xcb_connection_has_error(m_connection) == 0) {
            m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        }
    }
    ~XScreen() { xcb_disconnect(m_connection); }
    XScreen(const XScreen&) = delete;
    XScreen& operator=(const XScreen&) = delete;

    xcb_connection_t* Connection() const { return m_connection; }
    xcb_atom_t Atom(std::string_view name) const { return testing::Atom(m_connection, name); }

    // The mapped top-level windows of process `pid`, topmost first.
    std::vector<xcb_window_t> Windows(pid_t pid) const {
        std::vector<xcb_window_t> found;
        if (m_root == XCB_WINDOW_NONE) {
            return found;
        }
        const xcb_atom_t windowPid = Atom("_NET_WM_PID");
        xcb_query_tree_reply_t* tree =
            xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, m_root), nullptr);
        if (tree == nullptr) {
            return found;
        }
        const xcb_window_t* children = xcb_query_tree_children(tree);
        for (int i = xcb_query_tree_children_length(tree) - 1; i >= 0; --i) {
            const xcb_window_t window = children[i];
            xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(
                m_connection, xcb_get_window_attributes(m_connection, window), nullptr);
            const bool viewable =
                attributes != nullptr && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
            std::free(attributes);
            const std::string owner = Property(window, windowPid, XCB_ATOM_CARDINAL);
            std::uint32_t ownerPid = 0;
            if (owner.size() >= sizeof ownerPid) {
                std::memcpy(&ownerPid, owner.data(), sizeof ownerPid);
            }
            if (viewable && static_cast<pid_t>(ownerPid) == pid) {
                found.push_back(window);
            }
        }
        std::free(tree);
        return found;
    }

    std::string Property(xcb_window_t window, xcb_atom_t property, xcb_atom_t type) const {
        return testing::Property(m_connection, window, property, type);
    }

    // The topmost mapped window of process `pid` captioned `title`; none when there is none.
    xcb_window_t Captioned(pid_t pid, std::string_view title) const {
        const xcb_atom_t name = Atom("_NET_WM_NAME");
        const xcb_atom_t utf8 = Atom("UTF8_STRING");
        // Qt adds " \u2014 " and the program's name to a caption without it.
        const std::string suffixed = std::string(title) + " \u2014 ";
        for (const xcb_window_t window : Windows(pid)) {
            const std::string caption = Property(window, name, utf8);
            if (caption == title || caption.rfind(suffixed, 0) == 0) {
                return window;
            }
        }
        return XCB_WINDOW_NONE;
    }

private:
    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_root = XCB_WINDOW_NONE;
};

}  // namespace

bool Desktop::CloseWindow(pid_t pid, std::string_view title) const {
    const XScreen screen(m_display);
    const xcb_window_t window = screen.Captioned(pid, title);
    if (window == XCB_WINDOW_NONE) {
        return false;
    }
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = screen.Atom("WM_PROTOCOLS");
    event.data.data32[0] = screen.Atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(screen.Connection(), 0, window, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(screen.Connection());
    return true;
}

bool Desktop::PopupMenuShown(pid_t pid) const {
    // Qt's menus are the program's windows that pass by the window manager.
    const XScreen screen(m_display);
    for (const xcb_window_t window : screen.Windows(pid)) {
        xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(
            screen.Connection(), xcb_get_window_attributes(screen.Connection(), window), nullptr);
        const bool popup = attributes != nullptr && attributes->override_redirect != 0;
        std::free(attributes);
        if (popup) {
            return true;
        }
    }
    return false;
}

bool Desktop::Click(AtspiAccessible* node) const {
    AtspiComponent* component =
        node != nullptr ? atspi_accessible_get_component_iface(node) : nullptr;
    if (component == nullptr) {
        return false;
    }
    Error error;
    AtspiRect* extents = atspi_component_get_extents(component, ATSPI_COORD_TYPE_SCREEN, &error);
    g_object_unref(component);
    if (extents == nullptr) {
        return false;
    }
    const std::string x = std::to_string(extents->x + extents->width / 2);
    const std::string y = std::to_string(extents->y + extents->height / 2);
    g_free(extents);
    return Run({"xdotool", "mousemove", "--sync", x, y, "click", "1"});
}

bool Desktop::Keys(const std::vector<std::string>& keys) const {
    // xdotool types through the XTEST extension, as a keyboard would: into the window that
    // holds the keyboard (an open menu does).
    std::vector<std::string> argv{"xdotool", "key", "--delay", "50"};
    argv.insert(argv.end(), keys.begin(), keys.end());
    return Run(argv);
}

bool Desktop::Run(std::vector<std::string> argv) {
    std::vector<char*> args;
    for (auto& argument : argv) {
        args.push_back(argument.data());
    }
    args.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// --- ProgramUi ---

AtspiAccessible* ProgramUi::Application() {
    if (m_application) {
        return m_application.get();
    }
    // Asks only the bus for each application's process, never a program that may be stopped.
    Node desktop(atspi_get_desktop(0));
    Error error;
    const int count = atspi_accessible_get_child_count(desktop.get(), &error);
    for (int i = 0; i < count; ++i) {
        Error childError;
        Node application(atspi_accessible_get_child_at_index(desktop.get(), i, &childError));
        if (!application) {
            continue;
        }
        Error pidError;
        if (static_cast<pid_t>(atspi_accessible_get_process_id(application.get(), &pidError)) ==
            m_pid) {
            m_application = std::move(application);
            break;
        }
    }
    return m_application.get();
}

Node ProgramUi::FirstWindow(const std::function<bool(AtspiAccessible*)>& wanted) {
    AtspiAccessible* application = Application();
    if (application == nullptr) {
        return nullptr;
    }
    // Windows come and go: what the library kept of the last look is stale.
    atspi_accessible_clear_cache(application);
    Error error;
    const int count = atspi_accessible_get_child_count(application, &error);
    for (int i = 0; i < count; ++i) {
        Error childError;
        Node window(atspi_accessible_get_child_at_index(application, i, &childError));
        if (window && wanted(window.get())) {
            return window;
        }
    }
    return nullptr;
}

Node ProgramUi::Window(std::string_view title, std::string_view holding) {
    return FirstWindow([&](AtspiAccessible* window) {
        Error nameError;
        return Take(atspi_accessible_get_name(window, &nameError)) == title &&
               (holding.empty() || Control(window, holding, false) ||
                Control(window, holding, true));
    });
}

Node ProgramUi::BoxWith(std::string_view text) {
    const std::string wanted = Flatten(std::string(text));
    std::function<bool(AtspiAccessible*, int)> shows = [&](AtspiAccessible* node, int depth) {
        Error nameError;
        if (Flatten(Take(atspi_accessible_get_name(node, &nameError))).find(wanted) !=
            std::string::npos) {
            return true;
        }
        Error roleError;
        if (atspi_accessible_get_role(node, &roleError) == ATSPI_ROLE_LABEL &&
            Flatten(Text(node)).find(wanted) != std::string::npos) {
            return true;
        }
        Error countError;
        const int count = depth < 8 ? atspi_accessible_get_child_count(node, &countError) : 0;
        for (int i = 0; i < count; ++i) {
            Error childError;
            Node child(atspi_accessible_get_child_at_index(node, i, &childError));
            if (child && shows(child.get(), depth + 1)) {
                return true;
            }
        }
        return false;
    };
    return FirstWindow([&](AtspiAccessible* window) { return shows(window, 0); });
}

std::string ProgramUi::Describe() {
    AtspiAccessible* application = Application();
    if (application == nullptr) {
        return "(not on the accessibility bus)\n";
    }
    atspi_accessible_clear_cache(application);
    std::string text;
    std::function<void(AtspiAccessible*, int)> describe = [&](AtspiAccessible* node, int depth) {
        Error roleError;
        Error nameError;
        text += std::string(static_cast<std::size_t>(depth) * 2, ' ') + "[" +
                Take(atspi_accessible_get_role_name(node, &roleError)) + "] \"" +
                Take(atspi_accessible_get_name(node, &nameError)) + "\"\n";
        Error countError;
        const int count = depth < 12 ? atspi_accessible_get_child_count(node, &countError) : 0;
        for (int i = 0; i < count; ++i) {
            Error childError;
            Node child(atspi_accessible_get_child_at_index(node, i, &childError));
            if (child) {
                describe(child.get(), depth + 1);
            }
        }
    };
    describe(application, 0);
    return text;
}

Node ProgramUi::Control(AtspiAccessible* root, std::string_view name, bool button, bool any) {
    std::function<Node(AtspiAccessible*, int)> search = [&](AtspiAccessible* node,
                                                            int depth) -> Node {
        Error countError;
        const int count = depth < 12 ? atspi_accessible_get_child_count(node, &countError) : 0;
        for (int i = 0; i < count; ++i) {
            Error childError;
            Node child(atspi_accessible_get_child_at_index(node, i, &childError));
            if (!child) {
                continue;
            }
            Error nameError;
            Error roleError;
            const std::string childName = Take(atspi_accessible_get_name(child.get(), &nameError));
            const bool prefix = !name.empty() && name.back() == '*';
            if (prefix ? childName.rfind(name.substr(0, name.size() - 1), 0) == 0
                       : childName == name) {
                const AtspiRole role = atspi_accessible_get_role(child.get(), &roleError);
                const bool isButton = role == ATSPI_ROLE_PUSH_BUTTON ||
                                      role == ATSPI_ROLE_CHECK_BOX ||
                                      role == ATSPI_ROLE_TOGGLE_BUTTON;
                AtspiText* text = atspi_accessible_get_text_iface(child.get());
                const bool hasText = text != nullptr;
                if (text != nullptr) {
                    g_object_unref(text);
                }
                if (any || (button ? isButton : (hasText && !isButton))) {
                    return child;
                }
            }
            if (Node found = search(child.get(), depth + 1)) {
                return found;
            }
        }
        return nullptr;
    };
    return root != nullptr ? search(root, 0) : nullptr;
}

namespace {

bool HasState(AtspiAccessible* node, AtspiStateType state) {
    if (node == nullptr) {
        return false;
    }
    AtspiStateSet* states = atspi_accessible_get_state_set(node);
    const bool has = states != nullptr && atspi_state_set_contains(states, state);
    if (states != nullptr) {
        g_object_unref(states);
    }
    return has;
}

}  // namespace

bool ProgramUi::Enabled(AtspiAccessible* node) {
    return HasState(node, ATSPI_STATE_ENABLED);
}

bool ProgramUi::Checked(AtspiAccessible* node) {
    return HasState(node, ATSPI_STATE_CHECKED);
}

bool ProgramUi::Press(AtspiAccessible* node) {
    if (node == nullptr) {
        return false;
    }
    AtspiAction* action = atspi_accessible_get_action_iface(node);
    if (action == nullptr) {
        return false;
    }
    // A check box or a checkable row toggles; a button presses, or shows its menu.
    std::vector<std::string> names;
    Error countError;
    const int count = atspi_action_get_n_actions(action, &countError);
    for (int i = 0; i < count; ++i) {
        Error nameError;
        names.push_back(Take(atspi_action_get_action_name(action, i, &nameError)));
    }
    int chosen = -1;
    for (const char* wanted : {"Toggle", "toggle", "Press", "press", "click", "ShowMenu"}) {
        const auto found = std::find(names.begin(), names.end(), wanted);
        if (found != names.end()) {
            chosen = static_cast<int>(found - names.begin());
            break;
        }
    }
    Error doError;
    const bool pressed = chosen >= 0 && atspi_action_do_action(action, chosen, &doError) != FALSE;
    g_object_unref(action);
    return pressed;
}

bool ProgramUi::SetText(AtspiAccessible* node, std::string_view text) {
    if (node == nullptr) {
        return false;
    }
    AtspiEditableText* editable = atspi_accessible_get_editable_text_iface(node);
    if (editable == nullptr) {
        return false;
    }
    Error error;
    const std::string value(text);
    const bool set =
        atspi_editable_text_set_text_contents(editable, value.c_str(), &error) != FALSE;
    g_object_unref(editable);
    return set && !error;
}

std::string ProgramUi::Text(AtspiAccessible* node) {
    if (node == nullptr) {
        return {};
    }
    AtspiText* text = atspi_accessible_get_text_iface(node);
    if (text == nullptr) {
        return {};
    }
    Error countError;
    const int count = atspi_text_get_character_count(text, &countError);
    Error error;
    std::string contents = count > 0 ? Take(atspi_text_get_text(text, 0, count, &error)) : "";
    g_object_unref(text);
    return contents;
}

bool ProgramUi::Select(AtspiAccessible* node, int start, int end) {
    AtspiText* text = node != nullptr ? atspi_accessible_get_text_iface(node) : nullptr;
    if (text == nullptr) {
        return false;
    }
    Error error;
    const bool selected = atspi_text_set_selection(text, 0, start, end, &error) != FALSE;
    g_object_unref(text);
    return selected && !error;
}

std::map<std::string, std::string> ProgramUi::Attributes(AtspiAccessible* node, int offset) {
    std::map<std::string, std::string> found;
    AtspiText* text = node != nullptr ? atspi_accessible_get_text_iface(node) : nullptr;
    if (text == nullptr) {
        return found;
    }
    Error error;
    gint start = 0;
    gint end = 0;
    GHashTable* attributes = atspi_text_get_attribute_run(text, offset, TRUE, &start, &end, &error);
    if (attributes != nullptr) {
        GHashTableIter iterator;
        gpointer key = nullptr;
        gpointer value = nullptr;
        g_hash_table_iter_init(&iterator, attributes);
        while (g_hash_table_iter_next(&iterator, &key, &value)) {
            found[static_cast<const char*>(key)] = static_cast<const char*>(value);
        }
        g_hash_table_unref(attributes);
    }
    g_object_unref(text);
    return found;
}

// --- waiting ---

namespace {

void ServeBus() {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
}

}  // namespace

bool AwaitTrue(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        ServeBus();
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(100ms);
    }
}

Node AwaitNode(const std::function<Node()>& find, std::chrono::milliseconds limit) {
    Node found;
    AwaitTrue([&] { return static_cast<bool>(found = find()); }, limit);
    return found;
}

}  // namespace talvorine::client::ui::testing

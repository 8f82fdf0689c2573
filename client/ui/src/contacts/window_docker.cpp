#include "talvorine/client/ui/contacts/window_docker.h"

#include <QCursor>
#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QPropertyAnimation>
#include <QScreen>
#include <QTimer>
#include <QVariantAnimation>
#include <QWidget>
#include <algorithm>
#include <climits>

#ifdef TALVORINE_HAVE_XCB
#include <xcb/xcb.h>

#include <array>
#include <cstdlib>
#include <cstring>
#endif

namespace talvorine::client::ui::contacts {

namespace {

constexpr std::string_view Section = "Window";
constexpr int CaptionHeight = 24;
constexpr auto MoveSettleTime = std::chrono::milliseconds(250);

}  // namespace

DockEdge EdgeFromValue(std::uint32_t value) {
    return value == 0 ? DockEdge::Left : DockEdge::Right;
}

DockValues DockValues::Load() {
    const data::WindowSettings window(Section);
    DockValues values;
    const data::Rect missing{INT_MIN, INT_MIN, INT_MIN, INT_MIN};
    values.normal = data::LoadWindowRect(Section, missing);
    values.hasNormal = values.normal.left != INT_MIN && values.normal.top != INT_MIN &&
                       values.normal.right != INT_MIN && values.normal.bottom != INT_MIN;
    values.appBarMode = window.GetDword("AppBarMode", 0) == 1;
    values.edge = EdgeFromValue(window.GetDword("AppBarEdge", 2));
    values.sizeLeft = static_cast<int>(window.GetDword("AppBarSizeLeft", 100));
    values.sizeRight = static_cast<int>(window.GetDword("AppBarSizeRight", 100));
    return values;
}

void DockValues::Save() const {
    const data::WindowSettings window(Section);
    if (hasNormal) {
        data::SaveWindowPlacement(Section, normal);
    }
    window.SetDword("AppBarMode", appBarMode ? 1 : 0);
    window.SetDword("AppBarEdge", static_cast<std::uint32_t>(edge));
    window.SetDword("AppBarSizeLeft", static_cast<std::uint32_t>(sizeLeft));
    window.SetDword("AppBarSizeRight", static_cast<std::uint32_t>(sizeRight));
}

std::optional<DockEdge> SnapEdge(const QRect& frame, const QRect& screen) {
    if (std::abs(frame.left() - screen.left()) <= SnapDistance) {
        return DockEdge::Left;
    }
    if (std::abs(frame.right() - screen.right()) <= SnapDistance) {
        return DockEdge::Right;
    }
    return std::nullopt;
}

QRect DockedRect(DockEdge edge, int width, const QRect& screen) {
    width = std::clamp(width, 1, screen.width());
    const int left = edge == DockEdge::Left ? screen.left() : screen.right() + 1 - width;
    return QRect(left, screen.top(), width, screen.height());
}

QRect HiddenRect(DockEdge edge, const QRect& docked, const QRect& screen) {
    const int left = edge == DockEdge::Left ? screen.left() - docked.width() + 1 : screen.right();
    return QRect(left, docked.top(), docked.width(), docked.height());
}

int SlidePosition(int from, int to, std::chrono::milliseconds elapsed,
                  std::chrono::milliseconds total) {
    if (total.count() <= 0 || elapsed >= total) {
        return to;
    }
    if (elapsed.count() <= 0) {
        return from;
    }
    return from +
           static_cast<int>((static_cast<long long>(to - from) * elapsed.count()) / total.count());
}

QRect UndockedRect(const data::Rect& normal, QPoint cursor, int captionHeight) {
    const int width = std::max(1, normal.Width());
    const int height = std::max(1, normal.Height());
    return QRect(cursor.x() - width / 2, cursor.y() - captionHeight / 2, width, height);
}

std::optional<QRect> RestorableRect(const data::Rect& stored, const QRect& screen) {
    const data::Rect moved{stored.left - screen.left(), stored.top - screen.top(),
                           stored.right - screen.left(), stored.bottom - screen.top()};
    if (stored.Width() <= 0 || stored.Height() <= 0 ||
        !data::IsPlacementVisible(moved, screen.width(), screen.height())) {
        return std::nullopt;
    }
    return QRect(stored.left, stored.top, stored.Width(), stored.Height());
}

WindowDocker::WindowDocker(QWidget& window, const data::ClientSettings& settings, Support support)
    : QObject(&window), m_window(&window), m_support(support) {
    m_canDock = support == Support::Window ||
                (support == Support::Auto && QGuiApplication::platformName() == "xcb");
    m_taskbarStyle = settings.taskbarStyle;
    m_autoHide = settings.autoHide;
    m_alwaysOnTop = settings.alwaysOnTop;
    m_moveSettled = new QTimer(this);
    m_moveSettled->setSingleShot(true);
    m_moveSettled->setInterval(MoveSettleTime);
    connect(m_moveSettled, &QTimer::timeout, this, &WindowDocker::MovedByUser);
    m_autoHideTimer = new QTimer(this);
    m_autoHideTimer->setInterval(AutoHideCheck);
    connect(m_autoHideTimer, &QTimer::timeout, this, &WindowDocker::CheckAutoHide);
    m_slide = new QVariantAnimation(this);
    connect(m_slide, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        if (m_window) {
            // The value is the frame's left edge; the client area keeps its offset inside it.
            QRect client = m_window->geometry();
            client.moveLeft(value.toInt() + client.left() - m_window->frameGeometry().left());
            ++m_applying;
            m_window->setGeometry(client);
            --m_applying;
        }
    });
    window.installEventFilter(this);
}

WindowDocker::~WindowDocker() {
    SetStrut(false);
}

QRect WindowDocker::Screen() const {
    QScreen* screen =
        m_window && m_window->screen() ? m_window->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->geometry() : QRect(0, 0, 1024, 768);
}

int& WindowDocker::EdgeWidth(DockEdge edge) {
    return edge == DockEdge::Left ? m_values.sizeLeft : m_values.sizeRight;
}

namespace {

// The stored rectangle starts at the frame's top-left corner (where move() puts a window) and
// has the client area's size: the frame belongs to the window manager and is not known before
// the window is shown, so a client-area corner restored with setGeometry() would creep by the
// frame at every start.
data::Rect PlacementOf(const QWidget& window) {
    const QPoint corner = window.frameGeometry().topLeft();
    const QSize size = window.geometry().size();
    return {corner.x(), corner.y(), corner.x() + size.width(), corner.y() + size.height()};
}

void Place(QWidget& window, const QRect& rect) {
    window.move(rect.topLeft());
    window.resize(rect.size());
}

}  // namespace

void WindowDocker::Restore() {
    m_values = DockValues::Load();
    if (m_values.hasNormal) {
        if (const auto rect = RestorableRect(m_values.normal, Screen())) {
            ++m_applying;
            Place(*m_window, *rect);
            --m_applying;
        }
    }
    if (m_canDock && m_taskbarStyle && m_values.appBarMode) {
        Dock(m_values.edge);
    }
    data::ClientSettings switches = data::ClientSettings::Defaults();
    switches.alwaysOnTop = m_alwaysOnTop;
    switches.taskbarStyle = m_taskbarStyle;
    switches.autoHide = m_autoHide;
    ApplySettings(switches);
}

void WindowDocker::Save() {
    if (!m_docked && m_window) {
        m_values.normal = PlacementOf(*m_window);
        m_values.hasNormal = true;
    }
    if (m_canDock) {
        m_values.appBarMode = m_docked.has_value();
        if (m_docked) {
            m_values.edge = *m_docked;
        }
    }
    m_values.Save();
    SetStrut(false);
}

bool WindowDocker::StartsHidden() {
    return data::WindowSettings(Section).GetDword("TrayIconOnly", 0) == 1;
}

void WindowDocker::SaveHidden(bool hidden) {
    data::WindowSettings(Section).SetDword("TrayIconOnly", hidden ? 1 : 0);
}

void WindowDocker::ApplySettings(const data::ClientSettings& settings) {
    m_autoHide = settings.autoHide;
    if (m_taskbarStyle && !settings.taskbarStyle && m_docked) {
        m_taskbarStyle = false;
        Undock();
    }
    m_taskbarStyle = settings.taskbarStyle;
    if (!m_autoHide && m_slidOut) {
        SlideIn();
    }
    const bool onTop = (m_window->windowFlags() & Qt::WindowStaysOnTopHint) != 0;
    m_alwaysOnTop = settings.alwaysOnTop;
    if (onTop != m_alwaysOnTop) {
        const bool visible = m_window->isVisible();
        m_window->setWindowFlag(Qt::WindowStaysOnTopHint, m_alwaysOnTop);
        if (visible) {
            m_window->show();  // changing the flags hides a window
        }
    }
}

void WindowDocker::Dock(DockEdge edge) {
    if (!m_canDock || !m_taskbarStyle || !m_window) {
        return;
    }
    if (!m_docked) {
        m_values.normal = PlacementOf(*m_window);
        m_values.hasNormal = true;
    }
    m_docked = edge;
    m_values.appBarMode = true;
    m_values.edge = edge;
    ApplyDockedGeometry();
    SetStrut(true);
}

void WindowDocker::Undock(std::optional<QPoint> cursor) {
    if (!m_docked || !m_window) {
        return;
    }
    m_slide->stop();
    m_autoHideTimer->stop();
    SetStrut(false);
    m_docked.reset();
    m_slidOut = false;
    m_values.appBarMode = false;
    QRect rect = QRect(m_values.normal.left, m_values.normal.top, m_values.normal.Width(),
                       m_values.normal.Height());
    if (cursor) {
        rect = UndockedRect(m_values.normal, *cursor, CaptionHeight);
    }
    ++m_applying;
    Place(*m_window, rect);
    --m_applying;
}

void WindowDocker::ApplyDockedGeometry() {
    if (!m_docked || !m_window) {
        return;
    }
    m_slide->stop();
    m_slidOut = false;
    // The bar's outer frame fills the strip; the client area lies inside the window frame.
    const QRect frame = DockedRect(*m_docked, EdgeWidth(*m_docked), Screen());
    const QRect client = m_window->geometry();
    const QRect outer = m_window->frameGeometry();
    ++m_applying;
    m_window->setGeometry(frame.adjusted(client.left() - outer.left(), client.top() - outer.top(),
                                         client.right() - outer.right(),
                                         client.bottom() - outer.bottom()));
    --m_applying;
}

bool WindowDocker::Sliding() const {
    return m_slide->state() == QAbstractAnimation::Running;
}

void WindowDocker::Slide(int toX, std::chrono::milliseconds duration, bool out) {
    m_slide->stop();
    disconnect(m_slideFinished);
    m_slide->setStartValue(m_window->frameGeometry().x());
    m_slide->setEndValue(toX);
    m_slide->setDuration(static_cast<int>(duration.count()));
    m_slideFinished =
        connect(m_slide, &QVariantAnimation::finished, this, [this, out] { m_slidOut = out; });
    m_slide->start();
}

void WindowDocker::SlideOut() {
    if (!m_docked || !m_autoHide || m_slidOut || !m_window) {
        return;
    }
    m_autoHideTimer->stop();
    // The frame as the window system placed it: one pixel of it stays on the screen.
    Slide(HiddenRect(*m_docked, m_window->frameGeometry(), Screen()).x(), SlideOutTime, true);
}

void WindowDocker::SlideIn() {
    if (!m_docked || !m_window || (!m_slidOut && !Sliding())) {
        return;
    }
    m_slidOut = false;
    Slide(DockedRect(*m_docked, EdgeWidth(*m_docked), Screen()).x(), SlideInTime, false);
    if (m_autoHide) {
        m_autoHideTimer->start();
    }
}

void WindowDocker::CheckAutoHide() {
    if (!m_docked || m_slidOut || !m_window) {
        m_autoHideTimer->stop();
        return;
    }
    if (!m_window->frameGeometry().contains(QCursor::pos()) && !m_window->isActiveWindow()) {
        SlideOut();
    }
}

void WindowDocker::MovedByUser() {
    if (!m_window || Sliding()) {
        return;
    }
    const QRect screen = Screen();
    if (m_docked) {
        const QRect expected = DockedRect(*m_docked, EdgeWidth(*m_docked), screen);
        const QRect place = m_slidOut ? HiddenRect(*m_docked, expected, screen) : expected;
        if (std::abs(m_window->frameGeometry().x() - place.x()) > SnapDistance) {
            Undock(QCursor::pos());  // dragged away from the edge
        } else if (m_window->frameGeometry().topLeft() != place.topLeft()) {
            ApplyDockedGeometry();
        }
        return;
    }
    if (m_canDock && m_taskbarStyle) {
        if (const auto edge = SnapEdge(m_window->frameGeometry(), screen)) {
            Dock(*edge);
        }
    }
}

void WindowDocker::ResizedByUser() {
    if (!m_docked || m_slidOut || Sliding()) {
        return;
    }
    // Only the inner side moves: the new width is kept for this edge and the bar stays at
    // full height against its edge.
    EdgeWidth(*m_docked) = m_window->frameGeometry().width();
    const QRect wanted = DockedRect(*m_docked, EdgeWidth(*m_docked), Screen());
    if (m_window->frameGeometry() != wanted) {
        ApplyDockedGeometry();
    }
    SetStrut(true);
}

bool WindowDocker::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_window || m_applying > 0) {
        return QObject::eventFilter(watched, event);
    }
    switch (event->type()) {
        case QEvent::Move:
            if (!Sliding()) {
                m_moveSettled->start();
            }
            break;
        case QEvent::Resize:
            if (m_docked) {
                ResizedByUser();
            }
            break;
        case QEvent::WindowDeactivate:
            if (m_docked && m_autoHide) {
                SlideOut();
            }
            break;
        case QEvent::Enter:
        case QEvent::WindowActivate:
            if (m_docked) {
                SlideIn();
            }
            break;
        case QEvent::Hide:
            SetStrut(false);
            break;
        case QEvent::Show:
            if (m_docked) {
                ApplyDockedGeometry();
                SetStrut(true);
            }
            break;
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

void WindowDocker::SetStrut(bool reserve) {
#ifdef TALVORINE_HAVE_XCB
    // The space is reserved with the window manager's strut hints (the desktop's tool bar
    // registration): _NET_WM_STRUT_PARTIAL, and _NET_WM_STRUT for older window managers.
    QNativeInterface::QX11Application* x11 = nullptr;
    // Only the xcb platform has a connection of its own (offscreen may answer without one).
    if (qGuiApp != nullptr && QGuiApplication::platformName() == "xcb") {
        x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    }
    if (x11 == nullptr || !m_window || !m_window->testAttribute(Qt::WA_WState_Created)) {
        m_strutSet = false;
        return;
    }
    xcb_connection_t* connection = x11->connection();
    if (connection == nullptr) {
        m_strutSet = false;
        return;
    }
    const auto atom = [connection](const char* name) {
        auto cookie =
            xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
        const xcb_atom_t value = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(reply);
        return value;
    };
    const xcb_atom_t partial = atom("_NET_WM_STRUT_PARTIAL");
    const xcb_atom_t strut = atom("_NET_WM_STRUT");
    const auto window = static_cast<xcb_window_t>(m_window->winId());
    if (!reserve || !m_docked || !m_window->isVisible()) {
        xcb_delete_property(connection, window, partial);
        xcb_delete_property(connection, window, strut);
        xcb_flush(connection);
        m_strutSet = false;
        return;
    }
    const QRect screen = Screen();
    const QRect desktop = m_window->screen() ? m_window->screen()->virtualGeometry() : screen;
    const int width = EdgeWidth(*m_docked);
    std::array<std::uint32_t, 12> values{};
    const auto top = static_cast<std::uint32_t>(screen.top());
    const auto bottom = static_cast<std::uint32_t>(screen.bottom());
    if (*m_docked == DockEdge::Left) {
        values[0] = static_cast<std::uint32_t>(screen.left() - desktop.left() + width);
        values[4] = top;
        values[5] = bottom;
    } else {
        values[1] = static_cast<std::uint32_t>(desktop.right() - screen.right() + width);
        values[6] = top;
        values[7] = bottom;
    }
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, partial, XCB_ATOM_CARDINAL, 32,
                        12, values.data());
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, strut, XCB_ATOM_CARDINAL, 32, 4,
                        values.data());
    xcb_flush(connection);
    m_strutSet = true;
#else
    (void)reserve;
    m_strutSet = false;
#endif
}

}  // namespace talvorine::client::ui::contacts

#pragma once
// Window docking and effects for a top-level window (the main window owns one): placement
// memory with the 20x20 rule; docking to the left or right screen edge as a full-height bar
// (reserving the space with the _NET_WM_STRUT_PARTIAL hint on X11); auto-hide sliding out to
// one pixel in 300 ms and back in over 150 ms; undocking by dragging away; resizing only on the
// inner side; always on top; and the fade-in of dialogs and property pages.

#include <QObject>
#include <QPointer>
#include <QRect>
#include <chrono>
#include <cstdint>
#include <optional>

#include "talvorine/client/data/client_settings.h"

class QTimer;
class QVariantAnimation;
class QWidget;

namespace talvorine::client::ui::contacts {

enum class DockEdge { Left = 0, Right = 2 };

// The "Window" values of the main window.
struct DockValues {
    data::Rect normal;  // the last undocked rectangle ("Left", "Top", "Right", "Bottom")
    bool appBarMode = false;
    DockEdge edge = DockEdge::Right;
    int sizeLeft = 100;
    int sizeRight = 100;
    bool hasNormal = false;  // "Left" .. "Bottom" were stored

    static DockValues Load();
    void Save() const;
};

// "AppBarEdge" as read: 0 left, 2 right, anything outside 0..3 right (1 and 3, the top and
// bottom edges a bar never takes, are read as right too).
DockEdge EdgeFromValue(std::uint32_t value);

// --- rules without a window ---
inline constexpr int SnapDistance = 10;
inline constexpr auto SlideOutTime = std::chrono::milliseconds(300);
inline constexpr auto SlideInTime = std::chrono::milliseconds(150);
inline constexpr auto AutoHideCheck = std::chrono::milliseconds(500);

// The edge a window moved to within 10 pixels of, if any.
std::optional<DockEdge> SnapEdge(const QRect& frame, const QRect& screen);
// The docked bar: full screen height, `width` wide at the edge.
QRect DockedRect(DockEdge edge, int width, const QRect& screen);
// The slid-out bar: one pixel left on the screen.
QRect HiddenRect(DockEdge edge, const QRect& docked, const QRect& screen);
// Where a slide is after `elapsed` of `total`: linear from `from` to `to`.
int SlidePosition(int from, int to, std::chrono::milliseconds elapsed,
                  std::chrono::milliseconds total);
// The undocked rectangle placed so that its caption (`captionHeight` high) is centred under
// the cursor.
QRect UndockedRect(const data::Rect& normal, QPoint cursor, int captionHeight);
// The stored rectangle when at least 20x20 pixels of it lie on `screen`.
std::optional<QRect> RestorableRect(const data::Rect& stored, const QRect& screen);

class WindowDocker : public QObject {
    Q_OBJECT

public:
    enum class Support {
        Auto,    // dock where the window system reserves space (X11); else keep the values
        Window,  // dock by the window itself, with the strut only where X11 is there
        None,    // never dock; the values are kept and written back unchanged
    };

    WindowDocker(QWidget& window, const data::ClientSettings& settings,
                 Support support = Support::Auto);
    ~WindowDocker() override;

    // At start: the saved rectangle when enough of it is on the screen, then the docking of
    // the last run, then "AlwaysOnTop".
    void Restore();
    // At exit: the values, and the registration removed.
    void Save();
    // The switches of the options ("TaskbarStyle" off while docked undocks).
    void ApplySettings(const data::ClientSettings& settings);

    // "TrayIconOnly": the window starts hidden with only its notification-area icon when it
    // was hidden at the last exit.
    static bool StartsHidden();
    static void SaveHidden(bool hidden);

    bool CanDock() const { return m_canDock; }
    bool IsDocked() const { return m_docked.has_value(); }
    std::optional<DockEdge> Edge() const { return m_docked; }
    bool IsSlidOut() const { return m_slidOut; }
    bool StrutSet() const { return m_strutSet; }
    const DockValues& Values() const { return m_values; }
    QRect Screen() const;

    void Dock(DockEdge edge);
    // Back to the last undocked rectangle, its caption centred under `cursor`.
    void Undock(std::optional<QPoint> cursor = std::nullopt);
    void SlideOut();
    void SlideIn();
    // Whether a slide runs.
    bool Sliding() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ApplyDockedGeometry();
    void SetStrut(bool reserve);
    void MovedByUser();
    void ResizedByUser();
    void Slide(int toX, std::chrono::milliseconds duration, bool out);
    void CheckAutoHide();
    int& EdgeWidth(DockEdge edge);

    QPointer<QWidget> m_window;
    Support m_support;
    bool m_canDock = false;
    bool m_taskbarStyle = true;
    bool m_autoHide = true;
    bool m_alwaysOnTop = true;
    DockValues m_values;
    std::optional<DockEdge> m_docked;
    bool m_slidOut = false;
    bool m_strutSet = false;
    int m_applying = 0;  // geometry changes of our own are not the user's
    QTimer* m_moveSettled = nullptr;
    QTimer* m_autoHideTimer = nullptr;
    QVariantAnimation* m_slide = nullptr;
    QMetaObject::Connection m_slideFinished;
};

}  // namespace talvorine::client::ui::contacts

#pragma once
// CContactListBar: the contact list as a vertical group bar. One header button per group;
// the open group's contacts between the headers stacked above and below; two scroll arrows;
// owner-drawn items (status picture and nickname) that blink while unread, animate on arrival
// and can be dragged between groups, onto headers or out onto the desktop as floating
// contacts. It draws the loaded data::ContactList and changes it under the ListMutex; the
// StatusPoller keeps the statuses current. The main window puts it into its body and
// implements ContactListHost.

#include <QPointer>
#include <QWidget>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "talvorine/client/data/contact_list.h"
#include "talvorine/client/session/server_session.h"
#include "talvorine/client/ui/contacts/contact_list_host.h"
#include "talvorine/client/ui/contacts/contact_pictures.h"
#include "talvorine/client/ui/contacts/group_commands.h"
#include "talvorine/client/ui/contacts/status_poller.h"

class QMenu;
class QPushButton;
class QTimer;
class QToolButton;

namespace talvorine::client::ui::contacts {

class FloatingContact;

inline constexpr int SmallItemHeight = 22;
inline constexpr int LargeItemHeight = 40;

class CContactListBar : public QWidget {
    Q_OBJECT

public:
    // Reads "ContactList"/"LargeIcons" and starts the 500 ms blink.
    CContactListBar(data::ContactList& list, std::mutex& listMutex, ContactListHost& host,
                    QWidget* parent = nullptr);
    // Stops the poller, closes the floating windows, writes "LargeIcons".
    ~CContactListBar() override;

    // --- the list's life ---
    // Loads the account's list (after SaveAndUnloadList of the previous one), its pictures and
    // floating windows; every entry waits for its first report.
    void LoadList(const std::string& accountId);
    // Puts the floating windows' places into the entries, closes them, saves and unloads.
    // `Skip` saves without the ListMutex: at exit, when a worker left running may hold it for
    // good (the list keeps its own lock for every change).
    enum class ListLock { Take, Skip };
    void SaveAndUnloadList(ListLock lock = ListLock::Take);
    // After login: every entry's first-report flag, and a poll at once.
    void LoggedIn();

    // --- status ---
    void StartStatusPoller(session::ServerSession& session, StatusPoller::Timing timing = {});
    void StopStatusPoller();
    bool StatusPollerRunning() const { return m_poller != nullptr; }
    // Login, "Refresh User Status", the user wizard.
    void WakeStatusPoll();
    // A report of the StatusPoller, on this thread.
    void HandleStatusReport(const std::string& contactId, int status);

    // --- messages ---
    // The received-message path: the engine has stored it (Strangers, store, unread count).
    void MessageReceived(const session::IncomingMessage& message);
    // Double click on an item or a floating contact.
    void ActivateContact(const std::string& contactId);
    // After a "Messages" window marked messages read, or anything else that changed counts.
    void UnreadChanged();
    bool HasUnread() const;
    // The first contact in list order with unread messages (the tray's double click).
    std::optional<std::string> FirstUnreadContact() const;

    // --- contacts from elsewhere ---
    // The user wizard's add into `group`: written and appended, pictures loaded. The refusal
    // or the system's error text when it fails (the wizard words the box).
    CommandResult AddContact(int group, const std::string& contactId, const std::string& nickname,
                             const std::string& email);
    // A fetched profile's nickname.
    void SetNickname(const std::string& contactId, const std::string& nickname);
    void ReloadPictures(const std::string& contactId);

    // --- the view ---
    bool LargeIcons() const { return m_largeIcons; }
    void SetLargeIcons(bool large);
    int ItemHeight() const { return m_largeIcons ? LargeItemHeight : SmallItemHeight; }
    int HeaderHeight() const { return m_headerHeight; }
    void OpenGroup(int group);
    int OpenGroupIndex() const { return m_list.OpenGroup(); }
    void ScrollLines(int lines);
    int FirstVisibleItem() const { return m_firstItem; }
    QRect ListArea() const;
    QRect HeaderRect(int group) const;
    QRect ItemRect(int item) const;  // an item of the open group, in bar coordinates
    std::optional<int> ItemAt(QPoint point) const;
    std::optional<int> HeaderAt(QPoint point) const;
    // The contact of an item of the open group.
    std::optional<std::string> ContactAtItem(int item) const;
    void SelectContact(const std::string& contactId);
    std::optional<std::string> SelectedContact() const;
    QPushButton* HeaderButton(int group) const;
    QToolButton* ScrollUpButton() const { return m_scrollUp; }
    QToolButton* ScrollDownButton() const { return m_scrollDown; }

    // --- the blink and drawing state ---
    void BlinkTick();
    bool BlinkOn() const { return m_blinkOn; }
    PictureKind DrawnPicture(const std::string& contactId) const;
    bool DrawnOnline(const std::string& contactId) const;
    int ArrivalCounter(const std::string& contactId) const;
    // The contacts whose pictures the last blink tick repainted.
    const std::vector<std::string>& LastBlinkRepaints() const { return m_lastBlinkRepaints; }
    // The picture an item of this contact draws now (own or built-in, online or offline).
    QPixmap CurrentPicture(const std::string& contactId, bool large) const;
    // Tooltip text of the contact.
    QString TooltipText(const std::string& contactId) const;

    // --- the context menu and its commands ---
    // The menu as opened at `point` (bar coordinates); the caller runs or inspects it.
    std::unique_ptr<QMenu> BuildContextMenu(QPoint point);
    // The contact menu of a floating contact.
    std::unique_ptr<QMenu> BuildContactMenu(const std::string& contactId);
    void SendMessageTo();
    void Chat();
    void FileTransfer();
    void Email();
    void HomePage();
    void MessageHistory();
    void ChatHistory();
    void FileTransferHistory();
    void AddUser();
    void DeleteUser();
    void RenameUser();
    void Info();
    void ToggleFloating();
    void UpdateUserIcons();
    void CustomizeUserIcons();
    void ResetUserIcons();
    void ToggleLargeIcons() { SetLargeIcons(!m_largeIcons); }
    void AddGroup();
    void DeleteGroup();
    void RenameGroup();
    void RefreshUserStatus();
    // The contact and group the commands act on (set where the menu opens).
    void SetMenuTarget(std::optional<std::string> contactId, int group);

    // --- drag and drop ---
    // A contact dropped at `globalPoint` after being grabbed at `grabOffset` inside its item.
    void DropContact(const std::string& contactId, QPoint globalPoint, QPoint grabOffset);
    // Inside the bar: moved to `toItem` of `toGroup` (-1 appends).
    void MoveContactTo(const std::string& contactId, int toGroup, int toItem);
    // A header dropped on another: the group goes in front of it.
    void MoveGroupBefore(int group, int before);

    // --- floating contacts ---
    FloatingContact* Floating(const std::string& contactId) const;
    // Shows (or moves) the contact's floating window; a place that lies off the screen is
    // replaced by the one beside its item.
    void ShowFloating(const std::string& contactId, std::optional<QPoint> topLeft = std::nullopt,
                      std::optional<int> width = std::nullopt);
    void CloseFloating(const std::string& contactId);
    ContactListHost& Host() const { return m_host; }

signals:
    void StatusReported(QString contactId, int status);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    struct ItemState {
        PictureKind drawn = PictureKind::Normal;
        bool online = false;
        int animation = 0;
        int animationTotal = 0;
        ContactPictures pictures;
        QPointer<FloatingContact> floating;
    };

    ItemState& State(const data::ContactEntry* entry);
    // Drops every pointer into the loaded entries (before they are replaced or freed).
    void ForgetEntries();
    const ItemState* FindState(const std::string& contactId) const;
    data::ContactEntry* EntryOf(const std::string& contactId) const;
    std::optional<data::ContactPosition> PositionOf(const std::string& contactId) const;
    const data::ContactGroup* Open() const;
    void Relayout();
    void SyncHeaders();
    void UpdateArrows();
    void UpdateHeaderPictures();
    void RepaintContact(const std::string& contactId);
    void SetHovered(const data::ContactEntry* entry);
    // Every item's picture by the picture rule (the caller holds the ListMutex); the contacts
    // whose picture changed.
    std::vector<std::string> RefreshPictures();
    void RepaintChanged(const std::vector<std::string>& contactIds);
    void DrawItem(QPainter& painter, const data::ContactEntry& entry, const ItemState& state,
                  QRect rect, bool hovered, bool pressed, bool highlighted) const;
    void AnimationTick();
    void HoverTick();
    void AfterStructureChange();
    void ShowBox(const std::string& text) const;
    bool AskYesNo(const std::string& text) const;
    std::optional<std::string> MenuContact() const;
    void CloseAllFloating(bool keepPlaces);
    QPoint DefaultFloatingPlace(const std::string& contactId) const;
    void DragMove(QPoint point);
    void FinishDrag(QPoint point);
    void HeaderPressed(int group, QPoint globalPoint);

    data::ContactList& m_list;
    std::mutex& m_listMutex;
    ContactListHost& m_host;
    GroupCommands m_commands;
    BuiltinPictures m_pictures;
    std::unique_ptr<StatusPoller> m_poller;

    bool m_largeIcons = false;
    int m_headerHeight = 22;
    int m_firstItem = 0;
    bool m_blinkOn = false;
    bool m_anyUnread = false;
    std::unordered_map<const data::ContactEntry*, ItemState> m_states;
    const data::ContactEntry* m_selected = nullptr;
    const data::ContactEntry* m_hovered = nullptr;
    std::vector<std::string> m_lastBlinkRepaints;
    std::vector<QPushButton*> m_headers;
    std::vector<bool> m_headerFlashing;
    QToolButton* m_scrollUp = nullptr;
    QToolButton* m_scrollDown = nullptr;
    QTimer* m_blinkTimer = nullptr;
    QTimer* m_animationTimer = nullptr;
    QTimer* m_hoverTimer = nullptr;

    // The command target of the open menu.
    std::optional<std::string> m_menuContact;
    int m_menuGroup = -1;

    // Mouse and drag state.
    const data::ContactEntry* m_pressed = nullptr;
    QPoint m_pressPoint;
    QPoint m_grabOffset;
    bool m_dragging = false;
    std::optional<int> m_dropItem;
    int m_headerDragFrom = -1;
    QPoint m_headerPressPoint;
    bool m_headerDragging = false;

    friend class FloatingContact;
};

}  // namespace talvorine::client::ui::contacts

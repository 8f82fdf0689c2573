// Mouse handling of the contact list: hover, press, double click, dragging contacts and group
// headers, and the floating contacts a drag out of the window creates.

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <chrono>

#include "contact_dialogs.h"
#include "dropped_files.h"
#include "talvorine/client/data/client_settings.h"
#include "talvorine/client/ui/contacts/contact_list_bar.h"
#include "talvorine/client/ui/contacts/floating_contact.h"

namespace talvorine::client::ui::contacts {

namespace {

// At most one line of scrolling per pause while a drag rests near the list's edge.
constexpr auto DragScrollPause = std::chrono::milliseconds(10);

bool ManhattanBeyondDragDistance(QPoint a, QPoint b) {
    return (a - b).manhattanLength() >= QApplication::startDragDistance();
}

}  // namespace

void CContactListBar::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const auto item = ItemAt(event->pos());
    if (!item) {
        return;
    }
    const data::ContactEntry* entry = Open()->contacts[static_cast<std::size_t>(*item)].get();
    m_pressed = entry;
    m_selected = entry;
    m_pressPoint = event->pos();
    m_grabOffset = event->pos() - ItemRect(*item).topLeft();
    m_dragging = false;
    update(ListArea());
}

void CContactListBar::mouseMoveEvent(QMouseEvent* event) {
    if ((event->buttons() & Qt::LeftButton) != 0 && m_pressed != nullptr) {
        if (!m_dragging && ManhattanBeyondDragDistance(event->pos(), m_pressPoint)) {
            m_dragging = true;
        }
        if (m_dragging) {
            DragMove(event->pos());
        }
        return;
    }
    const auto item = ItemAt(event->pos());
    const data::ContactEntry* now =
        item ? Open()->contacts[static_cast<std::size_t>(*item)].get() : nullptr;
    if (now != m_hovered) {
        SetHovered(now);
    }
    // Leaving the list is noticed by a short timer that runs only while an item is hovered.
    if (m_hovered != nullptr && !m_hoverTimer->isActive()) {
        m_hoverTimer->start();
    }
}

void CContactListBar::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const data::ContactEntry* pressed = m_pressed;
    const bool dragged = m_dragging;
    m_pressed = nullptr;
    m_dragging = false;
    m_dropItem.reset();
    unsetCursor();
    if (dragged && pressed != nullptr) {
        DropContact(pressed->id, event->globalPosition().toPoint(), m_grabOffset);
    }
    update(ListArea());
}

void CContactListBar::mouseDoubleClickEvent(QMouseEvent* event) {
    if (const auto item = ItemAt(event->pos())) {
        ActivateContact(Open()->contacts[static_cast<std::size_t>(*item)]->id);
    }
}

void CContactListBar::wheelEvent(QWheelEvent* event) {
    const int steps = event->angleDelta().y() / 120;
    if (steps != 0) {
        ScrollLines(-steps);
    }
}

// The keyboard: Up and Down move the selection in the open group, Page Up and Page Down a
// list's height, Return acts as a double click, the menu key opens the contact's menu.
void CContactListBar::keyPressEvent(QKeyEvent* event) {
    const data::ContactGroup* open = Open();
    if (open == nullptr || open->contacts.empty()) {
        QWidget::keyPressEvent(event);
        return;
    }
    const int count = static_cast<int>(open->contacts.size());
    int current = -1;
    for (int i = 0; i < count; ++i) {
        if (open->contacts[static_cast<std::size_t>(i)].get() == m_selected) {
            current = i;
        }
    }
    const int page = std::max(1, ListArea().height() / ItemHeight());
    int next = current;
    switch (event->key()) {
        case Qt::Key_Up:
            next = std::max(0, current - 1);
            break;
        case Qt::Key_Down:
            next = std::min(count - 1, current + 1);
            break;
        case Qt::Key_PageUp:
            next = std::max(0, current - page);
            break;
        case Qt::Key_PageDown:
            next = std::min(count - 1, current + page);
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (current >= 0) {
                ActivateContact(open->contacts[static_cast<std::size_t>(current)]->id);
            }
            return;
        default:
            QWidget::keyPressEvent(event);
            return;
    }
    if (next >= 0 && next != current) {
        SelectContact(open->contacts[static_cast<std::size_t>(next)]->id);
    }
}

void CContactListBar::leaveEvent(QEvent* event) {
    if (m_hovered != nullptr) {
        SetHovered(nullptr);
    }
    QWidget::leaveEvent(event);
}

void CContactListBar::DragMove(QPoint point) {
    if (const auto header = HeaderAt(point); header && *header != m_list.OpenGroup()) {
        OpenGroup(*header);
    }
    const QRect list = ListArea();
    m_dropItem = ItemAt(point);
    static std::chrono::steady_clock::time_point lastScroll;
    const auto now = std::chrono::steady_clock::now();
    if (list.contains(point) && now - lastScroll >= DragScrollPause) {
        if (point.y() < list.top() + ItemHeight() / 2) {
            ScrollLines(-1);
            lastScroll = now;
        } else if (point.y() > list.bottom() - ItemHeight() / 2) {
            ScrollLines(1);
            lastScroll = now;
        }
    }
    const QPoint global = mapToGlobal(point);
    QWidget* main = m_host.MainWindow();
    if (rect().contains(point)) {
        setCursor(Qt::DragMoveCursor);
    } else if (main != nullptr && main->frameGeometry().contains(global)) {
        setCursor(Qt::ForbiddenCursor);
    } else {
        setCursor(Qt::DragCopyCursor);
    }
    update(list);
}

void CContactListBar::DropContact(const std::string& contactId, QPoint globalPoint,
                                  QPoint grabOffset) {
    const QPoint point = mapFromGlobal(globalPoint);
    if (rect().contains(point)) {
        if (const auto header = HeaderAt(point)) {
            MoveContactTo(contactId, *header, -1);
        } else if (ListArea().contains(point) && m_list.OpenGroup() >= 0) {
            MoveContactTo(contactId, m_list.OpenGroup(), ItemAt(point).value_or(-1));
        }
        return;
    }
    QWidget* main = m_host.MainWindow();
    if (main != nullptr && main->frameGeometry().contains(globalPoint)) {
        return;  // elsewhere in the main window: nothing
    }
    ShowFloating(contactId, globalPoint - grabOffset);
}

void CContactListBar::MoveContactTo(const std::string& contactId, int toGroup, int toItem) {
    const auto from = PositionOf(contactId);
    if (!from || toGroup < 0 || toGroup >= m_list.GroupCount()) {
        return;
    }
    const int count = static_cast<int>(m_list.Group(toGroup).contacts.size());
    if (from->group == toGroup &&
        (toItem == from->item || (toItem < 0 && from->item == count - 1))) {
        return;  // dropped where it is
    }
    data::ContactPosition landed;
    const CommandResult result = m_commands.MoveContact(*from, toGroup, toItem, &landed);
    if (!result.ok) {
        if (!result.text.empty()) {
            ShowBox(result.text);
        }
        return;
    }
    OpenGroup(landed.group);
    Relayout();
    SelectContact(contactId);
}

void CContactListBar::MoveGroupBefore(int group, int before) {
    bool moved = false;
    {
        std::lock_guard lock(m_listMutex);
        moved = m_list.MoveGroup(group, before);
    }
    if (moved) {
        Relayout();
    }
}

bool CContactListBar::eventFilter(QObject* watched, QEvent* event) {
    auto* header = qobject_cast<QPushButton*>(watched);
    const auto found = std::find(m_headers.begin(), m_headers.end(), header);
    if (header == nullptr || found == m_headers.end()) {
        return QWidget::eventFilter(watched, event);
    }
    const int index = static_cast<int>(found - m_headers.begin());
    switch (event->type()) {
        case QEvent::MouseButtonPress: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton) {
                m_headerDragFrom = index;
                m_headerPressPoint = mouse->globalPosition().toPoint();
                m_headerDragging = false;
            }
            break;
        }
        case QEvent::MouseMove: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (m_headerDragFrom >= 0 && (mouse->buttons() & Qt::LeftButton) != 0 &&
                ManhattanBeyondDragDistance(mouse->globalPosition().toPoint(),
                                            m_headerPressPoint)) {
                m_headerDragging = true;
                header->setCursor(Qt::DragMoveCursor);
            }
            break;
        }
        case QEvent::MouseButtonRelease: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (m_headerDragging && m_headerDragFrom >= 0) {
                header->unsetCursor();
                const auto target = HeaderAt(mapFromGlobal(mouse->globalPosition().toPoint()));
                const int from = m_headerDragFrom;
                m_headerDragFrom = -1;
                // The click that may follow belongs to the drag, not to opening the group.
                QTimer::singleShot(0, this, [this] { m_headerDragging = false; });
                if (target) {
                    QTimer::singleShot(0, this,
                                       [this, from, to = *target] { MoveGroupBefore(from, to); });
                }
            } else {
                m_headerDragFrom = -1;
            }
            break;
        }
        default:
            break;
    }
    return QWidget::eventFilter(watched, event);
}

// --- floating contacts ---

FloatingContact* CContactListBar::Floating(const std::string& contactId) const {
    const ItemState* state = FindState(contactId);
    return state ? state->floating.data() : nullptr;
}

QPoint CContactListBar::DefaultFloatingPlace(const std::string& contactId) const {
    const auto position = PositionOf(contactId);
    QRect item = ListArea();
    if (position && position->group == m_list.OpenGroup()) {
        item = ItemRect(position->item);
    }
    return mapToGlobal(item.topLeft()) + QPoint(5, 5);
}

namespace {

// The 20x20 rule over the whole desktop.
bool OnScreen(const QRect& rect) {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return true;
    }
    const QRect desktop = screen->virtualGeometry();
    const QRect moved = rect.translated(-desktop.topLeft());
    return data::IsPlacementVisible(
        {moved.left(), moved.top(), moved.right() + 1, moved.bottom() + 1}, desktop.width(),
        desktop.height());
}

}  // namespace

void CContactListBar::ShowFloating(const std::string& contactId, std::optional<QPoint> topLeft,
                                   std::optional<int> width) {
    data::ContactEntry* entry = EntryOf(contactId);
    if (entry == nullptr) {
        return;
    }
    ItemState& state = State(entry);
    if (!state.floating) {
        state.floating = new FloatingContact(*this, contactId);
    }
    FloatingContact* floating = state.floating;
    floating->Refresh();
    const int w = std::max(floating->minimumWidth(), width.value_or(this->width()));
    QRect place(topLeft.value_or(DefaultFloatingPlace(contactId)), QSize(w, floating->height()));
    if (!OnScreen(place)) {
        // A place saved on a display that is gone: beside the item again.
        place.moveTopLeft(DefaultFloatingPlace(contactId));
        if (!OnScreen(place) && QGuiApplication::primaryScreen() != nullptr) {
            place.moveCenter(QGuiApplication::primaryScreen()->availableGeometry().center());
        }
    }
    floating->setGeometry(place);
    floating->show();
    floating->raise();
}

void CContactListBar::CloseFloating(const std::string& contactId) {
    data::ContactEntry* entry = EntryOf(contactId);
    if (entry == nullptr) {
        return;
    }
    auto found = m_states.find(entry);
    if (found == m_states.end() || !found->second.floating) {
        return;
    }
    FloatingContact* floating = found->second.floating;
    found->second.floating = nullptr;
    floating->hide();
    floating->deleteLater();  // it may be handling the click that closes it
}

void CContactListBar::CloseAllFloating(bool keepPlaces) {
    for (auto& [entry, state] : m_states) {
        auto* writable = const_cast<data::ContactEntry*>(entry);
        if (state.floating) {
            if (keepPlaces) {
                const QRect frame = state.floating->geometry();
                writable->floating = {true, frame.left(), frame.top(), frame.width()};
            }
            delete state.floating.data();
            state.floating = nullptr;
        } else if (keepPlaces) {
            writable->floating.shown = false;
        }
    }
}

}  // namespace talvorine::client::ui::contacts

// --- files dropped from the desktop on a contact ---

namespace talvorine::client::ui::contacts {

namespace {

// The contact whose item lies under `point`, when the drop carries local files.
template <typename Event>
std::optional<std::string> FileDropTarget(const CContactListBar& bar, const Event& event) {
    if (DroppedLocalFiles(event.mimeData()).empty()) {
        return std::nullopt;
    }
    const auto item = bar.ItemAt(event.position().toPoint());
    if (!item) {
        return std::nullopt;
    }
    return bar.ContactAtItem(*item);
}

}  // namespace

void CContactListBar::dragEnterEvent(QDragEnterEvent* event) {
    // Accepted anywhere over the bar while it carries files, so that moving on to an item
    // keeps the drag alive; the item itself decides in dragMoveEvent.
    if (!DroppedLocalFiles(event->mimeData()).empty()) {
        event->acceptProposedAction();
    }
}

void CContactListBar::dragMoveEvent(QDragMoveEvent* event) {
    if (FileDropTarget(*this, *event)) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void CContactListBar::dropEvent(QDropEvent* event) {
    const auto contact = FileDropTarget(*this, *event);
    if (!contact) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    SelectContact(*contact);
    m_host.FilesDropped(*contact, DroppedLocalFiles(event->mimeData()));
}

}  // namespace talvorine::client::ui::contacts

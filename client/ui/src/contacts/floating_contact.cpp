#include "talvorine/client/ui/contacts/floating_contact.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include "dropped_files.h"
#include "talvorine/client/ui/contacts/contact_list_bar.h"

namespace talvorine::client::ui::contacts {

FloatingContact::FloatingContact(CContactListBar& bar, std::string contactId)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus),
      m_bar(bar),
      m_contactId(std::move(contactId)) {
    setObjectName(QStringLiteral("floatingContact"));
    // Clicking it must leave the main window's caption active.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);
    setAcceptDrops(true);  // files dropped on it are sent to the contact
    setMinimumWidth(48);
    Refresh();
}

int FloatingContact::HeightFor(int itemHeight) {
    return itemHeight + 2 * Frame - 4;
}

void FloatingContact::Refresh() {
    setFixedHeight(HeightFor(m_bar.ItemHeight()));
    const data::ContactEntry* entry = m_bar.EntryOf(m_contactId);
    const QString nickname = entry ? QString::fromStdString(entry->nickname) : QString();
    setWindowTitle(nickname);
    setAccessibleName(nickname);
    update();
}

void FloatingContact::RepaintPicture() {
    update(PictureRect());
    update();  // the nickname's look follows the online state too
}

QRect FloatingContact::PictureRect() const {
    const int side = height() - 2 * Frame;
    return QRect(Frame, Frame, side, side);
}

QRect FloatingContact::CloseButtonRect() const {
    return QRect(width() - Frame - CloseSize - 1, Frame, CloseSize, CloseSize);
}

void FloatingContact::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette& colours = palette();
    painter.fillRect(rect(), colours.color(QPalette::Window));
    // A raised frame of Frame pixels.
    for (int i = 0; i < Frame; ++i) {
        const QRect r = rect().adjusted(i, i, -i - 1, -i - 1);
        painter.setPen(i == 0 ? colours.color(QPalette::Light) : colours.color(QPalette::Midlight));
        painter.drawLine(r.topLeft(), r.topRight());
        painter.drawLine(r.topLeft(), r.bottomLeft());
        painter.setPen(i == 0 ? colours.color(QPalette::Shadow) : colours.color(QPalette::Dark));
        painter.drawLine(r.bottomLeft(), r.bottomRight());
        painter.drawLine(r.topRight(), r.bottomRight());
    }
    const bool large = m_bar.LargeIcons();
    const QPixmap picture = m_bar.CurrentPicture(m_contactId, large);
    const QRect square = PictureRect();
    if (!picture.isNull()) {
        painter.drawPixmap(
            square.center() - QPoint(picture.width() / 2, picture.height() / 2) + QPoint(1, 1),
            picture);
    }
    const data::ContactEntry* entry = m_bar.EntryOf(m_contactId);
    const QString nickname = entry ? QString::fromStdString(entry->nickname) : QString();
    const QRect textRect(square.right() + 4, Frame, CloseButtonRect().left() - square.right() - 6,
                         height() - 2 * Frame);
    const QString text =
        fontMetrics().elidedText(nickname, Qt::ElideRight, std::max(0, textRect.width()));
    const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
    if (m_bar.DrawnOnline(m_contactId)) {
        painter.setPen(colours.color(QPalette::WindowText));
        painter.drawText(textRect, flags, text);
    } else {
        // Embossed grey: a light copy one pixel down-right under the grey text.
        painter.setPen(colours.color(QPalette::Light));
        painter.drawText(textRect.translated(1, 1), flags, text);
        painter.setPen(colours.color(QPalette::Dark));
        painter.drawText(textRect, flags, text);
    }
    const QRect close = CloseButtonRect();
    painter.setPen(colours.color(QPalette::Dark));
    painter.setBrush(colours.color(QPalette::Button));
    painter.drawRect(close.adjusted(0, 0, -1, -1));
    painter.setPen(colours.color(QPalette::ButtonText));
    painter.drawLine(close.topLeft() + QPoint(2, 2), close.bottomRight() - QPoint(2, 2));
    painter.drawLine(QPoint(close.right() - 2, close.top() + 2),
                     QPoint(close.left() + 2, close.bottom() - 2));
}

FloatingContact::Grab FloatingContact::HitTest(QPoint point) const {
    if (CloseButtonRect().contains(point)) {
        return Grab::Close;
    }
    if (point.x() < Frame + 1) {
        return Grab::LeftEdge;
    }
    if (point.x() >= width() - Frame - 1) {
        return Grab::RightEdge;
    }
    return Grab::Move;
}

void FloatingContact::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    m_grab = HitTest(event->pos());
    m_pressGlobal = event->globalPosition().toPoint();
    m_pressGeometry = geometry();
    m_bar.SelectContact(m_contactId);
}

void FloatingContact::mouseMoveEvent(QMouseEvent* event) {
    if ((event->buttons() & Qt::LeftButton) == 0) {
        const Grab over = HitTest(event->pos());
        setCursor(over == Grab::LeftEdge || over == Grab::RightEdge ? Qt::SizeHorCursor
                                                                    : Qt::ArrowCursor);
        return;
    }
    const int dx = event->globalPosition().toPoint().x() - m_pressGlobal.x();
    const QPoint delta = event->globalPosition().toPoint() - m_pressGlobal;
    switch (m_grab) {
        case Grab::Move:
            move(m_pressGeometry.topLeft() + delta);
            break;
        case Grab::LeftEdge: {
            const int w = std::max(minimumWidth(), m_pressGeometry.width() - dx);
            setGeometry(m_pressGeometry.right() + 1 - w, m_pressGeometry.top(), w, height());
            break;
        }
        case Grab::RightEdge:
            resize(std::max(minimumWidth(), m_pressGeometry.width() + dx), height());
            break;
        default:
            break;
    }
}

void FloatingContact::mouseReleaseEvent(QMouseEvent* event) {
    const Grab grab = m_grab;
    m_grab = Grab::None;
    if (grab == Grab::Close && CloseButtonRect().contains(event->pos())) {
        // "Floating on" is toggled off: the window goes after this event.
        m_bar.CloseFloating(m_contactId);
    }
}

void FloatingContact::mouseDoubleClickEvent(QMouseEvent* event) {
    if (HitTest(event->pos()) != Grab::Close) {
        m_bar.ActivateContact(m_contactId);
    }
}

void FloatingContact::dragEnterEvent(QDragEnterEvent* event) {
    if (!DroppedLocalFiles(event->mimeData()).empty()) {
        event->acceptProposedAction();
    }
}

void FloatingContact::dropEvent(QDropEvent* event) {
    auto files = DroppedLocalFiles(event->mimeData());
    if (files.empty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    m_bar.Host().FilesDropped(m_contactId, files);
}

void FloatingContact::contextMenuEvent(QContextMenuEvent* event) {
    if (auto menu = m_bar.BuildContactMenu(m_contactId)) {
        menu->exec(event->globalPos());
    }
}

}  // namespace talvorine::client::ui::contacts

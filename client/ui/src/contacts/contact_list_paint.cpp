// Drawing of the contact list: the owner-drawn items and their tooltips.

#include <QHelpEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QTimer>
#include <QToolTip>

#include "talvorine/client/ui/contacts/contact_list_bar.h"

namespace talvorine::client::ui::contacts {

void CContactListBar::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), palette().color(QPalette::Mid));
    std::unique_lock lock(m_listMutex, std::try_to_lock);
    if (!lock.owns_lock()) {
        QTimer::singleShot(20, this, qOverload<>(&QWidget::update));
        return;
    }
    const data::ContactGroup* open = Open();
    if (open == nullptr) {
        return;
    }
    const QRect list = ListArea();
    painter.setClipRect(list.intersected(event->rect()));
    const int count = static_cast<int>(open->contacts.size());
    for (int item = m_firstItem; item < count; ++item) {
        const QRect rect = ItemRect(item);
        if (rect.top() > list.bottom()) {
            break;
        }
        if (!rect.intersects(event->rect())) {
            continue;
        }
        const data::ContactEntry* entry = open->contacts[static_cast<std::size_t>(item)].get();
        auto found = m_states.find(entry);
        if (found == m_states.end()) {
            continue;
        }
        const bool highlighted =
            entry == m_selected || (m_dragging && m_dropItem && *m_dropItem == item);
        DrawItem(painter, *entry, found->second, rect, entry == m_hovered,
                 entry == m_pressed && !m_dragging, highlighted);
    }
}

void CContactListBar::DrawItem(QPainter& painter, const data::ContactEntry& entry,
                               const ItemState& state, QRect rect, bool hovered, bool pressed,
                               bool highlighted) const {
    if (highlighted) {
        painter.fillRect(rect.adjusted(1, 1, -1, -1), palette().color(QPalette::Midlight));
    }
    if (hovered || pressed) {
        const QColor light = palette().color(QPalette::Light);
        const QColor dark = palette().color(QPalette::Dark);
        const QColor& topLeft = pressed ? dark : light;
        const QColor& bottomRight = pressed ? light : dark;
        const QRect frame = rect.adjusted(1, 0, -2, -1);
        painter.setPen(topLeft);
        painter.drawLine(frame.topLeft(), frame.topRight());
        painter.drawLine(frame.topLeft(), frame.bottomLeft());
        painter.setPen(bottomRight);
        painter.drawLine(frame.bottomLeft(), frame.bottomRight());
        painter.drawLine(frame.topRight(), frame.bottomRight());
    }
    const int side = m_largeIcons ? LargePicture : SmallPicture;
    const QRect pictureRect(rect.left() + 4, rect.top() + (rect.height() - side) / 2, side, side);
    if (state.drawn != PictureKind::None) {
        QPixmap picture;
        if (state.drawn == PictureKind::Unread) {
            picture = m_pictures.Status(PictureKind::Unread, m_largeIcons);
        } else {
            picture = state.pictures.Get(state.drawn, m_largeIcons, state.online);
            if (picture.isNull()) {
                picture = m_pictures.Status(state.drawn, m_largeIcons, state.online);
            }
        }
        painter.drawPixmap(pictureRect.topLeft() + (pressed ? QPoint(1, 1) : QPoint()), picture);
    }
    const QRect textRect(pictureRect.right() + 7, rect.top(),
                         rect.right() - pictureRect.right() - 10, rect.height());
    const QString text = fontMetrics().elidedText(QString::fromStdString(entry.nickname),
                                                  Qt::ElideRight, textRect.width());
    if (state.animation > 0 && state.animationTotal > 0) {
        // The arrival sweep: a bright band runs across the text, one pixel per tick.
        const int x = textRect.left() + (state.animationTotal - state.animation) - 8;
        QLinearGradient band(x, 0, x + 16, 0);
        band.setColorAt(0, Qt::transparent);
        band.setColorAt(0.5, QColor(255, 255, 160));
        band.setColorAt(1, Qt::transparent);
        painter.fillRect(QRect(x, rect.top() + 2, 16, rect.height() - 4), band);
    }
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(textRect.translated(pressed ? QPoint(1, 1) : QPoint()),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
}

bool CContactListBar::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const auto item = ItemAt(help->pos());
        if (item) {
            // Shown as plain text: the values come from other users' profiles.
            const QString text = TooltipText(Open()->contacts[static_cast<std::size_t>(*item)]->id);
            QToolTip::showText(
                help->globalPos(),
                QStringLiteral("<p style='white-space:pre'>%1</p>")
                    .arg(text.toHtmlEscaped().replace(QLatin1Char('\n'), QStringLiteral("<br>"))),
                this, ItemRect(*item));
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }
    return QWidget::event(event);
}

}  // namespace talvorine::client::ui::contacts

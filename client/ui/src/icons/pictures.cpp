#include "talvorine/client/ui/icons/pictures.h"

#include <QPainter>
#include <QPainterPath>
#include <array>
#include <functional>

namespace talvorine::client::ui {

namespace {

using protocol::OnlineStatus;

constexpr std::array IconSizes = {16, 22, 24, 32, 48, 64};

QColor StatusColour(OnlineStatus status) {
    switch (status) {
        case OnlineStatus::Online:
            return {46, 160, 67};
        case OnlineStatus::Away:
            return {230, 160, 20};
        case OnlineStatus::NotAvailable:
            return {200, 50, 50};
        case OnlineStatus::Offline:
            break;
    }
    return {140, 140, 140};
}

// A round head and shoulders in the status colour; Away adds a clock hand, N/A a bar.
void DrawPerson(QPainter& painter, int size, OnlineStatus status) {
    const qreal s = size;
    const QColor colour = StatusColour(status);
    painter.setPen(QPen(colour.darker(160), s / 16.0));
    painter.setBrush(colour);
    painter.drawEllipse(QRectF(s * 0.30, s * 0.06, s * 0.40, s * 0.40));
    QPainterPath body;
    body.moveTo(s * 0.10, s * 0.96);
    body.cubicTo(s * 0.10, s * 0.50, s * 0.90, s * 0.50, s * 0.90, s * 0.96);
    body.closeSubpath();
    painter.drawPath(body);
    if (status == OnlineStatus::Away || status == OnlineStatus::NotAvailable) {
        const QRectF badge(s * 0.50, s * 0.50, s * 0.48, s * 0.48);
        painter.setPen(QPen(Qt::white, s / 16.0));
        painter.setBrush(colour.darker(130));
        painter.drawEllipse(badge);
        painter.setPen(QPen(Qt::white, s / 10.0, Qt::SolidLine, Qt::RoundCap));
        const QPointF centre = badge.center();
        if (status == OnlineStatus::Away) {
            painter.drawLine(centre, centre - QPointF(0, s * 0.15));
            painter.drawLine(centre, centre + QPointF(s * 0.11, 0));
        } else {
            painter.drawLine(centre - QPointF(s * 0.13, 0), centre + QPointF(s * 0.13, 0));
        }
    }
}

void DrawEnvelope(QPainter& painter, int size, bool highlighted) {
    const qreal s = size;
    const QRectF body(s * 0.06, s * 0.22, s * 0.88, s * 0.58);
    painter.setPen(QPen(QColor(60, 60, 90), s / 16.0));
    painter.setBrush(highlighted ? QColor(255, 220, 80) : QColor(250, 250, 250));
    painter.drawRect(body);
    QPainterPath flap;
    flap.moveTo(body.topLeft());
    flap.lineTo(body.center().x(), body.top() + body.height() * 0.55);
    flap.lineTo(body.topRight());
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(flap);
}

// A ring with one bright quarter that moves one step per picture.
void DrawConnecting(QPainter& painter, int size, int step) {
    const qreal s = size;
    const QRectF ring(s * 0.14, s * 0.14, s * 0.72, s * 0.72);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(170, 170, 170), s / 7.0));
    painter.drawEllipse(ring);
    painter.setPen(QPen(QColor(40, 120, 210), s / 7.0, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(ring, (90 - step * 90) * 16, -90 * 16);
}

QPixmap Draw(int size, const std::function<void(QPainter&, int)>& draw) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    draw(painter, size);
    return pixmap;
}

QIcon DrawIcon(const std::function<void(QPainter&, int)>& draw) {
    QIcon icon;
    for (const int size : IconSizes) {
        icon.addPixmap(Draw(size, draw));
    }
    return icon;
}

}  // namespace

QIcon TrayIconPicture(TrayPicture picture) {
    switch (picture) {
        case TrayPicture::Message1:
        case TrayPicture::Message2:
            return DrawIcon([picture](QPainter& painter, int size) {
                DrawEnvelope(painter, size, picture == TrayPicture::Message2);
            });
        case TrayPicture::Connecting1:
        case TrayPicture::Connecting2:
        case TrayPicture::Connecting3:
        case TrayPicture::Connecting4: {
            const int step = static_cast<int>(picture) - static_cast<int>(TrayPicture::Connecting1);
            return DrawIcon(
                [step](QPainter& painter, int size) { DrawConnecting(painter, size, step); });
        }
        case TrayPicture::Online:
            return DrawIcon([](QPainter& painter, int size) {
                DrawPerson(painter, size, OnlineStatus::Online);
            });
        case TrayPicture::Away:
            return DrawIcon(
                [](QPainter& painter, int size) { DrawPerson(painter, size, OnlineStatus::Away); });
        case TrayPicture::NotAvailable:
            return DrawIcon([](QPainter& painter, int size) {
                DrawPerson(painter, size, OnlineStatus::NotAvailable);
            });
        case TrayPicture::Offline:
            break;
    }
    return DrawIcon(
        [](QPainter& painter, int size) { DrawPerson(painter, size, OnlineStatus::Offline); });
}

QPixmap StatusBitmap(OnlineStatus status, int size) {
    return Draw(size, [status](QPainter& painter, int s) { DrawPerson(painter, s, status); });
}

QIcon ApplicationIcon() {
    return DrawIcon([](QPainter& painter, int size) {
        const qreal s = size;
        QPainterPath bubble;
        bubble.addRoundedRect(QRectF(s * 0.06, s * 0.08, s * 0.88, s * 0.66), s * 0.18, s * 0.18);
        QPainterPath tail;
        tail.moveTo(s * 0.24, s * 0.70);
        tail.lineTo(s * 0.16, s * 0.94);
        tail.lineTo(s * 0.44, s * 0.72);
        tail.closeSubpath();
        painter.setPen(QPen(QColor(20, 70, 140), s / 20.0));
        painter.setBrush(QColor(40, 120, 210));
        painter.drawPath(bubble.united(tail));
        QFont font;
        font.setBold(true);
        font.setPixelSize(static_cast<int>(s * 0.5));
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(QRectF(s * 0.06, s * 0.08, s * 0.88, s * 0.66), Qt::AlignCenter, "T");
    });
}

}  // namespace talvorine::client::ui

#include "talvorine/client/ui/contacts/contact_pictures.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <functional>
#include <string>

#include "talvorine/client/data/accounts.h"

namespace talvorine::client::ui::contacts {

namespace {

// Everything is drawn on a 32-unit grid and scaled to the picture's size.
QPixmap Canvas(int size, const std::function<void(QPainter&)>& draw) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);
    draw(painter);
    return pixmap;
}

void Person(QPainter& p, QColor colour) {
    p.setPen(QPen(colour.darker(170), 1.6));
    p.setBrush(colour);
    p.drawEllipse(QRectF(10, 3, 12, 12));
    QPainterPath body;
    body.moveTo(4, 30);
    body.cubicTo(4, 18, 28, 18, 28, 30);
    body.closeSubpath();
    p.drawPath(body);
}

void Envelope(QPainter& p, QRectF r, QColor paper, QColor edge) {
    p.setPen(QPen(edge, 1.6));
    p.setBrush(paper);
    p.drawRect(r);
    QPainterPath flap;
    flap.moveTo(r.topLeft());
    flap.lineTo(r.center().x(), r.top() + r.height() * 0.6);
    flap.lineTo(r.topRight());
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);
}

QPixmap StatusPicture(PictureKind kind, int size) {
    return Canvas(size, [kind](QPainter& p) {
        switch (kind) {
            case PictureKind::Normal:
                Person(p, QColor(60, 180, 75));
                break;
            case PictureKind::Away: {
                Person(p, QColor(230, 170, 30));
                p.setPen(QPen(QColor(90, 60, 0), 1.8));
                p.setBrush(Qt::white);
                p.drawEllipse(QRectF(17, 15, 14, 14));
                p.drawLine(QPointF(24, 22), QPointF(24, 17.5));
                p.drawLine(QPointF(24, 22), QPointF(27.5, 22));
                break;
            }
            case PictureKind::NotAvailable:
                Person(p, QColor(210, 60, 50));
                p.setPen(QPen(QColor(110, 0, 0), 1.4));
                p.setBrush(Qt::white);
                p.drawEllipse(QRectF(17, 15, 14, 14));
                p.setPen(QPen(QColor(200, 0, 0), 3));
                p.drawLine(QPointF(20, 22), QPointF(28, 22));
                break;
            case PictureKind::Unread:
                Envelope(p, QRectF(2, 7, 28, 19), QColor(255, 250, 205), QColor(150, 100, 0));
                break;
            case PictureKind::None:
                break;
        }
    });
}

}  // namespace

BuiltinPictures::BuiltinPictures() {
    const PictureKind kinds[] = {PictureKind::Normal, PictureKind::Away, PictureKind::NotAvailable,
                                 PictureKind::Unread};
    for (int k = 0; k < 4; ++k) {
        m_status[static_cast<std::size_t>(k * 2)] = StatusPicture(kinds[k], SmallPicture);
        m_status[static_cast<std::size_t>(k * 2 + 1)] = StatusPicture(kinds[k], LargePicture);
    }
    for (std::size_t i = 0; i < m_status.size(); ++i) {
        m_statusOff[i] = DisabledPicture(m_status[i]);
    }
    m_header[0] = Canvas(SmallPicture, [](QPainter& p) {
        Envelope(p, QRectF(2, 7, 28, 19), QColor(255, 220, 60), QColor(150, 80, 0));
    });
    m_header[1] = Canvas(SmallPicture, [](QPainter& p) {
        Envelope(p, QRectF(2, 7, 28, 19), QColor(255, 120, 40), QColor(120, 20, 0));
    });
    m_menu[0] = Canvas(SmallPicture, [](QPainter& p) {
        Envelope(p, QRectF(2, 7, 28, 19), Qt::white, QColor(40, 70, 150));
    });
    m_menu[1] = Canvas(SmallPicture, [](QPainter& p) {
        p.setPen(QPen(QColor(30, 90, 160), 1.6));
        p.setBrush(QColor(170, 210, 250));
        p.drawRoundedRect(QRectF(2, 3, 20, 14), 4, 4);
        p.setBrush(QColor(250, 240, 170));
        p.drawRoundedRect(QRectF(10, 13, 20, 14), 4, 4);
    });
    m_menu[2] = Canvas(SmallPicture, [](QPainter& p) {
        Person(p, QColor(150, 150, 150));
        p.setPen(QPen(QColor(210, 0, 0), 4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(17, 17), QPointF(29, 29));
        p.drawLine(QPointF(29, 17), QPointF(17, 29));
    });
    m_menu[3] = Canvas(SmallPicture, [](QPainter& p) {
        p.setPen(QPen(QColor(20, 140, 40), 4, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(5, 5, 22, 22), 30 * 16, 280 * 16);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(20, 140, 40));
        QPainterPath head;
        head.moveTo(21, 2);
        head.lineTo(31, 8);
        head.lineTo(21, 14);
        head.closeSubpath();
        p.drawPath(head);
    });
}

const QPixmap& BuiltinPictures::Status(PictureKind kind, bool large, bool online) const {
    int k = 0;
    switch (kind) {
        case PictureKind::Normal:
            k = 0;
            break;
        case PictureKind::Away:
            k = 1;
            break;
        case PictureKind::NotAvailable:
            k = 2;
            break;
        case PictureKind::Unread:
            k = 3;
            break;
        case PictureKind::None:
            return m_none;
    }
    const auto index = static_cast<std::size_t>(k * 2 + (large ? 1 : 0));
    return online ? m_status[index] : m_statusOff[index];
}

QIcon BuiltinPictures::Menu(MenuPicture picture) const {
    return QIcon(m_menu[static_cast<std::size_t>(picture)]);
}

const QPixmap& ContactPictures::Get(PictureKind kind, bool isLarge, bool online) const {
    static const QPixmap none;
    const auto& set = isLarge ? (online ? large : largeOff) : (online ? small : smallOff);
    switch (kind) {
        case PictureKind::Normal:
            return set[0];
        case PictureKind::Away:
            return set[1];
        case PictureKind::NotAvailable:
            return set[2];
        default:
            return none;
    }
}

ContactPictures LoadContactPictures(std::string_view accountId, std::string_view contactId) {
    ContactPictures pictures;
    const auto folder = data::AccountFolder(accountId);
    if (!folder || !data::IsValidId(contactId)) {
        return pictures;
    }
    const auto icons = *folder / "Icons";
    std::error_code ec;
    if (!std::filesystem::is_directory(icons, ec)) {
        return pictures;
    }
    for (std::size_t i = 0; i < 3; ++i) {
        const auto file = icons / (std::string(contactId) + "-" + std::to_string(i + 1) + ".bmp");
        if (!std::filesystem::is_regular_file(file, ec)) {
            continue;
        }
        QImage image(QString::fromStdString(file.string()), "BMP");
        if (image.isNull()) {
            continue;
        }
        image = image.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < image.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                if ((line[x] & 0xFFFFFF) == 0xFF00FF) {
                    line[x] = 0;
                }
            }
        }
        // Nearest-pixel scaling keeps the transparent edge crisp (no magenta fringe).
        pictures.small[i] = QPixmap::fromImage(image.scaled(
            SmallPicture, SmallPicture, Qt::IgnoreAspectRatio, Qt::FastTransformation));
        pictures.large[i] = QPixmap::fromImage(image.scaled(
            LargePicture, LargePicture, Qt::IgnoreAspectRatio, Qt::FastTransformation));
        pictures.smallOff[i] = DisabledPicture(pictures.small[i]);
        pictures.largeOff[i] = DisabledPicture(pictures.large[i]);
    }
    return pictures;
}

QPixmap DisabledPicture(const QPixmap& picture) {
    if (picture.isNull()) {
        return picture;
    }
    QImage image = picture.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int grey = 128 + qGray(line[x]) / 3;
            line[x] = qRgba(grey, grey, grey, qAlpha(line[x]) * 3 / 4);
        }
    }
    return QPixmap::fromImage(image);
}

}  // namespace talvorine::client::ui::contacts

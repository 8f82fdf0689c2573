#include "talvorine/client/ui/common/marks.h"

#include <QPainter>
#include <QPixmap>

namespace talvorine::client::ui {

QIcon NotAcceptedMark() {
    QPixmap picture(16, 16);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(200, 30, 30), 2.5));
    painter.drawLine(4, 4, 12, 12);
    painter.drawLine(12, 4, 4, 12);
    return QIcon(picture);
}

}  // namespace talvorine::client::ui

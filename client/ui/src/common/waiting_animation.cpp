#include "talvorine/client/ui/common/waiting_animation.h"

#include <QPainter>
#include <QtMath>

namespace talvorine::client::ui {

namespace {
constexpr int Dots = 8;
}

WaitingAnimation::WaitingAnimation(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("animation"));
    setFixedSize(32, 32);
    m_timer.setInterval(100);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % Dots;
        update();
    });
}

void WaitingAnimation::Start() {
    m_timer.start();
    update();
}

void WaitingAnimation::Stop() {
    m_timer.stop();
    update();
}

void WaitingAnimation::paintEvent(QPaintEvent*) {
    if (!m_timer.isActive()) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QPointF centre(width() / 2.0, height() / 2.0);
    const double radius = qMin(width(), height()) / 2.0 - 4.0;
    const QColor base = palette().color(QPalette::Highlight);
    for (int dot = 0; dot < Dots; ++dot) {
        const double angle = 2.0 * M_PI * dot / Dots;
        // The dot at the current step is the darkest; the ones behind it fade out.
        const int age = (m_step - dot + Dots) % Dots;
        QColor colour = base;
        colour.setAlphaF(1.0 - age / static_cast<double>(Dots));
        painter.setBrush(colour);
        painter.drawEllipse(centre + QPointF(radius * qCos(angle), radius * qSin(angle)), 3.0, 3.0);
    }
}

}  // namespace talvorine::client::ui

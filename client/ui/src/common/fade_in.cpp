#include "talvorine/client/ui/common/fade_in.h"

#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QPropertyAnimation>
#include <QWidget>

namespace talvorine::client::ui {

namespace {

class FadeOnShow : public QObject {
public:
    FadeOnShow(QWidget* target, bool page, int milliseconds)
        : QObject(target), m_target(target), m_page(page), m_milliseconds(milliseconds) {
        target->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_target && event->type() == QEvent::Show) {
            Start();
        }
        return false;
    }

private:
    void Start() {
        if (m_page) {
            // A child widget has no opacity of its own; an effect draws it blended and is
            // removed at the end so that the page draws normally again.
            auto* effect = new QGraphicsOpacityEffect(m_target);
            effect->setOpacity(0.0);
            m_target->setGraphicsEffect(effect);
            auto* animation = new QPropertyAnimation(effect, "opacity", effect);
            animation->setDuration(m_milliseconds);
            animation->setStartValue(0.0);
            animation->setEndValue(1.0);
            QWidget* target = m_target;
            connect(animation, &QPropertyAnimation::finished, target,
                    [target] { target->setGraphicsEffect(nullptr); });
            animation->start();
            return;
        }
        auto* animation = new QPropertyAnimation(m_target, "windowOpacity", this);
        animation->setDuration(m_milliseconds);
        animation->setStartValue(0.0);
        animation->setEndValue(1.0);
        animation->start(QAbstractAnimation::DeleteWhenStopped);
    }

    QWidget* m_target;
    bool m_page;
    int m_milliseconds;
};

}  // namespace

void FadeInWindow(QWidget* window, const FadeSettings& fade) {
    if (window != nullptr && fade.windows) {
        new FadeOnShow(window, false, static_cast<int>(fade.milliseconds));
    }
}

void FadeInPage(QWidget* page, const FadeSettings& fade) {
    if (page != nullptr && fade.pages) {
        new FadeOnShow(page, true, static_cast<int>(fade.milliseconds));
    }
}

}  // namespace talvorine::client::ui

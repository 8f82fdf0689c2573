#pragma once
// The small animation a window shows while it waits for a peer or a transfer: a ring of dots
// turning every 100 ms, drawn by our own code. Stopped, it shows nothing and takes no time.

#include <QTimer>
#include <QWidget>

namespace talvorine::client::ui {

class WaitingAnimation : public QWidget {
    Q_OBJECT
public:
    explicit WaitingAnimation(QWidget* parent = nullptr);

    void Start();
    void Stop();
    bool Running() const { return m_timer.isActive(); }

    QSize sizeHint() const override { return {32, 32}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer m_timer;
    int m_step = 0;
};

}  // namespace talvorine::client::ui

#pragma once
// "Away Mode": the away text with a countdown on OK that confirms the dialog by itself
// unless the user starts editing the text.

#include <QDialog>
#include <QString>
#include <optional>

class QLineEdit;
class QPushButton;
class QTimer;

namespace talvorine::client::ui {

// The countdown's rule without the window: each tick either shows a number on OK or,
// after ten numbers, confirms.
class AwayCountdown {
public:
    static constexpr int Start = 10;

    explicit AwayCountdown(bool running) : m_running(running) {}
    bool Running() const { return m_running; }
    // The number OK shows now, or nullopt when it is time to confirm (the countdown stops).
    std::optional<int> Tick();
    void Stop() { m_running = false; }

private:
    int m_count = Start;
    bool m_running;
};

class CDlgAwayMode : public QDialog {
    Q_OBJECT
public:
    explicit CDlgAwayMode(QWidget* parent = nullptr);
    ~CDlgAwayMode() override;

    // One second of the countdown (the dialog's timer calls it).
    void Tick();
    bool CountdownRunning() const { return m_countdown.Running(); }

public slots:
    void accept() override;
    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void StopCountdown();

    QLineEdit* m_text;
    QPushButton* m_ok;
    QTimer* m_timer;
    AwayCountdown m_countdown;
};

}  // namespace talvorine::client::ui

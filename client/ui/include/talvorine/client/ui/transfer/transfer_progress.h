#pragma once
// The progress row of the transfer windows: the waiting animation, a bar and the "%d%%" label.
// The bar counts tenths of a percent, since QProgressBar counts in int and a size in 32 bits.

#include <QWidget>
#include <cstdint>

class QLabel;
class QProgressBar;

namespace talvorine::client::ui {

class WaitingAnimation;

class TransferProgressRow : public QWidget {
    Q_OBJECT
public:
    explicit TransferProgressRow(QWidget* parent = nullptr);

    void StartAnimation();
    void StopAnimation();
    // `done` of `size` bytes; the label shows done × 100 / size rounded down.
    void Show(std::uint64_t done, std::uint32_t size);

private:
    WaitingAnimation* m_animation;
    QProgressBar* m_bar;
    QLabel* m_percent;
};

}  // namespace talvorine::client::ui

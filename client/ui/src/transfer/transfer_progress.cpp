#include "talvorine/client/ui/transfer/transfer_progress.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>

#include "talvorine/client/session/file_transfer.h"
#include "talvorine/client/ui/common/waiting_animation.h"

namespace talvorine::client::ui {

namespace {
constexpr int BarRange = 1000;
}

TransferProgressRow::TransferProgressRow(QWidget* parent) : QWidget(parent) {
    m_animation = new WaitingAnimation(this);
    m_bar = new QProgressBar(this);
    m_bar->setObjectName(QStringLiteral("progress"));
    m_bar->setRange(0, BarRange);
    m_bar->setTextVisible(false);
    m_percent = new QLabel(QStringLiteral("0%"), this);
    m_percent->setObjectName(QStringLiteral("percent"));
    m_percent->setMinimumWidth(40);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_animation);
    layout->addWidget(m_bar, 1);
    layout->addWidget(m_percent);
}

void TransferProgressRow::StartAnimation() {
    m_animation->Start();
}

void TransferProgressRow::StopAnimation() {
    m_animation->Stop();
}

void TransferProgressRow::Show(std::uint64_t done, std::uint32_t size) {
    m_bar->setValue(size == 0 ? 0 : static_cast<int>(done * BarRange / size));
    m_percent->setText(QStringLiteral("%1%").arg(session::TransferPercent(done, size)));
}

}  // namespace talvorine::client::ui

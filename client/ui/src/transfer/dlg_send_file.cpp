#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "talvorine/client/data/client_settings.h"
#include "talvorine/client/ui/common/message_box.h"
#include "talvorine/client/ui/common/waiting_animation.h"
#include "talvorine/client/ui/transfer/dlg_transfer.h"

namespace talvorine::client::ui {

namespace {
// The bar shows tenths of a percent: QProgressBar counts in int, a size in 32 bits.
constexpr int BarRange = 1000;
}  // namespace

QString SizeText(std::uint64_t bytes) {
    std::string digits = std::to_string(bytes);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) {
        digits.insert(static_cast<std::size_t>(at), ",");
    }
    return QString::fromStdString(digits) + QStringLiteral(" bytes");
}

CDlgSendFile::CDlgSendFile(const PeerServices& services, std::string peerId, std::string nickname,
                           std::optional<std::filesystem::path> file)
    : m_services(services),
      m_peerId(std::move(peerId)),
      m_records(services.accountId()),
      m_sender(*services.channel, m_records, m_peerId) {
    setObjectName(QStringLiteral("CDlgSendFile"));
    setWindowTitle(QStringLiteral("Send File"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* form = new QFormLayout;
    auto* to = new QLineEdit(
        QStringLiteral("%1 (%2)").arg(ToQString(nickname), ToQString(m_peerId)), this);
    to->setObjectName(QStringLiteral("to"));
    to->setReadOnly(true);
    form->addRow(QStringLiteral("To:"), to);

    m_fileName = new QLineEdit(this);
    m_fileName->setObjectName(QStringLiteral("fileName"));
    m_fileName->setReadOnly(true);
    m_browse = new QPushButton(QStringLiteral("&Browse..."), this);
    m_browse->setObjectName(QStringLiteral("browse"));
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(m_fileName, 1);
    fileRow->addWidget(m_browse);
    auto* fileLabel = new QLabel(QStringLiteral("File:"), this);
    fileLabel->setBuddy(m_fileName);
    form->addRow(fileLabel, fileRow);

    m_size = new QLineEdit(this);
    m_size->setObjectName(QStringLiteral("size"));
    m_size->setReadOnly(true);
    form->addRow(QStringLiteral("Size:"), m_size);
    m_description = new QLineEdit(this);
    m_description->setObjectName(QStringLiteral("description"));
    m_description->setMaxLength(static_cast<int>(session::MaxDescriptionBytes));
    form->addRow(QStringLiteral("&Description:"), m_description);

    m_bar = new QProgressBar(this);
    m_bar->setObjectName(QStringLiteral("progress"));
    m_bar->setRange(0, BarRange);
    m_bar->setTextVisible(false);
    m_percent = new QLabel(QStringLiteral("0%"), this);
    m_percent->setObjectName(QStringLiteral("percent"));
    m_percent->setMinimumWidth(40);
    m_animation = new WaitingAnimation(this);
    auto* progressRow = new QHBoxLayout;
    progressRow->addWidget(m_animation);
    progressRow->addWidget(m_bar, 1);
    progressRow->addWidget(m_percent);

    m_send = new QPushButton(QStringLiteral("&Send"), this);
    m_send->setObjectName(QStringLiteral("send"));
    m_send->setDefault(true);
    m_send->setEnabled(false);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_send);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(progressRow);
    layout->addLayout(buttons);
    connect(m_browse, &QPushButton::clicked, this, &CDlgSendFile::Browse);
    connect(m_send, &QPushButton::clicked, this, &CDlgSendFile::Send);
    connect(cancel, &QPushButton::clicked, this, &CDlgSendFile::reject);
    m_progressTimer.setInterval(100);
    connect(&m_progressTimer, &QTimer::timeout, this, &CDlgSendFile::ShowProgress);
    resize(440, 230);

    if (file) {
        ChooseFile(*file);
    } else {
        QTimer::singleShot(0, this, &CDlgSendFile::Browse);
    }
}

CDlgSendFile::~CDlgSendFile() {
    m_closing = true;
    m_sender.Cancel();
    WaitServingEvents(m_worker);
}

void CDlgSendFile::Browse() {
    if (m_worker.Running()) {
        return;
    }
    const QString chosen = QFileDialog::getOpenFileName(this, QStringLiteral("Send File"));
    if (!chosen.isEmpty()) {
        ChooseFile(chosen.toStdString());
    }
}

void CDlgSendFile::ChooseFile(const std::filesystem::path& file) {
    if (m_worker.Running()) {
        return;
    }
    m_fileReady = false;
    m_send->setEnabled(false);
    m_fileName->clear();
    m_size->clear();
    if (const auto refusal = m_sender.Open(file)) {
        ShowWarning(this, ToQString(*refusal));
        return;
    }
    m_fileReady = true;
    m_path = file;
    m_fileName->setText(ToQString(m_sender.FileName()));
    std::error_code ignored;
    m_size->setText(SizeText(std::filesystem::file_size(file, ignored)));
    m_send->setEnabled(true);
}

void CDlgSendFile::Send() {
    if (!m_fileReady || m_worker.Running()) {
        return;
    }
    if (const auto refusal = m_sender.CheckSend()) {
        ShowWarning(this, ToQString(*refusal));
        return;
    }
    m_animation->Start();
    m_send->setEnabled(false);
    m_browse->setEnabled(false);
    m_description->setEnabled(false);
    m_progress.done = 0;
    m_progress.size = m_sender.Size();
    ShowProgress();
    m_progressTimer.start();
    const std::string description = ToStdString(m_description->text());
    m_worker.Start([this, description] {
        auto result = std::make_shared<session::TransferResult>(m_sender.Run(
            [this](std::uint64_t done, std::uint32_t) { m_progress.done = done; }, description));
        QMetaObject::invokeMethod(
            this, [this, result] { Finished(std::move(*result)); }, Qt::QueuedConnection);
    });
}

int CDlgSendFile::Percent() const {
    return session::TransferPercent(m_progress.done.load(), m_progress.size);
}

void CDlgSendFile::ShowProgress() {
    const std::uint64_t done = m_progress.done.load();
    const std::uint32_t size = m_progress.size;
    m_bar->setValue(size == 0 ? 0 : static_cast<int>(done * BarRange / size));
    m_percent->setText(QStringLiteral("%1%").arg(Percent()));
}

void CDlgSendFile::Finished(session::TransferResult result) {
    if (m_closing || result.end == session::TransferResult::End::Canceled) {
        return;
    }
    m_worker.Join();
    m_progressTimer.stop();
    ShowProgress();
    m_animation->Stop();
    if (result.end == session::TransferResult::End::Done) {
        m_services.Play(data::SoundEvent::FileSent);
        m_closing = true;
        close();
        return;
    }
    m_browse->setEnabled(true);
    m_description->setEnabled(true);
    m_progress.done = 0;
    ShowProgress();
    ShowWarning(this, ToQString(result.reason));
    // The same file can be sent again: the ended run closed it, so it is opened afresh.
    ChooseFile(m_path);
}

void CDlgSendFile::reject() {
    m_closing = true;
    m_sender.Cancel();
    QDialog::reject();
}

}  // namespace talvorine::client::ui

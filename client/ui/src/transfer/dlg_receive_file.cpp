#include <QDateTime>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "talvorine/client/ui/common/message_box.h"
#include "talvorine/client/ui/common/waiting_animation.h"
#include "talvorine/client/ui/transfer/dlg_transfer.h"
#include "talvorine/client/ui/transfer/open_path.h"

namespace talvorine::client::ui {

namespace {

constexpr int BarRange = 1000;

QLineEdit* ReadOnlyField(const QString& text, const char* name, QWidget* parent) {
    auto* field = new QLineEdit(text, parent);
    field->setObjectName(QString::fromLatin1(name));
    field->setReadOnly(true);
    field->setCursorPosition(0);
    return field;
}

}  // namespace

CDlgReceiveFile::CDlgReceiveFile(const PeerServices& services, const session::FileOffer& offer,
                                 FileArrived arrived)
    : m_services(services), m_arrived(std::move(arrived)), m_records(services.accountId()) {
    setObjectName(QStringLiteral("CDlgReceiveFile"));
    setWindowTitle(QStringLiteral("Receive File"));
    setAttribute(Qt::WA_DeleteOnClose);
    m_receiver =
        std::make_unique<session::FileReceiver>(m_records, services.receiveOptions(), offer);

    auto* form = new QFormLayout;
    form->addRow(
        QStringLiteral("From:"),
        ReadOnlyField(QStringLiteral("%1 (%2)").arg(ToQString(services.NicknameOf(offer.senderId)),
                                                    ToQString(offer.senderId)),
                      "from", this));
    form->addRow(QStringLiteral("Address:"),
                 ReadOnlyField(ToQString(offer.AddressText() + ":" + std::to_string(offer.port)),
                               "address", this));
    form->addRow(QStringLiteral("File:"),
                 ReadOnlyField(ToQString(offer.fileName), "fileName", this));
    form->addRow(QStringLiteral("Size:"), ReadOnlyField(SizeText(offer.size), "size", this));
    form->addRow(QStringLiteral("Description:"),
                 ReadOnlyField(ToQString(offer.description), "description", this));

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

    m_receive = new QPushButton(QStringLiteral("&Receive"), this);
    m_receive->setObjectName(QStringLiteral("receive"));
    m_receive->setDefault(true);
    m_refuse = new QPushButton(QStringLiteral("Re&fuse"), this);
    m_refuse->setObjectName(QStringLiteral("refuse"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_receive);
    buttons->addWidget(m_refuse);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(progressRow);
    layout->addLayout(buttons);
    connect(m_receive, &QPushButton::clicked, this, &CDlgReceiveFile::Receive);
    connect(m_refuse, &QPushButton::clicked, this, &CDlgReceiveFile::Refuse);
    m_progressTimer.setInterval(100);
    connect(&m_progressTimer, &QTimer::timeout, this, &CDlgReceiveFile::ShowProgress);
    m_progress.size = offer.size;
    resize(440, 250);

    switch (m_receiver->Decision()) {
        case session::ReceiveDecision::Accept:
            QTimer::singleShot(0, this, &CDlgReceiveFile::Receive);
            break;
        case session::ReceiveDecision::Refuse:
            QTimer::singleShot(0, this, &CDlgReceiveFile::Refuse);
            break;
        case session::ReceiveDecision::Ask:
            break;
    }
}

CDlgReceiveFile::~CDlgReceiveFile() {
    m_closing = true;
    m_receiver->Cancel();
    WaitServingEvents(m_worker);
}

std::optional<std::filesystem::path> CDlgReceiveFile::AskSavePath(
    const std::filesystem::path& proposal) {
    if (askSavePath) {
        return askSavePath(proposal);
    }
    // QFileDialog asks before it lets an existing file be chosen.
    const QString chosen =
        QFileDialog::getSaveFileName(this, QStringLiteral("Save As"), ToQString(proposal.string()));
    if (chosen.isEmpty()) {
        return std::nullopt;
    }
    return std::filesystem::path(chosen.toStdString());
}

void CDlgReceiveFile::SetBusy(bool busy) {
    m_receive->setEnabled(!busy);
    m_refuse->setEnabled(!busy);
    if (busy) {
        m_animation->Start();
    } else {
        m_animation->Stop();
    }
}

void CDlgReceiveFile::Receive() {
    if (m_worker.Running() || !m_receive->isEnabled()) {
        return;
    }
    const auto target = m_receiver->ChooseTarget(*this);
    if (!target) {
        return;  // the request stays open
    }
    if (const auto failure = m_receiver->OpenTarget(*target)) {
        ShowWarning(this, ToQString(*failure));
        return;
    }
    SetBusy(true);
    m_progress.done = 0;
    m_progressTimer.start();
    m_worker.Start([this] {
        auto result = std::make_shared<session::TransferResult>(m_receiver->Receive(
            [this](std::uint64_t done, std::uint32_t) { m_progress.done = done; }));
        QMetaObject::invokeMethod(
            this, [this, result] { Finished(std::move(*result)); }, Qt::QueuedConnection);
    });
}

void CDlgReceiveFile::Refuse() {
    if (m_worker.Running() || !m_refuse->isEnabled()) {
        return;
    }
    SetBusy(true);
    m_worker.Start([this] {
        auto result = std::make_shared<session::TransferResult>(m_receiver->Refuse());
        QMetaObject::invokeMethod(
            this, [this, result] { Finished(std::move(*result)); }, Qt::QueuedConnection);
    });
}

int CDlgReceiveFile::Percent() const {
    return session::TransferPercent(m_progress.done.load(), m_progress.size);
}

void CDlgReceiveFile::ShowProgress() {
    const std::uint64_t done = m_progress.done.load();
    m_bar->setValue(m_progress.size == 0 ? 0 : static_cast<int>(done * BarRange / m_progress.size));
    m_percent->setText(QStringLiteral("%1%").arg(Percent()));
}

void CDlgReceiveFile::Finished(session::TransferResult result) {
    if (m_closing || result.end == session::TransferResult::End::Canceled) {
        return;
    }
    m_worker.Join();
    m_progressTimer.stop();
    ShowProgress();
    SetBusy(false);
    m_closing = true;
    if (result.end == session::TransferResult::End::Done && m_arrived) {
        m_arrived(m_receiver->Offer(), m_receiver->Target());
    } else if (result.end == session::TransferResult::End::Failed) {
        ShowInformation(this, ToQString(result.reason));
    }
    close();
}

void CDlgReceiveFile::reject() {
    m_closing = true;
    m_receiver->Cancel();
    QDialog::reject();
}

// ---------------------------------------------------------------------------------------
// "File Received"

CDlgFileReceived::CDlgFileReceived(const std::string& senderId, const std::string& nickname,
                                   const std::string& fileName, std::filesystem::path savedAs,
                                   std::function<bool(const QUrl&)> openUrl)
    : m_savedAs(std::move(savedAs)), m_openUrl(std::move(openUrl)) {
    if (!m_openUrl) {
        m_openUrl = DesktopOpener();
    }
    setObjectName(QStringLiteral("CDlgFileReceived"));
    setWindowTitle(QStringLiteral("File Received"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* form = new QFormLayout;
    form->addRow(
        QStringLiteral("From:"),
        ReadOnlyField(QStringLiteral("%1 (%2)").arg(ToQString(nickname), ToQString(senderId)),
                      "from", this));
    form->addRow(
        QStringLiteral("Time:"),
        ReadOnlyField(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                      "time", this));
    form->addRow(QStringLiteral("File:"), ReadOnlyField(ToQString(fileName), "fileName", this));
    auto* saved = ReadOnlyField(ToQString(m_savedAs.string()), "savedAs", this);
    // The whole path should show; a very long one scrolls in its field.
    saved->setMinimumWidth(
        std::min(640, saved->fontMetrics().horizontalAdvance(saved->text()) + 16));
    form->addRow(QStringLiteral("Saved as:"), saved);

    auto* openFile = new QPushButton(QStringLiteral("&Open File"), this);
    openFile->setObjectName(QStringLiteral("openFile"));
    auto* openFolder = new QPushButton(QStringLiteral("Open &Folder"), this);
    openFolder->setObjectName(QStringLiteral("openFolder"));
    auto* closeButton = new QPushButton(QStringLiteral("&Close"), this);
    closeButton->setObjectName(QStringLiteral("close"));
    closeButton->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(openFile);
    buttons->addWidget(openFolder);
    buttons->addStretch(1);
    buttons->addWidget(closeButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    connect(openFile, &QPushButton::clicked, this, &CDlgFileReceived::OpenFile);
    connect(openFolder, &QPushButton::clicked, this, &CDlgFileReceived::OpenFolder);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::accept);
    adjustSize();
}

void CDlgFileReceived::OpenFile() {
    if (OpenLocalPath(this, m_savedAs, true, m_openUrl)) {
        accept();
    }
}

void CDlgFileReceived::OpenFolder() {
    if (OpenLocalPath(this, m_savedAs.parent_path(), false, m_openUrl)) {
        accept();
    }
}

}  // namespace talvorine::client::ui

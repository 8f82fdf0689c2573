#pragma once
// The file-transfer windows: "Send File" (choose, describe and send one file to a contact),
// "Receive File" (an offered file: receive or refuse) and "File Received" (open the file or
// its folder). Each transfer runs on a worker of its window; progress is read by the window's
// timer, so a gigabyte does not flood the window with a quarter of a million updates.

#include <QDialog>
#include <QTimer>
#include <QUrl>
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>

#include "talvorine/client/session/data_adapters.h"
#include "talvorine/client/session/file_transfer.h"
#include "talvorine/client/ui/chat/peer_services.h"
#include "talvorine/client/ui/transfer/open_path.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace talvorine::client::ui {

class WaitingAnimation;

// The shared progress of a running transfer: written by its worker, shown by its window.
struct TransferProgressView {
    std::atomic<std::uint64_t> done{0};
    std::uint32_t size = 0;
};

class CDlgSendFile : public QDialog {
    Q_OBJECT
public:
    // Without `file` the open-file dialog is shown first (cancelling it leaves the window empty).
    CDlgSendFile(const PeerServices& services, std::string peerId, std::string nickname,
                 std::optional<std::filesystem::path> file = std::nullopt);
    ~CDlgSendFile() override;

    const std::string& PeerId() const { return m_peerId; }
    // Takes another file (the "Browse..." button and files dropped later on the contact).
    void ChooseFile(const std::filesystem::path& file);
    void Browse();
    void Send();
    bool Sending() const { return m_worker.Running(); }
    int Percent() const;

    void reject() override;

private:
    void Finished(session::TransferResult result);
    void ShowProgress();

    const PeerServices& m_services;
    std::string m_peerId;
    session::AccountTransferRecords m_records;
    session::FileSender m_sender;
    session::Worker m_worker;
    TransferProgressView m_progress;
    QTimer m_progressTimer;
    bool m_closing = false;
    bool m_fileReady = false;
    std::filesystem::path m_path;
    QLineEdit* m_fileName;
    QLineEdit* m_size;
    QLineEdit* m_description;
    QProgressBar* m_bar;
    QLabel* m_percent;
    QPushButton* m_browse;
    QPushButton* m_send;
    WaitingAnimation* m_animation;
};

// What opens the "File Received" window when a receipt is complete.
using FileArrived =
    std::function<void(const session::FileOffer& offer, const std::filesystem::path& savedAs)>;

class CDlgReceiveFile : public QDialog, private session::SavePrompt {
    Q_OBJECT
public:
    // Creates the transfer record; "AcceptMode" 1 or 2 receives or refuses at once.
    CDlgReceiveFile(const PeerServices& services, const session::FileOffer& offer,
                    FileArrived arrived);
    ~CDlgReceiveFile() override;

    const std::string& PeerId() const { return m_receiver->Offer().senderId; }
    void Receive();
    void Refuse();
    bool Receiving() const { return m_worker.Running(); }
    int Percent() const;

    void reject() override;

    // The save dialog; tests replace it.
    std::function<std::optional<std::filesystem::path>(const std::filesystem::path&)> askSavePath;

private:
    std::optional<std::filesystem::path> AskSavePath(
        const std::filesystem::path& proposal) override;
    void Finished(session::TransferResult result);
    void ShowProgress();
    void SetBusy(bool busy);

    const PeerServices& m_services;
    FileArrived m_arrived;
    session::AccountTransferRecords m_records;
    std::unique_ptr<session::FileReceiver> m_receiver;
    session::Worker m_worker;
    TransferProgressView m_progress;
    QTimer m_progressTimer;
    bool m_closing = false;
    QProgressBar* m_bar;
    QLabel* m_percent;
    QPushButton* m_receive;
    QPushButton* m_refuse;
    WaitingAnimation* m_animation;
};

class CDlgFileReceived : public QDialog {
    Q_OBJECT
public:
    // `openUrl` hands a file or folder to the desktop (QDesktopServices by default).
    CDlgFileReceived(const std::string& senderId, const std::string& nickname,
                     const std::string& fileName, std::filesystem::path savedAs,
                     std::function<bool(const QUrl&)> openUrl = {});

    // "&Open File": a received program or launcher is opened only when confirmed.
    void OpenFile();
    // "Open &Folder": the folder part of the saved path.
    void OpenFolder();

private:
    std::filesystem::path m_savedAs;
    std::function<bool(const QUrl&)> m_openUrl;
};

// The text of a size in bytes for the windows ("1,234 bytes").
QString SizeText(std::uint64_t bytes);

}  // namespace talvorine::client::ui

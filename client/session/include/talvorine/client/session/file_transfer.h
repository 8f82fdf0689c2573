#pragma once
// File transfer: the request relayed through the server, the receiver's answer, and the raw
// file bytes over a direct connection (the sender listens, the receiver connects) in chunks of
// at most 4096 bytes. Both sides keep a transfer record of how the transfer went.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "talvorine/client/session/data_ports.h"
#include "talvorine/client/session/server_session.h"
#include "talvorine/client/session/worker.h"
#include "talvorine/protocol/catalogue.h"

namespace talvorine::client::session {

inline constexpr std::size_t TransferChunkSize = 4096;
inline constexpr std::size_t MaxOfferedNameBytes = protocol::Size::FileName - 6;  // 255
inline constexpr std::size_t MaxDescriptionBytes = protocol::Size::FileDescription - 1;

// bytes × 100 / size, rounded down, without overflow for any 32-bit size.
int TransferPercent(std::uint64_t done, std::uint32_t size);

// The part of an offered name that may become a file name here: what follows the last "/"
// or "\\"; "." and ".." and empty names become "received file".
std::string SafeFileName(std::string_view offered);

// Called on the transfer thread after every chunk.
using TransferProgress = std::function<void(std::uint64_t done, std::uint32_t size)>;

struct TransferResult {
    enum class End { Done, Refused, Failed, Canceled };
    End end = End::Failed;
    std::string reason;  // Failed (and the sender's Refused): "Failed: " + the reason
    std::filesystem::path record;
};

// The "Send File" window's side.
class FileSender {
public:
    FileSender(RequestChannel& channel, TransferRecords& records, std::string peerId);

    // Chooses the file: "Failed to open this file" when it cannot be read; nullopt when ready.
    std::optional<std::string> Open(const std::filesystem::path& file);
    // "Can not send zero length file" (and sizes that do not fit 32 bits); nullopt when the
    // file may be sent.
    std::optional<std::string> CheckSend() const;
    // The sending thread: request 46, the receiver's connection and answer, the bytes. Writes
    // "Accepted" and "Status" into the transfer record.
    TransferResult Run(const TransferProgress& progress, std::string_view description);
    // The window is closing: wake whatever the thread waits for.
    void Cancel();

    std::uint32_t Size() const { return static_cast<std::uint32_t>(m_size); }
    std::string FileName() const { return m_file.filename().string(); }

private:
    TransferResult Finish(TransferResult result, const std::string& failure);

    RequestChannel& m_channel;
    TransferRecords& m_records;
    std::string m_peerId;
    std::filesystem::path m_file;
    std::ifstream m_stream;
    std::uint64_t m_size = 0;
    std::filesystem::path m_record;
    SocketWaker m_waker;
    std::atomic<bool> m_closing{false};
};

// A relayed file request as the receiving side reads it.
struct FileOffer {
    std::string senderId;
    std::uint32_t address = 0;  // network byte order
    std::uint16_t port = 0;
    std::string fileName;
    std::uint32_t size = 0;
    std::string description;

    static FileOffer From(const protocol::FileRequest& request);
    std::string AddressText() const;
};

// The platform's save dialog with overwrite confirmation; nullopt when cancelled.
class SavePrompt {
public:
    virtual ~SavePrompt() = default;
    virtual std::optional<std::filesystem::path> AskSavePath(
        const std::filesystem::path& proposal) = 0;
};

enum class ReceiveDecision { Ask, Accept, Refuse };

// The "Receive File" window's side.
class FileReceiver {
public:
    // Creates the transfer record ("Type" "1").
    FileReceiver(TransferRecords& records, FileReceiveOptions options, FileOffer offer);
    ~FileReceiver();
    FileReceiver(const FileReceiver&) = delete;
    FileReceiver& operator=(const FileReceiver&) = delete;

    const FileOffer& Offer() const { return m_offer; }
    const std::filesystem::path& Record() const { return m_record; }
    // What "AcceptMode" says to do at once.
    ReceiveDecision Decision() const;
    // The file to write, by "UseUserName" and "OverwriteMode"; asks `prompt` where the rules
    // ask the user. nullopt when the user cancelled (the request stays open).
    std::optional<std::filesystem::path> ChooseTarget(SavePrompt& prompt) const;
    // Creates the file the bytes go into ("Failed to create file" when it cannot) and records
    // "Accepted" "1" and "Saved As". The bytes are written to a temporary file beside the
    // target, which replaces the target only when the whole file has arrived: a refused, failed
    // or cancelled transfer leaves an existing file as it was and no partial one under its name.
    std::optional<std::string> OpenTarget(const std::filesystem::path& target);
    // The receiving thread after OpenTarget: connects, answers 0 and reads the bytes.
    TransferResult Receive(const TransferProgress& progress);
    // Records "Accepted" "0", connects and answers 1.
    TransferResult Refuse();
    void Cancel();
    const std::filesystem::path& Target() const { return m_target; }

private:
    TransferResult Fail(const std::string& failure);
    void DiscardPartial();

    TransferRecords& m_records;
    FileReceiveOptions m_options;
    FileOffer m_offer;
    std::filesystem::path m_record;
    std::filesystem::path m_target;
    std::filesystem::path m_partial;  // where the bytes go until the file is complete
    std::ofstream m_stream;
    SocketWaker m_waker;
    std::atomic<bool> m_closing{false};
};

}  // namespace talvorine::client::session

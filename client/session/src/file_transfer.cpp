#include "talvorine/client/session/file_transfer.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <system_error>
#include <vector>

#include "direct_link.h"
#include "talvorine/client/session/texts.h"
#include "talvorine/platform/text.h"
#include "talvorine/protocol/net_error.h"
#include "talvorine/protocol/packet.h"
#include "wire_util.h"

namespace talvorine::client::session {

namespace fs = std::filesystem;
namespace pt = protocol::PacketType;
using protocol::NetError;

int TransferPercent(std::uint64_t done, std::uint32_t size) {
    if (size == 0) {
        return 100;
    }
    return static_cast<int>(done * 100 / size);
}

std::string SafeFileName(std::string_view offered) {
    const auto slash = offered.find_last_of("/\\");
    if (slash != std::string_view::npos) {
        offered.remove_prefix(slash + 1);
    }
    if (offered.empty() || offered == "." || offered == "..") {
        return "received file";
    }
    return std::string(offered);
}

namespace {

// Record writes never stop a transfer: the history is secondary to the file itself.
template <typename Update>
void RecordQuietly(const fs::path& record, Update&& update) {
    if (record.empty()) {
        return;
    }
    try {
        update();
    } catch (const std::exception&) {
    }
}

fs::path CreateQuietly(TransferRecords& records, std::string_view peerId,
                       const TransferRecordStart& start) {
    try {
        return records.Create(peerId, start);
    } catch (const std::exception&) {
        return {};
    }
}

std::string FailedText(std::string_view failure) {
    return std::string(data::TransferStatus::FailedPrefix) + std::string(failure);
}

// A cancelled transfer ends with a reset, so that the peer stops at once instead of waiting
// out its time-out against a connection nobody reads any more.
void ResetOnClose(protocol::SocketHandle socket) {
    if (socket == protocol::InvalidSocket) {
        return;
    }
    linger abort{};
    abort.l_onoff = 1;
    abort.l_linger = 0;
    ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
}

// Sends all of `data`; a partial send goes on where it stopped.
void SendAll(protocol::SocketHandle socket, std::span<const std::uint8_t> data) {
    while (!data.empty()) {
        const long sent = protocol::SendRaw(socket, data, protocol::Timeout::Default);
        if (sent == 0) {
            throw NetError(std::string(Text::ClosedByRemote));
        }
        if (sent < 0) {
            throw NetError(protocol::LastSocketErrorText());
        }
        data = data.subspan(static_cast<std::size_t>(sent));
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Sender

FileSender::FileSender(RequestChannel& channel, TransferRecords& records, std::string peerId)
    : m_channel(channel), m_records(records), m_peerId(std::move(peerId)) {}

std::optional<std::string> FileSender::Open(const fs::path& file) {
    m_stream.close();
    std::error_code ec;
    if (fs::is_directory(file, ec)) {
        return std::string(Text::DirectoryNotSupported);
    }
    m_stream.open(file, std::ios::binary);
    const auto size = fs::file_size(file, ec);
    if (!m_stream || ec) {
        m_stream.close();
        return std::string(Text::FailedToOpenFile);
    }
    m_file = fs::absolute(file, ec);
    m_size = size;
    return std::nullopt;
}

std::optional<std::string> FileSender::CheckSend() const {
    if (!m_stream.is_open()) {
        return std::string(Text::FailedToOpenFile);
    }
    if (m_size == 0) {
        return std::string(Text::ZeroLengthFile);
    }
    if (m_size > std::numeric_limits<std::uint32_t>::max()) {
        return std::string(Text::FileTooLarge);
    }
    return std::nullopt;
}

void FileSender::Cancel() {
    m_closing = true;
    m_waker.Wake();
}

TransferResult FileSender::Finish(TransferResult result, const std::string& failure) {
    if (result.end == TransferResult::End::Done) {
        RecordQuietly(m_record, [&] { m_records.SetStatus(m_record, data::TransferStatus::Done); });
    } else if (m_closing) {
        result.end = TransferResult::End::Canceled;
        RecordQuietly(m_record,
                      [&] { m_records.SetStatus(m_record, data::TransferStatus::Canceled); });
    } else {
        result.reason = FailedText(failure);
        RecordQuietly(m_record, [&] { m_records.SetStatus(m_record, result.reason); });
    }
    result.record = m_record;
    m_stream.close();
    return result;
}

TransferResult FileSender::Run(const TransferProgress& progress, std::string_view description) {
    TransferResult result;
    if (const auto refusal = CheckSend()) {
        result.reason = *refusal;
        return result;
    }
    const auto descriptionText = platform::CutUtf8(description, MaxDescriptionBytes);
    // Created before anything can fail, so that every end of the transfer is recorded.
    m_record = CreateQuietly(m_records, m_peerId,
                             TransferRecordStart{data::TransferType::Outgoing, m_file.string(),
                                                 Size(), std::string(descriptionText)});
    WakeableSocket listening(m_waker);
    WakeableSocket direct(m_waker);
    try {
        protocol::FileRequest request;
        request.address.port = detail::ListenForPeer(listening);
        request.userId = m_peerId;
        request.fileName = platform::CutUtf8(FileName(), MaxOfferedNameBytes);
        request.fileSize = Size();
        request.description = descriptionText;
        const auto receiver = detail::RelayRequest(m_channel, pt::FileRequest, request.Encode());
        detail::AcceptPeer(listening, direct, receiver);

        std::vector<std::uint8_t> buffer(protocol::Capacity::ClientReply);
        const auto answer =
            protocol::ReceivePacket(direct.Get(), buffer, protocol::Timeout::Default);
        const bool accepted = answer.type == pt::Ok;
        RecordQuietly(m_record, [&] { m_records.SetAccepted(m_record, accepted); });
        if (!accepted) {
            result.end = TransferResult::End::Refused;
            throw NetError(std::string(Text::TransferNotAccepted));
        }

        std::vector<std::uint8_t> chunk(TransferChunkSize);
        std::uint64_t total = 0;
        while (total < m_size) {
            const auto want =
                static_cast<std::streamsize>(std::min<std::uint64_t>(chunk.size(), m_size - total));
            m_stream.read(reinterpret_cast<char*>(chunk.data()), want);
            const auto got = static_cast<std::size_t>(m_stream.gcount());
            if (got == 0) {
                throw NetError("The file became shorter while it was being sent");
            }
            SendAll(direct.Get(), std::span(chunk).first(got));
            total += got;
            if (progress) {
                progress(total, Size());
            }
        }
        result.end = TransferResult::End::Done;
        return Finish(std::move(result), {});
    } catch (const std::exception& e) {
        if (m_closing) {
            ResetOnClose(direct.Get());
        }
        if (result.end != TransferResult::End::Refused) {
            result.end = TransferResult::End::Failed;
        }
        return Finish(std::move(result), e.what());
    }
}

// ---------------------------------------------------------------------------------------
// Receiver

FileOffer FileOffer::From(const protocol::FileRequest& request) {
    return FileOffer{request.userId,   request.address.address, request.address.port,
                     request.fileName, request.fileSize,        request.description};
}

std::string FileOffer::AddressText() const {
    return detail::DottedAddress(address);
}

FileReceiver::FileReceiver(TransferRecords& records, FileReceiveOptions options, FileOffer offer)
    : m_records(records), m_options(std::move(options)), m_offer(std::move(offer)) {
    m_record = CreateQuietly(m_records, m_offer.senderId,
                             TransferRecordStart{data::TransferType::Incoming, m_offer.fileName,
                                                 m_offer.size, m_offer.description});
}

ReceiveDecision FileReceiver::Decision() const {
    switch (m_options.acceptMode) {
        case 1:
            return ReceiveDecision::Accept;
        case 2:
            return ReceiveDecision::Refuse;
        default:
            return ReceiveDecision::Ask;
    }
}

std::optional<fs::path> FileReceiver::ChooseTarget(SavePrompt& prompt) const {
    fs::path folder = m_options.receiveFolder;
    if (m_options.useUserName) {
        folder /= SafeFileName(m_offer.senderId);
    }
    std::error_code ec;
    const bool usable = fs::is_directory(folder, ec) || fs::create_directories(folder, ec) ||
                        fs::is_directory(folder, ec);
    const auto name = SafeFileName(m_offer.fileName);
    if (m_options.acceptMode == 1 && usable) {
        const auto target = folder / name;
        if (!fs::exists(target, ec) || m_options.overwriteMode == 0) {
            return target;
        }
        if (m_options.overwriteMode == 1) {
            for (unsigned n = 1;; ++n) {
                const auto candidate = folder / ("(" + std::to_string(n) + ")" + name);
                if (!fs::exists(candidate, ec)) {
                    return candidate;
                }
            }
        }
    }
    return prompt.AskSavePath(usable ? folder / name : fs::path(name));
}

FileReceiver::~FileReceiver() {
    DiscardPartial();
}

void FileReceiver::DiscardPartial() {
    m_stream.close();
    if (!m_partial.empty()) {
        std::error_code ignored;
        fs::remove(m_partial, ignored);
        m_partial.clear();
    }
}

std::optional<std::string> FileReceiver::OpenTarget(const fs::path& target) {
    DiscardPartial();
    // A name of our own beside the target, reserved with O_EXCL so that no other file is
    // truncated; it is in the target's folder so that the final rename cannot cross devices.
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    const std::string stem = "." + target.filename().string() + ".part";
    for (unsigned n = 0; n < 1000 && m_partial.empty(); ++n) {
        const fs::path candidate = folder / (n == 0 ? stem : stem + std::to_string(n));
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            ::close(fd);
            m_partial = candidate;
        } else if (errno != EEXIST) {
            break;
        }
    }
    if (m_partial.empty()) {
        return std::string(Text::FailedToCreateFile);
    }
    m_stream.open(m_partial, std::ios::binary | std::ios::trunc);
    if (!m_stream) {
        DiscardPartial();
        return std::string(Text::FailedToCreateFile);
    }
    m_target = target;
    RecordQuietly(m_record, [&] { m_records.SetAccepted(m_record, true); });
    RecordQuietly(m_record, [&] { m_records.SetSavedAs(m_record, target); });
    return std::nullopt;
}

void FileReceiver::Cancel() {
    m_closing = true;
    m_waker.Wake();
}

TransferResult FileReceiver::Fail(const std::string& failure) {
    TransferResult result;
    result.record = m_record;
    DiscardPartial();
    if (m_closing) {
        result.end = TransferResult::End::Canceled;
        RecordQuietly(m_record,
                      [&] { m_records.SetStatus(m_record, data::TransferStatus::Canceled); });
    } else {
        result.end = TransferResult::End::Failed;
        result.reason = FailedText(failure);
        RecordQuietly(m_record, [&] { m_records.SetStatus(m_record, result.reason); });
    }
    return result;
}

TransferResult FileReceiver::Receive(const TransferProgress& progress) {
    if (!m_stream.is_open()) {
        return Fail(std::string(Text::FailedToCreateFile));
    }
    WakeableSocket direct(m_waker);
    try {
        detail::ConnectToPeer(direct, m_offer.address, m_offer.port);
        protocol::SendPacket(direct.Get(), pt::Ok, protocol::Timeout::Default);
        std::vector<std::uint8_t> chunk(TransferChunkSize);
        std::uint64_t total = 0;
        while (total < m_offer.size) {
            // Never more than announced: bytes after the file are not part of it.
            const auto want = std::min<std::uint64_t>(chunk.size(), m_offer.size - total);
            const long got = protocol::ReceiveRaw(direct.Get(), std::span(chunk).first(want), 0,
                                                  protocol::Timeout::Default);
            if (got == 0) {
                throw NetError(std::string(Text::ClosedByRemote));
            }
            if (got < 0) {
                throw NetError(protocol::LastSocketErrorText());
            }
            m_stream.write(reinterpret_cast<const char*>(chunk.data()), got);
            if (!m_stream) {
                throw NetError(std::strerror(errno));
            }
            total += static_cast<std::uint64_t>(got);
            if (progress) {
                progress(total, m_offer.size);
            }
        }
        m_stream.close();
        if (!m_stream) {
            throw NetError(std::strerror(errno));
        }
        std::error_code renamed;
        fs::rename(m_partial, m_target, renamed);
        if (renamed) {
            throw NetError(renamed.message());
        }
        m_partial.clear();
    } catch (const std::exception& e) {
        if (m_closing) {
            ResetOnClose(direct.Get());
        }
        return Fail(e.what());
    }
    RecordQuietly(m_record, [&] { m_records.SetDone(m_record); });
    RecordQuietly(m_record, [&] { m_records.SetStatus(m_record, data::TransferStatus::Done); });
    return TransferResult{TransferResult::End::Done, {}, m_record};
}

TransferResult FileReceiver::Refuse() {
    RecordQuietly(m_record, [&] { m_records.SetAccepted(m_record, false); });
    WakeableSocket direct(m_waker);
    try {
        detail::ConnectToPeer(direct, m_offer.address, m_offer.port);
        protocol::SendPacket(direct.Get(), pt::Failed, protocol::Timeout::Default);
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
    return TransferResult{TransferResult::End::Refused, {}, m_record};
}

}  // namespace talvorine::client::session

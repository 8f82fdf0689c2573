#include "talvorine/client/ui/transfer/transfer_history.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <system_error>

#include "talvorine/client/ui/common/history_rows.h"

namespace talvorine::client::ui {

namespace fs = std::filesystem;

TransferHistory::TransferHistory(std::string accountId, std::string peerId, std::string ownNickname,
                                 std::string peerNickname)
    : m_accountId(std::move(accountId)),
      m_peerId(std::move(peerId)),
      m_ownNickname(std::move(ownNickname)),
      m_peerNickname(std::move(peerNickname)) {}

void TransferHistory::Refill(bool showOutgoing, bool showIncoming) {
    m_rows.clear();
    for (data::TransferRecord& record :
         data::ReadTransferHistory(m_accountId, m_peerId, showOutgoing, showIncoming)) {
        TransferHistoryRow row;
        const bool incoming = record.type == static_cast<int>(data::TransferType::Incoming);
        row.from = incoming ? m_peerNickname : m_ownNickname;
        row.to = incoming ? m_ownNickname : m_peerNickname;
        row.record = std::move(record);
        m_rows.insert(m_rows.begin(), std::move(row));
    }
}

std::optional<std::string> TransferHistory::Delete(std::size_t row) {
    return RemoveRowAndFile(m_rows, row,
                            [](const TransferHistoryRow& listed) { return listed.record.file; });
}

std::size_t TransferHistory::DeleteAll() {
    return RemoveAllRowsAndFiles(
        m_rows, [](const TransferHistoryRow& listed) { return listed.record.file; });
}

TransferOpenTargets TransferHistory::OpenTargets(std::size_t row) const {
    TransferOpenTargets targets;
    if (row >= m_rows.size()) {
        return targets;
    }
    const data::TransferRecord& record = m_rows[row].record;
    const bool incoming = record.type == static_cast<int>(data::TransferType::Incoming);
    targets.fileItem =
        incoming ? TransferHistoryText::OpenReceivedFile : TransferHistoryText::OpenSentFile;
    const std::string& path = incoming ? record.savedAs : record.fileName;
    // A receipt is only there to open once it finished; a record of ours names a file we sent.
    const bool usable = incoming ? record.done && !path.empty() : !path.empty();
    targets.fileEnabled = usable;
    targets.folderEnabled = usable;
    targets.file = path;
    const auto slash = path.find_last_of("/\\");
    targets.folder = slash == std::string::npos ? std::string() : path.substr(0, slash);
    return targets;
}

bool IsRunnableFile(const fs::path& file) {
    std::string extension = file.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".desktop") {
        return true;
    }
    std::error_code error;
    if (!fs::is_regular_file(file, error)) {
        return false;
    }
    return ::access(file.c_str(), X_OK) == 0;
}

}  // namespace talvorine::client::ui

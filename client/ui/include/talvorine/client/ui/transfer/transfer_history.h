#pragma once
// The file-transfer history of one contact as the history window shows it: the records that
// pass the "&Filter" menu, the newest listed first, and what its "&Open" menu offers for a row.
// No widgets: the window presents these.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "talvorine/client/data/history_files.h"

namespace talvorine::client::ui {

namespace TransferHistoryText {
inline constexpr std::string_view Caption = "File Transfer";
inline constexpr std::string_view ShowOutgoing = "Show Outgoing";
inline constexpr std::string_view ShowIncoming = "Show Incoming";
inline constexpr std::string_view OpenReceivedFile = "Open Received File";
inline constexpr std::string_view OpenSentFile = "Open Sent File";
inline constexpr std::string_view OpenFolder = "Open Folder";
inline constexpr std::string_view OpenTip = "Open Sent/Received File or Folder";
inline constexpr std::string_view ConfirmDeleteAll =
    "Are you sure to delete all file transfer history?";
}  // namespace TransferHistoryText

struct TransferHistoryRow {
    data::TransferRecord record;
    std::string from;
    std::string to;
};

// The "&Open" menu of a row.
struct TransferOpenTargets {
    std::string fileItem;  // "Open Received File" or "Open Sent File"
    bool fileEnabled = false;
    bool folderEnabled = false;
    std::filesystem::path file;    // "Saved As" of a receipt, "File Name" of a sending
    std::filesystem::path folder;  // the folder part of that path
};

class TransferHistory {
public:
    TransferHistory(std::string accountId, std::string peerId, std::string ownNickname,
                    std::string peerNickname);

    // Reads the records that pass the filter; records of another type and files that cannot be
    // read are left out. Each is put at the top as the folder listing yields it.
    void Refill(bool showOutgoing, bool showIncoming);
    const std::vector<TransferHistoryRow>& Rows() const { return m_rows; }

    // Removes the row's record file and the row; the error text when it cannot be removed.
    std::optional<std::string> Delete(std::size_t row);
    // Removes every listed record; the number of rows left (files that could not be removed).
    std::size_t DeleteAll();

    TransferOpenTargets OpenTargets(std::size_t row) const;

    const std::string& PeerId() const { return m_peerId; }
    const std::string& PeerNickname() const { return m_peerNickname; }

private:
    std::string m_accountId;
    std::string m_peerId;
    std::string m_ownNickname;
    std::string m_peerNickname;
    std::vector<TransferHistoryRow> m_rows;
};

// A received file that would run as a program when "opened": executable for its owner, or a
// desktop launcher. A remote user chose its name and content, so it is never opened unasked.
bool IsRunnableFile(const std::filesystem::path& file);

}  // namespace talvorine::client::ui

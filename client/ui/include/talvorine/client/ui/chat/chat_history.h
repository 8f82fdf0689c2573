#pragma once
// The chat history of one contact as the history window shows it: one row per chat file, the
// newest listed first, and the "Chat Details" of a row. No widgets: the window presents these.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace talvorine::client::ui {

namespace ChatHistoryText {
inline constexpr std::string_view Caption = "Chat";
inline constexpr std::string_view DetailsCaption = "Chat Details";
inline constexpr std::string_view Yes = "Yes";
inline constexpr std::string_view No = "No";
inline constexpr std::string_view Incoming = "Incoming";
inline constexpr std::string_view Outgoing = "Outgoing";
inline constexpr std::string_view IncomingAccepted = "You accepted the request";
inline constexpr std::string_view IncomingDenied =
    "Your denied the request due to the following reason:";
inline constexpr std::string_view OutgoingAccepted = "Your request is accepted.";
inline constexpr std::string_view OutgoingDenied =
    "You request is denied due to the following reason:";
inline constexpr std::string_view ConfirmDeleteAll = "Are you sure to delete all chat files?";
}  // namespace ChatHistoryText

struct ChatHistoryRow {
    std::filesystem::path file;
    bool incoming = false;
    bool accepted = false;
    std::string from;
    std::string to;
    std::string request;
    std::string time;  // local "%Y-%m-%d %H:%M:%S"
};

// What "Chat Details" shows for one row.
struct ChatDetails {
    std::string type;      // "Incoming" or "Outgoing"
    std::string dateTime;  // as the row's "Time"
    std::string status;    // one of the four status texts
    std::string text;      // the transcript when accepted, else the reason
};

class ChatHistory {
public:
    ChatHistory(std::string accountId, std::string peerId, std::string ownNickname,
                std::string peerNickname);

    // Reads every chat file of the contact; a file that cannot be read is left out. Each file
    // is put at the top as the folder listing yields it, so the last one listed comes first.
    void Refill();
    const std::vector<ChatHistoryRow>& Rows() const { return m_rows; }

    // Removes the row's file and the row. The error text when the file cannot be removed (the
    // row then stays).
    std::optional<std::string> Delete(std::size_t row);
    // Removes every listed file and empties the list; the number of files that could not be
    // removed (their rows stay).
    std::size_t DeleteAll();

    // The details of a row. A transcript that cannot be read (a damaged file) gives the reason
    // as the text instead of a transcript.
    ChatDetails Details(std::size_t row) const;

    const std::string& PeerId() const { return m_peerId; }
    const std::string& PeerNickname() const { return m_peerNickname; }

private:
    std::string m_accountId;
    std::string m_peerId;
    std::string m_ownNickname;
    std::string m_peerNickname;
    std::vector<ChatHistoryRow> m_rows;
};

// "<< Previous" and "Next >>" of the details dialog.
struct DetailsStep {
    bool previous = false;
    bool next = false;
};
DetailsStep StepsAt(std::size_t row, std::size_t rowCount);

}  // namespace talvorine::client::ui

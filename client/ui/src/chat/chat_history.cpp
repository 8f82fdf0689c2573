#include "talvorine/client/ui/chat/chat_history.h"

#include "talvorine/client/data/history_files.h"
#include "talvorine/client/ui/common/history_rows.h"

namespace talvorine::client::ui {

ChatHistory::ChatHistory(std::string accountId, std::string peerId, std::string ownNickname,
                         std::string peerNickname)
    : m_accountId(std::move(accountId)),
      m_peerId(std::move(peerId)),
      m_ownNickname(std::move(ownNickname)),
      m_peerNickname(std::move(peerNickname)) {}

void ChatHistory::Refill() {
    m_rows.clear();
    for (data::ChatRecord& record : data::ReadChatHistory(m_accountId, m_peerId)) {
        const data::ChatFileHeader& head = record.header;
        ChatHistoryRow row;
        row.file = std::move(record.file);
        row.incoming = head.direction == data::ChatDirection::Received;
        row.accepted = head.accepted;
        row.from = row.incoming ? m_peerNickname : m_ownNickname;
        row.to = row.incoming ? m_ownNickname : m_peerNickname;
        row.request = head.requestText;
        row.time = data::FormatLocalTime(static_cast<std::time_t>(head.time));
        m_rows.insert(m_rows.begin(), std::move(row));
    }
}

std::optional<std::string> ChatHistory::Delete(std::size_t row) {
    return RemoveRowAndFile(m_rows, row, [](const ChatHistoryRow& listed) { return listed.file; });
}

std::size_t ChatHistory::DeleteAll() {
    return RemoveAllRowsAndFiles(m_rows, [](const ChatHistoryRow& listed) { return listed.file; });
}

ChatDetails ChatHistory::Details(std::size_t row) const {
    ChatDetails details;
    if (row >= m_rows.size()) {
        return details;
    }
    const ChatHistoryRow& shown = m_rows[row];
    details.type = shown.incoming ? ChatHistoryText::Incoming : ChatHistoryText::Outgoing;
    details.dateTime = shown.time;
    if (shown.incoming) {
        details.status =
            shown.accepted ? ChatHistoryText::IncomingAccepted : ChatHistoryText::IncomingDenied;
    } else {
        details.status =
            shown.accepted ? ChatHistoryText::OutgoingAccepted : ChatHistoryText::OutgoingDenied;
    }
    try {
        // The head is read again: the file may have changed since the list was filled. The
        // transcript's stored length is checked against the file's real size before reading.
        if (shown.accepted) {
            details.text = data::ReadChatTranscript(shown.file);
        } else {
            details.text = data::ReadChatHeader(shown.file).reason;
        }
    } catch (const data::DataError& error) {
        details.text = error.what();
    }
    return details;
}

DetailsStep StepsAt(std::size_t row, std::size_t rowCount) {
    DetailsStep step;
    step.previous = row > 0 && row < rowCount;
    step.next = row + 1 < rowCount;
    return step;
}

}  // namespace talvorine::client::ui

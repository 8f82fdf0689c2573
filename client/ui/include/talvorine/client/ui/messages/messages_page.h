#pragma once
// One page of a contact's "Messages" window without widgets: the received or the sent
// messages of the contact's message store, listed newest first a page at a time, the message
// of a row, its read state, delete, delete all and compact, with the texts the window shows.
//
// Rows know the store position of their message. Positions shift when an older message is
// deleted, so every delete updates the positions of the rows above it; deleting several rows
// therefore removes exactly the messages that were selected. Messages that arrive while the
// page is open are taken from the store itself (what was appended since it was last read).
//
// Threads: the user-interface thread. The stores refuse a second writer, so every store
// operation holds the history lock that the receiving path holds while it appends.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "talvorine/client/data/message_store.h"

namespace talvorine::client::ui {

enum class MessagesPageKind { Received, Sent };

namespace MessagesText {
inline constexpr std::string_view Caption = "Messages";
inline constexpr std::string_view ReceivedTab = "Received";
inline constexpr std::string_view SentTab = "Sent";
inline constexpr std::string_view ReadFailedQuestion =
    "Failed to read message #%d: the record may be crashed.\r\nContinue with next message?";
inline constexpr std::string_view Canceled = "Canceled";
inline constexpr std::string_view ReceivedSizeError =
    "Failed to read this message:\r\nmessage size error)";
inline constexpr std::string_view SentSizeError =
    "Failed to read this message (structure size error)";
inline constexpr std::string_view ReadFailed = "Failed to read this message:\r\n%s";
inline constexpr std::string_view ReadStateFailed =
    "Failed to get read state of this message:\r\n%s";
inline constexpr std::string_view ChangeStateFailed =
    "Failed to change read/unread state of this message:\r\n%s";
inline constexpr std::string_view DeleteFailed = "Failed to delete this message:\r\n%s";
inline constexpr std::string_view ConfirmDeleteAll = "Are you sure to delete all messages?";
inline constexpr std::string_view ConfirmDeleteAllSent =
    "Are you sure to delete all sent messages?";
inline constexpr std::string_view CompactFreed =
    "Total file size  : %d (bytes)\r\nWasted space size : %d (bytes)\r\n\r\n%d bytes have been "
    "freed successfully.";
inline constexpr std::string_view CompactNothing =
    "Total file size  : %d (bytes)\r\nWasted space size : %d (bytes)\r\n\r\nNothing to do.";
}  // namespace MessagesText

// Replaces each "%d" or "%s" of `pattern` in turn by the next argument.
std::string FormatMessagesText(std::string_view pattern,
                               std::initializer_list<std::string_view> args);

// What the contact list keeps of the contact's unread messages.
class UnreadCounter {
public:
    virtual ~UnreadCounter() = default;
    virtual void Lower() = 0;  // never below 0
    virtual void Raise() = 0;
    virtual void Clear() = 0;
};

struct MessageRow {
    std::uint32_t index = 0;  // position in the store, 0 the oldest
    std::uint32_t time = 0;
    bool richText = false;
    bool read = false;
    std::string brief;
    std::string timeText;  // local "%Y-%m-%d %H:%M:%S"
};

// The text part of a stored message body: time, format, and the text from offset 36 up to its
// NUL or the end of the body, whichever comes first (a record is not trusted to carry its NUL).
struct MessageText {
    std::uint32_t time = 0;
    bool richText = false;
    std::string text;
};
// nullopt for a body under 37 bytes, which cannot be shown.
std::optional<MessageText> DecodeMessageText(std::span<const std::uint8_t> body);

// The delay of the mark-as-read timer in milliseconds (interval x 1000 + 1), or nullopt when
// "Mark as read" is off. The timer fires once: marking again would undo a "Mark as unread".
std::optional<int> MarkAsReadDelay(bool markAsRead, int intervalSeconds);

enum class BoxIcon { Information, Warning, Error };

struct BoxText {
    std::string text;
    BoxIcon icon = BoxIcon::Warning;
};

// The two texts of compact, sizes printed as unsigned 64-bit numbers.
BoxText CompactBox(std::uint64_t fileSize, std::uint64_t wasted);

class MessagesPage {
public:
    // Rows read from the store per page (the list reads more when it is scrolled to its end).
    static constexpr std::uint32_t PageSize = 200;
    // Asked for a record whose first 36 bytes cannot be read (its store position): true skips
    // it, false stops listing.
    using AskSkip = std::function<bool(std::uint32_t record)>;

    // `historyLock` is held around every store operation (may be null in tests that have no
    // receiving path); `unread` is told about received messages changing state (null for the
    // sent page).
    MessagesPage(std::string accountId, std::string contactId, MessagesPageKind kind,
                 std::mutex* historyLock, UnreadCounter* unread);

    MessagesPageKind Kind() const { return m_kind; }
    bool IsReceived() const { return m_kind == MessagesPageKind::Received; }
    // The store's two files (the account's folder is made when missing); throws DataError.
    data::StorePaths Paths() const;

    // Lists the newest page. The error text when the store cannot be opened, or "Canceled"
    // when listing was stopped at a damaged record.
    std::optional<std::string> Fill(const AskSkip& ask);
    // Whether older messages are left to list, and listing the next older page.
    bool CanFetchMore() const;
    std::optional<std::string> FetchMore(const AskSkip& ask);
    // Messages appended to the store since it was last read, put at the top; how many.
    std::size_t TakeArrivals(const AskSkip& ask);

    const std::vector<MessageRow>& Rows() const { return m_rows; }
    // Messages in the store (listed or not).
    std::uint32_t StoreCount() const { return m_storeCount; }

    struct Shown {
        std::optional<MessageText> message;  // nullopt: the pane is emptied
        std::string error;                   // the box to show, if any
        bool unread = false;
    };
    // The message of a row, up to 32767 body bytes.
    Shown Read(std::size_t row);
    // The read state of a row from the store: true read; the error box text otherwise.
    std::optional<bool> IsRead(std::size_t row, std::string& error);
    // Sets the read state of a row; the contact's unread count follows. The error box text.
    std::optional<std::string> SetRead(std::size_t row, bool read);

    struct Deleted {
        std::size_t count = 0;
        // The position of each removed row at the moment it was removed, in order, so that a
        // list can remove its items the same way.
        std::vector<std::size_t> removed;
        std::optional<std::string> error;  // the first failure, which stopped the loop
        int select = -1;                   // the row to select afterwards, -1 when none
    };
    // Deletes the messages of the given rows, in any order, duplicates ignored.
    Deleted Delete(std::vector<std::size_t> rows);
    // Creates the store anew and empties the list; the error text.
    std::optional<std::string> DeleteAll();
    BoxText Compact();

private:
    std::unique_lock<std::mutex> Lock() const;
    data::MessageStore Open(data::StoreMode mode) const;
    // Adds the briefs of records [first, end) as rows at `at`, newest first.
    bool AddRecords(std::uint32_t first, std::uint32_t end, std::size_t at, const AskSkip& ask);
    // AddRecords with its failures as the text to show; listing stops after one.
    std::optional<std::string> List(std::uint32_t first, std::uint32_t end, std::size_t at,
                                    const AskSkip& ask);

    std::string m_accountId;
    std::string m_contactId;
    MessagesPageKind m_kind;
    std::mutex* m_historyLock;
    UnreadCounter* m_unread;
    std::vector<MessageRow> m_rows;
    std::uint32_t m_storeCount = 0;  // the store's count as last read
    std::uint32_t m_listedFrom = 0;  // records below this position are not listed yet
    bool m_stopped = false;          // listing was canceled at a damaged record
};

}  // namespace talvorine::client::ui

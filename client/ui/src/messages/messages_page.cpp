#include "talvorine/client/ui/messages/messages_page.h"

#include <algorithm>

#include "talvorine/client/data/history_files.h"
#include "talvorine/client/ui/contacts/contact_list_rules.h"
#include "talvorine/platform/text.h"

namespace talvorine::client::ui {

namespace {

using data::MessageStore;
using data::StoreKind;
using data::StoreMode;

// The text of a message starts after its time, format byte and 31-byte brief.
constexpr std::size_t TextOffset = data::BriefBytes;
// What a reader's 32768-byte buffer holds of a body, leaving room for a terminating NUL.
constexpr std::size_t ShownBodyMax = data::MessageBodyMax - 1;

std::uint32_t Le32(std::span<const std::uint8_t> bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

MessageRow RowOf(const data::MessageBrief& brief) {
    MessageRow row;
    row.index = brief.index;
    row.time = brief.time;
    row.richText = brief.richText;
    row.read = brief.read;
    // The sender chooses the brief: line breaks and other control characters would make a
    // row of several lines.
    row.brief = brief.brief;
    std::replace_if(
        row.brief.begin(), row.brief.end(),
        [](char c) { return static_cast<unsigned char>(c) < 0x20; }, ' ');
    row.timeText = data::FormatLocalTime(static_cast<std::time_t>(brief.time));
    return row;
}

}  // namespace

std::string FormatMessagesText(std::string_view pattern,
                               std::initializer_list<std::string_view> args) {
    std::string numbered(pattern);
    for (std::size_t at = numbered.find("%d"); at != std::string::npos;
         at = numbered.find("%d", at + 2)) {
        numbered[at + 1] = 's';
    }
    return contacts::FormatText(numbered, args);
}

std::optional<MessageText> DecodeMessageText(std::span<const std::uint8_t> body) {
    if (body.size() < data::ShowableBodyMin) {
        return std::nullopt;
    }
    MessageText message;
    message.time = Le32(body.first(4));
    message.richText = body[4] != 0;
    // ReadTextField stops at the first NUL and never looks past the span.
    message.text = platform::ReadTextField(body.subspan(TextOffset));
    return message;
}

std::optional<int> MarkAsReadDelay(bool markAsRead, int intervalSeconds) {
    if (!markAsRead) {
        return std::nullopt;
    }
    return std::max(intervalSeconds, 0) * 1000 + 1;
}

BoxText CompactBox(std::uint64_t fileSize, std::uint64_t wasted) {
    const std::string size = std::to_string(fileSize);
    const std::string waste = std::to_string(wasted);
    if (wasted > 0) {
        return {FormatMessagesText(MessagesText::CompactFreed, {size, waste, waste}),
                BoxIcon::Information};
    }
    return {FormatMessagesText(MessagesText::CompactNothing, {size, waste}), BoxIcon::Warning};
}

MessagesPage::MessagesPage(std::string accountId, std::string contactId, MessagesPageKind kind,
                           std::mutex* historyLock, UnreadCounter* unread)
    : m_accountId(std::move(accountId)),
      m_contactId(std::move(contactId)),
      m_kind(kind),
      m_historyLock(historyLock),
      m_unread(kind == MessagesPageKind::Received ? unread : nullptr) {}

data::StorePaths MessagesPage::Paths() const {
    return data::StorePaths::For(m_accountId, IsReceived() ? StoreKind::Received : StoreKind::Sent,
                                 m_contactId);
}

std::unique_lock<std::mutex> MessagesPage::Lock() const {
    return m_historyLock != nullptr ? std::unique_lock(*m_historyLock)
                                    : std::unique_lock<std::mutex>();
}

MessageStore MessagesPage::Open(StoreMode mode) const {
    return MessageStore::Open(Paths(), mode, true);
}

bool MessagesPage::AddRecords(std::uint32_t first, std::uint32_t end, std::size_t at,
                              const AskSkip& ask) {
    std::vector<data::MessageBrief> briefs;
    {
        const auto lock = Lock();
        briefs = Open(StoreMode::Read).ReadBriefs(first, end - first);
    }
    // Asked oldest first, as the records come; listed newest first.
    std::vector<MessageRow> rows;
    bool completed = true;
    for (const data::MessageBrief& brief : briefs) {
        if (!brief.readable) {
            if (!ask || !ask(brief.index)) {
                completed = false;
                break;
            }
            continue;
        }
        rows.push_back(RowOf(brief));
    }
    std::reverse(rows.begin(), rows.end());
    m_rows.insert(m_rows.begin() + static_cast<std::ptrdiff_t>(at), rows.begin(), rows.end());
    return completed;
}

std::optional<std::string> MessagesPage::List(std::uint32_t first, std::uint32_t end,
                                              std::size_t at, const AskSkip& ask) {
    try {
        if (AddRecords(first, end, at, ask)) {
            return std::nullopt;
        }
        m_stopped = true;
        return std::string(MessagesText::Canceled);
    } catch (const std::exception& e) {
        m_stopped = true;
        return std::string(e.what());
    }
}

std::optional<std::string> MessagesPage::Fill(const AskSkip& ask) {
    m_rows.clear();
    m_stopped = false;
    m_storeCount = 0;
    m_listedFrom = 0;
    try {
        const auto lock = Lock();
        m_storeCount = Open(StoreMode::Read).Count();
    } catch (const std::exception& e) {
        m_stopped = true;
        return std::string(e.what());
    }
    m_listedFrom = m_storeCount > PageSize ? m_storeCount - PageSize : 0;
    return List(m_listedFrom, m_storeCount, 0, ask);
}

bool MessagesPage::CanFetchMore() const {
    return !m_stopped && m_listedFrom > 0;
}

std::optional<std::string> MessagesPage::FetchMore(const AskSkip& ask) {
    if (!CanFetchMore()) {
        return std::nullopt;
    }
    const std::uint32_t end = m_listedFrom;
    m_listedFrom = end > PageSize ? end - PageSize : 0;
    return List(m_listedFrom, end, m_rows.size(), ask);
}

std::size_t MessagesPage::TakeArrivals(const AskSkip& ask) {
    std::uint32_t count = 0;
    try {
        const auto lock = Lock();
        count = Open(StoreMode::Read).Count();
    } catch (const std::exception&) {
        return 0;  // the receiving path has reported the store's trouble already
    }
    if (count < m_storeCount) {
        // Something else removed messages: the positions are no longer known, list anew.
        const std::size_t before = m_rows.size();
        Fill(ask);
        return m_rows.size() > before ? m_rows.size() - before : 0;
    }
    if (count == m_storeCount) {
        return 0;
    }
    const std::size_t before = m_rows.size();
    try {
        AddRecords(m_storeCount, count, 0, ask);
    } catch (const std::exception&) {
        return 0;
    }
    m_storeCount = count;
    return m_rows.size() - before;
}

MessagesPage::Shown MessagesPage::Read(std::size_t row) {
    Shown shown;
    if (row >= m_rows.size()) {
        return shown;
    }
    try {
        data::StoredMessage stored;
        {
            const auto lock = Lock();
            stored = Open(StoreMode::Read).ReadMessage(m_rows[row].index, ShownBodyMax);
        }
        shown.message = DecodeMessageText(stored.body);
        if (!shown.message) {
            shown.error =
                IsReceived() ? MessagesText::ReceivedSizeError : MessagesText::SentSizeError;
            return shown;
        }
        shown.unread = stored.header.readState == 0;
        m_rows[row].read = !shown.unread;
    } catch (const std::exception& e) {
        shown.error = FormatMessagesText(MessagesText::ReadFailed, {e.what()});
    }
    return shown;
}

std::optional<bool> MessagesPage::IsRead(std::size_t row, std::string& error) {
    if (row >= m_rows.size()) {
        return std::nullopt;
    }
    try {
        const auto lock = Lock();
        const bool read = Open(StoreMode::Read).IsRead(m_rows[row].index);
        m_rows[row].read = read;
        return read;
    } catch (const std::exception& e) {
        error = FormatMessagesText(MessagesText::ReadStateFailed, {e.what()});
        return std::nullopt;
    }
}

std::optional<std::string> MessagesPage::SetRead(std::size_t row, bool read) {
    if (row >= m_rows.size() || !IsReceived()) {
        return std::nullopt;
    }
    bool changed = false;
    try {
        const auto lock = Lock();
        MessageStore store = Open(StoreMode::ReadWrite);
        const std::uint32_t index = m_rows[row].index;
        if (store.IsRead(index) != read) {
            store.SetReadState(index, read ? 1 : 0);
            changed = true;
        }
    } catch (const std::exception& e) {
        return FormatMessagesText(MessagesText::ChangeStateFailed, {e.what()});
    }
    m_rows[row].read = read;
    if (changed && m_unread != nullptr) {
        read ? m_unread->Lower() : m_unread->Raise();
    }
    return std::nullopt;
}

MessagesPage::Deleted MessagesPage::Delete(std::vector<std::size_t> rows) {
    Deleted result;
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    while (!rows.empty() && rows.back() >= m_rows.size()) {
        rows.pop_back();
    }
    if (rows.empty()) {
        return result;
    }
    // The messages to delete, by store position; the newest first, so that no position still
    // to be deleted moves.
    std::vector<std::uint32_t> targets;
    for (const std::size_t row : rows) {
        targets.push_back(m_rows[row].index);
    }
    std::sort(targets.rbegin(), targets.rend());
    for (const std::uint32_t index : targets) {
        bool wasUnread = false;
        try {
            const auto lock = Lock();
            MessageStore store = Open(StoreMode::ReadWrite);
            wasUnread = IsReceived() && !store.IsRead(index);
            store.Delete(index);
        } catch (const std::exception& e) {
            result.error = FormatMessagesText(MessagesText::DeleteFailed, {e.what()});
            break;
        }
        ++result.count;
        const auto removed =
            std::find_if(m_rows.begin(), m_rows.end(),
                         [index](const MessageRow& row) { return row.index == index; });
        result.removed.push_back(static_cast<std::size_t>(removed - m_rows.begin()));
        m_rows.erase(removed);
        for (MessageRow& row : m_rows) {
            if (row.index > index) {
                --row.index;
            }
        }
        --m_storeCount;
        if (m_listedFrom > index) {
            --m_listedFrom;
        }
        if (wasUnread && m_unread != nullptr) {
            m_unread->Lower();
        }
    }
    if (!m_rows.empty()) {
        result.select = static_cast<int>(std::min(rows.front(), m_rows.size() - 1));
    }
    return result;
}

std::optional<std::string> MessagesPage::DeleteAll() {
    try {
        const auto lock = Lock();
        MessageStore::Create(Paths(), StoreMode::ReadWrite);
    } catch (const std::exception& e) {
        return std::string(e.what());
    }
    m_rows.clear();
    m_storeCount = 0;
    m_listedFrom = 0;
    if (m_unread != nullptr) {
        m_unread->Clear();
    }
    return std::nullopt;
}

BoxText MessagesPage::Compact() {
    try {
        const auto lock = Lock();
        std::uint64_t size = 0;
        std::uint64_t wasted = 0;
        {
            const MessageStore store = Open(StoreMode::Read);
            size = store.DataLength();
            wasted = store.WastedSpace();
        }
        if (wasted > 0) {
            // Live records keep their order, so the rows' positions stay right.
            MessageStore::Compact(Paths());
        }
        return CompactBox(size, wasted);
    } catch (const std::exception& e) {
        return {e.what(), BoxIcon::Error};
    }
}

}  // namespace talvorine::client::ui

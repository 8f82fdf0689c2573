#pragma once
// Message stores of a test account in a temporary home, and an unread count to watch.

#include <QColor>
#include <QTextCursor>
#include <QTextDocument>
#include <string>
#include <vector>

#include "talvorine/client/data/message_store.h"
#include "talvorine/client/ui/messages/messages_page.h"
#include "talvorine/client/ui/rtf/rtf_codec.h"
#include "talvorine/protocol/catalogue.h"
#include "test_folders.h"

namespace talvorine::client::ui::testing {

inline constexpr const char* Own = "00000001";
inline constexpr const char* Peer = "00000002";

class CountingUnread : public UnreadCounter {
public:
    explicit CountingUnread(int start = 0) : count(start) {}
    void Lower() override { count = count > 0 ? count - 1 : 0; }
    void Raise() override { ++count; }
    void Clear() override { count = 0; }
    int count;
};

class MessageStores : public data::testing::TempHome {
protected:
    static std::vector<std::uint8_t> PlainBody(const std::string& text, std::uint32_t time) {
        protocol::MessageRecord record;
        record.time = time;
        record.richText = false;
        record.brief = text.substr(0, 30);
        record.body = text;
        return record.Encode();
    }
    // "Hello <bold>world</bold> <red>red</red> see https://example.org/x."
    static std::vector<std::uint8_t> FormattedBody(std::uint32_t time) {
        QTextDocument document;
        QTextCursor cursor(&document);
        QTextCharFormat plain;
        QTextCharFormat bold;
        bold.setFontWeight(QFont::Bold);
        QTextCharFormat red;
        red.setForeground(QColor(255, 0, 0));
        cursor.insertText(QStringLiteral("Hello "), plain);
        cursor.insertText(QStringLiteral("world"), bold);
        cursor.insertText(QStringLiteral(" "), plain);
        cursor.insertText(QStringLiteral("red"), red);
        cursor.insertText(QStringLiteral(" see https://example.org/x."), plain);
        protocol::MessageRecord record;
        record.time = time;
        record.richText = true;
        record.brief = "Hello world red see https://ex";
        record.body = rtf::WriteRtf(document);
        return record.Encode();
    }

    static data::MessageStore Store(data::StoreKind kind = data::StoreKind::Received) {
        return data::MessageStore::Open(Own, kind, Peer, data::StoreMode::ReadWrite, true);
    }
    // Messages "m0".. "m<n-1>", oldest first, unread.
    static void AddMessages(int n, data::StoreKind kind = data::StoreKind::Received,
                            int first = 0) {
        data::MessageStore store = Store(kind);
        for (int i = first; i < first + n; ++i) {
            store.AppendMessage(PlainBody("m" + std::to_string(i), 1'700'000'000u + i));
        }
    }
    // The briefs in the store, oldest first.
    static std::vector<std::string> StoredBriefs(data::StoreKind kind = data::StoreKind::Received) {
        std::vector<std::string> briefs;
        for (const auto& row : Store(kind).ReadBriefs(0, 1'000'000)) {
            briefs.push_back(row.brief);
        }
        return briefs;
    }
    static std::vector<std::string> RowBriefs(const MessagesPage& page) {
        std::vector<std::string> briefs;
        for (const MessageRow& row : page.Rows()) {
            briefs.push_back(row.brief);
        }
        return briefs;
    }
};

}  // namespace talvorine::client::ui::testing

#pragma once
// The rules of the "Send Message" window that need no widget: its remembered options, the
// quotation of a reply, the plain text and links of the compose box, the recipient tree of
// multiple mode, the colours of the colour menus and what a finished send does to the window.

#include <QColor>
#include <QString>
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "talvorine/client/session/messaging.h"

class QTextDocument;

namespace talvorine::client::data {
class ContactList;
}

namespace talvorine::client::ui {

namespace SendMessageText {
inline constexpr std::string_view Caption = "Send Message";
inline constexpr std::string_view ReplyCaption = "Reply";
inline constexpr std::string_view Multiple = "Multiple";
inline constexpr std::string_view NotOnlineNow =
    "You're not online now. Please connect to the server first.";
inline constexpr std::string_view ReplyHeader = "\r\n\r\n> ---- original message ----\r\n";
inline constexpr std::string_view QuoteMark = "> ";
inline constexpr std::string_view Automatic = "Automatic";
}  // namespace SendMessageText

// Multiple mode shows the recipient tree in this much more width.
inline constexpr int MultipleModeExtraWidth = 196;

// The window's four values of the "SendMessage" section.
struct SendWindowOptions {
    bool multiple = false;    // "Multiple"
    bool sendOffline = true;  // "Send Offline Message"
    bool prompt = false;      // "Prompt"
    bool wordWrap = true;     // "Word Wrap"

    static SendWindowOptions Load();
    void Save() const;
    session::SendOptions ForSending() const { return {sendOffline, prompt}; }
};

// Quotes a reply in place: "> " before every non-empty line, then the "original message"
// header at the very start. Returns the caret position the window takes (0, above the quote).
int QuoteForReply(QTextDocument& document);

// The compose box's text as the engine takes it: UTF-8 with "\r\n" line breaks, so that a
// message's brief ends with its first line.
std::string ComposedPlainText(const QTextDocument& document);
// The message the compose box holds: its plain text and its content as RTF (Courier New 10
// where no font is set).
session::OutgoingMessage ComposedMessage(const QTextDocument& document);

// The recipient tree: every group of the contact list with its contacts, in list order.
struct RecipientRow {
    std::string id;
    std::string nickname;
};
struct RecipientGroup {
    std::string name;
    std::vector<RecipientRow> contacts;
};
// The caller holds the contact list's lock.
std::vector<RecipientGroup> RecipientGroupsOf(const data::ContactList& list);

// The colour menus: the sixteen colours of the system's default palette, in menu order.
struct NamedColor {
    std::string_view name;
    QColor color;
};
const std::array<NamedColor, 16>& MenuColors();

// What the window does with a finished send.
struct SendResultSteps {
    bool close = false;                        // all sent: "Message Sent" sound, then close
    std::optional<std::string> error;          // shown with the warning icon, controls enabled
    bool restore = false;                      // minimised for sending: shown again
    std::vector<std::string> historyWarnings;  // sent, but not kept in the sent store
    std::vector<std::string> removedIds;       // taken out of the recipient tree
};
SendResultSteps StepsAfterSend(const session::SendReport& report, bool closing, bool quitting,
                               bool minimizeOnSend);

}  // namespace talvorine::client::ui

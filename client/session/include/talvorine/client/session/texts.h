#pragma once
// The texts the client engine shows or sends, exactly as the users and peers see them.

#include <string_view>

namespace talvorine::client::session::Text {

// Server session
inline constexpr std::string_view LoginFailed = "Failed to login:\r\n";
inline constexpr std::string_view Connecting = "Connecting...";
inline constexpr std::string_view Disconnecting = "Disconnecting...";
inline constexpr std::string_view Offline = "Offline";
inline constexpr std::string_view Online = "Online";
inline constexpr std::string_view Away = "Away";
inline constexpr std::string_view NotAvailable = "N/A";
inline constexpr std::string_view FailedToCreateThread = "Failed to create thread:\r\n";
inline constexpr std::string_view DefaultAwayText =
    "I've received your message. I will return shortly.";
inline constexpr std::size_t AwayTextMax = 255;

// Messaging
inline constexpr std::string_view NotOnline =
    "You're not online. Please connect to the server first.\r\n";
inline constexpr std::string_view EmptyMessage = "Can not send empty message.\r\n";
inline constexpr std::string_view MessageTooLong = "Message size (%d) exceeds limit (%d).\r\n";
inline constexpr std::string_view RequestMutexTimeout =
    "Connection tiem out. Please try again later";
inline constexpr std::string_view SendFailedOne = "Failed to send message to %s:\r\n%s";
inline constexpr std::string_view SendFailedMany = "Failed to send message to these recipients:";
inline constexpr std::string_view SendFailedManyItem = "\r\n%s (%s)";
inline constexpr std::string_view NoRecipients = "No recipients selected";
inline constexpr std::string_view Canceled = "Canceled";
inline constexpr std::string_view OfflinePrompt =
    "Recipient '%s' is not online currently. You can send offline message to him/her. the "
    "recipient will receive the message as soon as he/she connects, regardless of whether or "
    "not you are online.\r\nSend offline message to '%s' now?";
inline constexpr std::string_view SentHistoryFailed =
    "The message has been sent successfully, but the following error occured while writing to "
    "the message history:\r\n%s\r\n\r\nPlease check if you have enough rights to access that "
    "file/folder.";
inline constexpr std::string_view ReceivedHistoryFailed =
    "You have received a message, but the following error occured while saving the "
    "message:\r\n%s\r\n\r\nPlease check if you have enough rights to access that file/folder.";

// Chat
inline constexpr std::string_view ChatDenied =
    "Your request is not accepted due to the following reason:\n\n%s";
inline constexpr std::string_view NoReasonGiven = "No reason given";
inline constexpr std::string_view PeerHasQuit = "%s has quit.";
inline constexpr std::string_view NotConnected = "Not connected";
inline constexpr std::string_view ConfirmQuitChat = "Are you sure to quit?";
inline constexpr std::string_view ByeBye = "bye-bye!";
inline constexpr std::string_view ChatLineTooLong =
    "This line is too long to send. A chat line holds at most 4095 bytes; please shorten it or "
    "send it in several lines.";

// File transfer
inline constexpr std::string_view FailedToOpenFile = "Failed to open this file";
inline constexpr std::string_view ZeroLengthFile = "Can not send zero length file";
inline constexpr std::string_view FileTooLarge =
    "Can not send a file of 4 GB or more: the size does not fit the request";
inline constexpr std::string_view DirectoryNotSupported =
    "Sending directory is not supported currently. Please select a file";
inline constexpr std::string_view TransferNotAccepted = "Your request is not accepted";
inline constexpr std::string_view ClosedByRemote = "Connection is closed by remote";
inline constexpr std::string_view FailedToCreateFile = "Failed to create file";

// Account connection
inline constexpr std::string_view IncorrectPacket = "Incorrect packet received";

}  // namespace talvorine::client::session::Text

#include "talvorine/mailpoll/pop3_session.h"

#include <poll.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>

namespace talvorine::mailpoll {

namespace {

using Clock = std::chrono::steady_clock;
using protocol::InvalidSocket;

constexpr std::string_view LineEnd = "\r\n";
constexpr std::string_view MultiLineEnd = "\r\n.\r\n";
constexpr std::chrono::milliseconds PollSlice{250};
constexpr std::size_t ReceiveChunk = 64 * 1024;

char Lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [](char a, char b) { return Lower(a) == Lower(b); });
}

bool IsPositive(std::string_view reply) {
    return StartsWithNoCase(reply, "+OK");
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The decimal number at the start of `text`; nullopt when there is none or it does not fit.
template <typename Number = std::uint32_t>
std::optional<Number> ParseNumber(std::string_view text) {
    Number value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data()) {
        return std::nullopt;
    }
    return value;
}

// The numbers that follow a blank or tab, in order, at most `wanted` of them.
std::vector<std::uint64_t> NumbersAfterBlanks(std::string_view text, std::size_t wanted) {
    std::vector<std::uint64_t> numbers;
    for (std::size_t i = 0; i + 1 < text.size() && numbers.size() < wanted; ++i) {
        if (IsBlank(text[i]) && IsDigit(text[i + 1])) {
            const auto number = ParseNumber<std::uint64_t>(text.substr(i + 1));
            if (!number) {
                break;
            }
            numbers.push_back(*number);
        }
    }
    return numbers;
}

std::size_t FindNoCase(std::string_view text, std::string_view needle, std::size_t from) {
    const auto it =
        std::search(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(), needle.begin(),
                    needle.end(), [](char a, char b) { return Lower(a) == Lower(b); });
    return it == text.end() ? std::string_view::npos : static_cast<std::size_t>(it - text.begin());
}

std::size_t ClampSize(std::uint64_t size, std::size_t limit) {
    return static_cast<std::size_t>(std::min<std::uint64_t>(size, limit));
}

}  // namespace

Pop3Session::~Pop3Session() {
    Disconnect();
}

bool Pop3Session::Fail(int code, std::string text) {
    m_lastError = code;
    m_lastReplyText = std::move(text);
    protocol::SetLastSocketError(code);
    return false;
}

void Pop3Session::PublishSocket(protocol::SocketHandle handle) {
    const std::lock_guard lock(m_socketMutex);
    m_socket = handle;
    if (m_aborted && handle != InvalidSocket) {
        protocol::ShutdownSocket(handle);
    }
}

void Pop3Session::CloseSocket() {
    const std::lock_guard lock(m_socketMutex);
    protocol::CloseSocket(m_socket);
}

void Pop3Session::Abort() {
    const std::lock_guard lock(m_socketMutex);
    m_aborted = true;
    if (m_socket != InvalidSocket) {
        protocol::ShutdownSocket(m_socket);
    }
}

bool Pop3Session::Connect(std::string_view host, std::string_view user, std::string_view password,
                          std::uint16_t port) {
    Disconnect();
    m_broken = false;
    m_lastReplyText.clear();
    m_lastError = 0;

    protocol::SocketHandle handle = InvalidSocket;
    const int result = protocol::ConnectTo(handle, host, port);
    PublishSocket(handle);
    if (result != 0) {
        int code = protocol::LastSocketError();
        if (code >= 11001 && code <= 11004) {
            code = Pop3Error::InvalidArgument;  // the name could not be resolved
        }
        Fail(code, {});
        CloseSocket();
        return false;
    }
    m_connected = true;

    const bool ok = ReadLine() && SendCommand("USER ", user) && ReadLine() &&
                    SendCommand("PASS ", password) && ReadLine();
    if (!ok) {
        // Keep the failure's text and code; the closing QUIT must not replace them.
        const std::string text = m_lastReplyText;
        const int code = m_lastError;
        Disconnect();
        Fail(code, text);
    }
    return ok;
}

bool Pop3Session::SendCommand(std::string_view command, std::string_view argument) {
    if (m_socket == InvalidSocket) {
        return Fail(protocol::SocketCode::NotConnected, {});
    }
    // A line break inside a user name or password would smuggle in a command of its own.
    if (argument.find_first_of("\r\n") != std::string_view::npos) {
        return Fail(Pop3Error::InvalidArgument, "Invalid characters in the command.");
    }
    std::string line;
    line.reserve(command.size() + argument.size() + LineEnd.size());
    line.append(command).append(argument).append(LineEnd);
    const auto seconds =
        std::max<long long>(1, std::chrono::ceil<std::chrono::seconds>(m_replyTimeout).count());
    const std::span bytes(reinterpret_cast<const std::uint8_t*>(line.data()), line.size());
    const long sent = protocol::SendRaw(m_socket, bytes, static_cast<int>(seconds));
    if (sent != static_cast<long>(line.size())) {
        m_broken = true;
        return Fail(protocol::LastSocketError(), {});
    }
    return true;
}

std::optional<std::string> Pop3Session::ReadReply(std::size_t firstSize,
                                                  std::string_view terminator, std::size_t growth) {
    // `bufferSize` is the room the reply may use before it is enlarged by `growth`; the text
    // itself grows geometrically, so a long reply is copied a logarithmic number of times,
    // and the terminator is searched for only in the part that is new.
    std::size_t bufferSize = std::max<std::size_t>(2, std::min(firstSize, m_replyLimit + 1));
    std::string text;
    if (m_socket == InvalidSocket) {
        Fail(protocol::SocketCode::NotConnected, text);
        return std::nullopt;
    }
    if (m_chunk.empty()) {
        m_chunk.resize(ReceiveChunk);
    }
    const std::span<std::uint8_t> chunk(m_chunk);
    auto lastData = Clock::now();

    for (;;) {
        const auto silent =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastData);
        if (silent > m_replyTimeout) {
            m_broken = true;
            Fail(Pop3Error::TimedOut, text);
            return std::nullopt;
        }
        pollfd ready{m_socket, POLLIN, 0};
        const auto wait = std::min(PollSlice, m_replyTimeout - silent);
        const int polled =
            ::poll(&ready, 1, static_cast<int>(std::max<long long>(0, wait.count())));
        if (polled < 0) {
            if (errno == EINTR) {
                continue;
            }
            m_broken = true;
            Fail(protocol::MapErrno(errno), text);
            return std::nullopt;
        }
        if (polled == 0) {
            continue;
        }
        const std::size_t room = std::min(bufferSize - text.size() - 1, chunk.size());
        const long received = protocol::ReceiveRaw(m_socket, chunk.first(room), 0, 1);
        if (received < 0) {
            m_broken = true;
            Fail(protocol::LastSocketError(), text);
            return std::nullopt;
        }
        if (received == 0) {
            // The server closed the connection (or the session was aborted): nothing more
            // can arrive, so waiting out the time-out would only delay the failure.
            m_broken = true;
            Fail(protocol::SocketCode::ConnectionAborted, text);
            return std::nullopt;
        }
        lastData = Clock::now();
        const std::size_t searchFrom =
            text.size() >= terminator.size() ? text.size() - (terminator.size() - 1) : 0;
        text.append(reinterpret_cast<const char*>(chunk.data()),
                    static_cast<std::size_t>(received));
        if (text.size() > m_replyLimit) {
            m_broken = true;
            Fail(Pop3Error::ReplyTooLong, std::string(ReplyTooLongText));
            return std::nullopt;
        }
        if (text.size() + 1 >= bufferSize) {
            bufferSize += growth;
        }
        const std::size_t end = text.find(terminator, searchFrom);
        if (end != std::string::npos) {
            text.resize(end);
            if (!IsPositive(text)) {
                Fail(Pop3Error::NegativeReply, std::move(text));
                return std::nullopt;
            }
            return text;
        }
    }
}

std::optional<std::string> Pop3Session::ReadLine(std::size_t firstSize) {
    return ReadReply(firstSize, LineEnd, 4096);
}

std::optional<MailboxStatistics> Pop3Session::Statistics() {
    if (!SendCommand("STAT")) {
        return std::nullopt;
    }
    const auto reply = ReadLine(100);
    if (!reply) {
        return std::nullopt;
    }
    const auto numbers = NumbersAfterBlanks(std::string_view(*reply).substr(3), 2);
    if (numbers.size() < 2 || numbers[0] > std::numeric_limits<std::uint32_t>::max()) {
        Fail(Pop3Error::NegativeReply, *reply);
        return std::nullopt;
    }
    m_messageCount = static_cast<std::uint32_t>(numbers[0]);
    m_statDone = true;
    return MailboxStatistics{m_messageCount, numbers[1]};
}

bool Pop3Session::List() {
    if (!m_statDone && !Statistics()) {
        return false;
    }
    if (!SendCommand("LIST")) {
        return false;
    }
    const std::uint64_t firstSize = std::uint64_t{m_messageCount} * 14 + 100;
    const auto reply = ReadReply(ClampSize(firstSize, m_replyLimit), MultiLineEnd, 4096);
    if (!reply) {
        return false;
    }
    m_messageSizes.clear();
    std::string_view rest(*reply);
    const std::size_t firstLineEnd = rest.find(LineEnd);
    rest = firstLineEnd == std::string_view::npos ? std::string_view()
                                                  : rest.substr(firstLineEnd + LineEnd.size());
    // One line per message: its number, a blank and its size. A line that begins with "."
    // ends the list.
    while (!rest.empty() && rest.front() != '.') {
        const std::size_t lineEnd = rest.find(LineEnd);
        const std::string_view line = rest.substr(0, lineEnd);
        const std::size_t blank = line.find_first_of(" \t");
        if (blank != std::string_view::npos) {
            const std::size_t digits = line.find_first_not_of(" \t", blank);
            if (digits != std::string_view::npos) {
                if (const auto size = ParseNumber(line.substr(digits))) {
                    m_messageSizes.push_back(*size);
                }
            }
        }
        rest = lineEnd == std::string_view::npos ? std::string_view()
                                                 : rest.substr(lineEnd + LineEnd.size());
    }
    m_listDone = true;
    return true;
}

std::optional<std::uint32_t> Pop3Session::MessageSize(std::uint32_t number) {
    if (!m_listDone && !List()) {
        return std::nullopt;
    }
    if (number < 1 || number > m_messageSizes.size()) {
        Fail(Pop3Error::InvalidArgument, "No such message.");
        return std::nullopt;
    }
    return m_messageSizes[number - 1];
}

std::optional<std::string> Pop3Session::MessageHeader(std::uint32_t number) {
    const auto size = MessageSize(number);
    if (!size || !SendCommand("TOP ", std::to_string(number) + " 0")) {
        return std::nullopt;
    }
    const auto reply =
        ReadReply(ClampSize(std::uint64_t{*size} + 100, m_replyLimit), MultiLineEnd, 32000);
    if (!reply) {
        return std::nullopt;
    }
    const std::size_t firstLineEnd = reply->find(LineEnd);
    if (firstLineEnd == std::string::npos) {
        return std::string();
    }
    return reply->substr(firstLineEnd + LineEnd.size());
}

bool Pop3Session::Delete(std::uint32_t number) {
    if (!m_listDone && !List()) {
        return false;
    }
    return SendCommand("DELE ", std::to_string(number)) && ReadLine().has_value();
}

bool Pop3Session::Disconnect() {
    bool answered = false;
    if (m_connected) {
        // After a time-out or a socket error the stream is out of step: a late answer to the
        // previous command would be taken for the answer to QUIT.
        if (!m_broken) {
            answered = SendCommand("QUIT") && ReadLine().has_value();
        }
        m_connected = false;
        m_statDone = false;
        m_listDone = false;
        m_messageCount = 0;
        m_messageSizes.clear();
    }
    CloseSocket();
    return answered;
}

std::string Pop3Session::HeaderField(std::string_view header, std::string_view name,
                                     int occurrence) {
    const std::size_t headerEnd = header.find("\r\n\r\n");
    std::string text = "\r\n";
    text.append(header.substr(0, headerEnd));
    const std::string needle = std::string("\r\n").append(name).append(":");

    std::size_t at = FindNoCase(text, needle, 0);
    for (int skipped = 0; skipped < occurrence && at != std::string::npos; ++skipped) {
        at = FindNoCase(text, needle, at + needle.size());
    }
    if (at == std::string::npos) {
        return {};
    }
    const std::size_t valueStart = at + needle.size();
    std::size_t valueEnd = valueStart;
    for (;;) {
        valueEnd = text.find(LineEnd, valueEnd);
        if (valueEnd == std::string::npos || valueEnd + 2 >= text.size() ||
            !IsBlank(text[valueEnd + 2])) {
            break;
        }
        valueEnd += LineEnd.size();  // a folded line continues the value
    }
    const std::string_view raw = std::string_view(text).substr(
        valueStart, valueEnd == std::string::npos ? std::string::npos : valueEnd - valueStart);

    std::string value;
    value.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') {
            ++i;
        } else {
            value.push_back(raw[i] == '\t' ? ' ' : raw[i]);
        }
    }
    const std::size_t first = value.find_first_not_of(' ');
    if (first == std::string::npos) {
        return {};
    }
    const std::size_t last = value.find_last_not_of(' ');
    return value.substr(first, last - first + 1);
}

}  // namespace talvorine::mailpoll

#include "talvorine/protocol/packet.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

#include "loopback.h"
#include "talvorine/protocol/net_error.h"

// The test program interposes send and recv to watch the calls the framing makes on one
// chosen descriptor; the calls still go to the real sockets.
namespace {

struct Call {
    std::size_t requested;
    long result;
    std::vector<std::size_t> pieces;  // of a sendmsg call
};

std::mutex g_callsMutex;
std::vector<Call> g_calls;
std::atomic<int> g_watchedFd{-1};
std::atomic<std::size_t> g_sendCap{0};  // non-zero: the most bytes one send call may move
std::atomic<int> g_timeoutsSet{0};      // SO_SNDTIMEO and SO_RCVTIMEO set on the watched socket

template <typename Function>
Function RealFunction(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

void Record(std::size_t requested, long result, std::vector<std::size_t> pieces = {}) {
    const std::lock_guard lock(g_callsMutex);
    g_calls.push_back({requested, result, std::move(pieces)});
}

std::vector<Call> Calls() {
    const std::lock_guard lock(g_callsMutex);
    return g_calls;
}

}  // namespace

extern "C" ssize_t recv(int fd, void* buffer, size_t length, int flags) {
    using Recv = ssize_t (*)(int, void*, size_t, int);
    static const Recv real = RealFunction<Recv>("recv");
    const ssize_t result = real(fd, buffer, length, flags);
    if (fd == g_watchedFd) {
        Record(length, result);
    }
    return result;
}

extern "C" ssize_t send(int fd, const void* data, size_t length, int flags) {
    using Send = ssize_t (*)(int, const void*, size_t, int);
    static const Send real = RealFunction<Send>("send");
    if (fd != g_watchedFd) {
        return real(fd, data, length, flags);
    }
    const std::size_t cap = g_sendCap;
    // A capped call behaves as a partial send of the kernel.
    const ssize_t result = real(fd, data, cap != 0 ? std::min(length, cap) : length, flags);
    Record(length, result);
    return result;
}

extern "C" ssize_t sendmsg(int fd, const struct msghdr* message, int flags) {
    using SendMessage = ssize_t (*)(int, const struct msghdr*, int);
    static const SendMessage real = RealFunction<SendMessage>("sendmsg");
    if (fd != g_watchedFd) {
        return real(fd, message, flags);
    }
    std::vector<std::size_t> pieces;
    std::size_t requested = 0;
    for (std::size_t i = 0; i < message->msg_iovlen; ++i) {
        pieces.push_back(message->msg_iov[i].iov_len);
        requested += message->msg_iov[i].iov_len;
    }
    // A capped call behaves as a partial send of the kernel: the pieces are cut at the cap.
    std::vector<iovec> capped(message->msg_iov, message->msg_iov + message->msg_iovlen);
    if (const std::size_t cap = g_sendCap; cap != 0) {
        std::size_t left = cap;
        for (iovec& piece : capped) {
            piece.iov_len = std::min(piece.iov_len, left);
            left -= piece.iov_len;
        }
    }
    msghdr copy = *message;
    copy.msg_iov = capped.data();
    const ssize_t result = real(fd, &copy, flags);
    Record(requested, result, std::move(pieces));
    return result;
}

extern "C" int setsockopt(int fd, int level, int option, const void* value, socklen_t length) {
    using SetOption = int (*)(int, int, int, const void*, socklen_t);
    static const SetOption real = RealFunction<SetOption>("setsockopt");
    if (fd == g_watchedFd && level == SOL_SOCKET &&
        (option == SO_SNDTIMEO || option == SO_RCVTIMEO)) {
        ++g_timeoutsSet;
    }
    return real(fd, level, option, value, length);
}

namespace talvorine::protocol {
namespace {

using testing::LoopbackPair;
using Bytes = std::vector<std::uint8_t>;

class PacketTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(StartSockets(), 0); }
    void TearDown() override {
        g_watchedFd = -1;
        g_sendCap = 0;
        g_timeoutsSet = 0;
        const std::lock_guard lock(g_callsMutex);
        g_calls.clear();
    }

    static void Watch(SocketHandle socket) {
        g_watchedFd = socket;
        g_timeoutsSet = 0;
        const std::lock_guard lock(g_callsMutex);
        g_calls.clear();
    }

    void SendBytes(std::span<const std::uint8_t> bytes) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            sent +=
                static_cast<std::size_t>(SendOrThrow(m_pair.server.Get(), bytes.subspan(sent), 5));
        }
    }

    Bytes ReceiveBytes(std::size_t count) {
        Bytes bytes(count);
        std::size_t received = 0;
        while (received < count) {
            received += static_cast<std::size_t>(
                ReceiveOrThrow(m_pair.server.Get(), std::span(bytes).subspan(received), 0, 5));
        }
        return bytes;
    }

    // Waits until `count` bytes are queued for reading on the client side.
    void WaitQueued(int count) {
        for (int i = 0; i < 500; ++i) {
            int queued = 0;
            ASSERT_EQ(ioctl(m_pair.client.Get(), FIONREAD, &queued), 0);
            if (queued >= count) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        FAIL() << "bytes did not arrive";
    }

    static Bytes Header(std::uint8_t magic, std::uint8_t version, std::uint8_t type,
                        std::uint32_t length) {
        return {magic,
                version,
                0,
                type,
                static_cast<std::uint8_t>(length),
                static_cast<std::uint8_t>(length >> 8),
                static_cast<std::uint8_t>(length >> 16),
                static_cast<std::uint8_t>(length >> 24)};
    }

    static Bytes Pattern(std::size_t length) {
        Bytes bytes(length);
        for (std::size_t i = 0; i < length; ++i) {
            bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
        }
        return bytes;
    }

    template <typename Function>
    static std::string ErrorOf(Function&& function) {
        try {
            function();
        } catch (const NetError& error) {
            return error.what();
        }
        return "(no error)";
    }

    LoopbackPair m_pair;
};

TEST_F(PacketTest, HeaderCodecIsLittleEndian) {
    const PacketHeader header = PacketHeader::For(0x1234, 0x01020304);
    const auto bytes = header.Encode();
    EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), Header(0xAA, 1, 0x34, 0x01020304));
    const PacketHeader decoded = PacketHeader::Decode(bytes);
    EXPECT_EQ(decoded.type, 0x34);
    EXPECT_EQ(decoded.bodyLength, 0x01020304u);
}

TEST_F(PacketTest, HeaderSplitThreePlusFiveIsReassembled) {
    Watch(m_pair.client.Get());
    const Bytes header = Header(0xAA, 1, 42, 2);
    PacketHeader received;
    std::array<std::uint8_t, 16> buffer{};
    std::thread reader([&] { received = ReceivePacket(m_pair.client.Get(), buffer, 5); });

    SendBytes(std::span(header).first(3));
    // Let the reader take the first three bytes alone before the rest arrives.
    for (int i = 0; i < 500 && Calls().empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    SendBytes(std::span(header).subspan(3));
    SendBytes(Bytes{'h', 'i'});
    reader.join();

    EXPECT_EQ(received.type, 42);
    EXPECT_EQ(received.bodyLength, 2u);
    EXPECT_EQ(buffer[0], 'h');
    EXPECT_EQ(buffer[1], 'i');
    const auto calls = Calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0].requested, 8u);
    EXPECT_EQ(calls[0].result, 3);
    EXPECT_EQ(calls[1].requested, 5u);
    EXPECT_EQ(calls[1].result, 5);
}

TEST_F(PacketTest, LargeBodyIsReadInChunksOf4096) {
    const Bytes body = Pattern(10000);
    Bytes packet = Header(0xAA, 1, 40, 10000);
    packet.insert(packet.end(), body.begin(), body.end());
    SendBytes(packet);
    WaitQueued(static_cast<int>(packet.size()));

    Watch(m_pair.client.Get());
    Bytes buffer(32768);
    const PacketHeader header = ReceivePacket(m_pair.client.Get(), buffer, 5);
    EXPECT_EQ(header.bodyLength, 10000u);
    EXPECT_TRUE(std::equal(body.begin(), body.end(), buffer.begin()));

    const auto calls = Calls();
    ASSERT_EQ(calls.size(), 4u);
    const std::size_t expected[] = {8, 4096, 4096, 1808};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(calls[i].requested, expected[i]) << "call " << i;
        EXPECT_EQ(calls[i].result, static_cast<long>(expected[i])) << "call " << i;
    }
}

TEST_F(PacketTest, LargeBodyIsSentInChunksOf4096) {
    const Bytes body = Pattern(10000);
    Watch(m_pair.client.Get());
    SendPacket(m_pair.client.Get(), 40, body, 5);

    // The header leaves with the first chunk; every call moves at most 4096 body bytes.
    const auto calls = Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].pieces, (std::vector<std::size_t>{8, 4096}));
    EXPECT_EQ(calls[1].pieces, (std::vector<std::size_t>{4096}));
    EXPECT_EQ(calls[2].pieces, (std::vector<std::size_t>{1808}));
    EXPECT_EQ(ReceiveBytes(8), Header(0xAA, 1, 40, 10000));
    EXPECT_EQ(ReceiveBytes(10000), body);
}

TEST_F(PacketTest, SmallPacketLeavesInOneCallWithoutSettingTheTimeOut) {
    Watch(m_pair.client.Get());
    SendTextPacket(m_pair.client.Get(), 40, "00000042", 5);
    SendPacket(m_pair.client.Get(), 0, 5);

    const auto calls = Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].pieces, (std::vector<std::size_t>{8, 8, 1}));
    EXPECT_EQ(calls[0].result, 17);
    EXPECT_EQ(calls[1].pieces, (std::vector<std::size_t>{8}));
    // A send that does not have to wait needs no time-out.
    EXPECT_EQ(g_timeoutsSet.load(), 0);
    Bytes expected = Header(0xAA, 1, 40, 9);
    expected.insert(expected.end(), {'0', '0', '0', '0', '0', '0', '4', '2', 0});
    EXPECT_EQ(ReceiveBytes(17), expected);
    EXPECT_EQ(ReceiveBytes(8), Header(0xAA, 1, 0, 0));
}

TEST_F(PacketTest, PartialSendsContinueWhereTheyStopped) {
    const Bytes body = Pattern(5000);
    Watch(m_pair.client.Get());
    g_sendCap = 3000;
    SendPacket(m_pair.client.Get(), 7, body, 5);

    const auto calls = Calls();
    // Header and 4096 asked (3000 taken), the rest of that chunk waited for, then the last 904.
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].pieces, (std::vector<std::size_t>{8, 4096}));
    EXPECT_EQ(calls[0].result, 3000);
    EXPECT_EQ(calls[1].pieces, (std::vector<std::size_t>{1104}));
    EXPECT_EQ(calls[2].pieces, (std::vector<std::size_t>{904}));
    EXPECT_EQ(ReceiveBytes(8), Header(0xAA, 1, 7, 5000));
    EXPECT_EQ(ReceiveBytes(5000), body);
}

TEST_F(PacketTest, ShortHeaderSendRaisesTheSocketError) {
    Watch(m_pair.client.Get());
    g_sendCap = 3;
    EXPECT_EQ(ErrorOf([&] { SendPacket(m_pair.client.Get(), 1, 5); }), "connection timed out");
}

TEST_F(PacketTest, SendThatCannotGoOnWaitsWithItsTimeOut) {
    // Nobody reads: once the socket's buffers are full the send waits 1 s and gives up.
    const Bytes body(8 * 1024 * 1024, 0x5A);
    const auto begun = std::chrono::steady_clock::now();
    EXPECT_EQ(ErrorOf([&] { SendPacket(m_pair.client.Get(), 3, body, 1); }),
              "connection timed out");
    EXPECT_GE(std::chrono::steady_clock::now() - begun, std::chrono::milliseconds(900));
}

TEST_F(PacketTest, LargeBodyArrivesWholeThroughFullBuffers) {
    // Many sends find the buffer full part way and wait for the reader.
    const Bytes body = Pattern(3 * 1024 * 1024 + 17);
    Bytes received;
    std::thread reader([&] { received = ReceiveBytes(8 + body.size()); });
    SendPacket(m_pair.client.Get(), 9, body, 5);
    reader.join();
    ASSERT_EQ(received.size(), 8 + body.size());
    EXPECT_EQ(Bytes(received.begin(), received.begin() + 8),
              Header(0xAA, 1, 9, static_cast<std::uint32_t>(body.size())));
    EXPECT_TRUE(std::equal(body.begin(), body.end(), received.begin() + 8));
}

TEST_F(PacketTest, TimeOutMemoSetsTheOptionOnlyWhenItChanges) {
    SocketTimeouts memo;
    const SocketRef socket(m_pair.client.Get(), memo);
    Watch(m_pair.client.Get());
    std::array<std::uint8_t, 16> buffer{};
    for (int i = 0; i < 3; ++i) {
        SendBytes(Header(0xAA, 1, 0, 0));
        ReceivePacket(socket, buffer, 5);
    }
    EXPECT_EQ(g_timeoutsSet.load(), 1);
    EXPECT_EQ(memo.receive, 5);

    // A changed time-out is set, and it is the one that applies.
    const auto begun = std::chrono::steady_clock::now();
    EXPECT_EQ(ErrorOf([&] { ReceivePacket(socket, buffer, 1); }), "connection timed out");
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(4));
    EXPECT_EQ(g_timeoutsSet.load(), 2);

    // Without a memo every waiting receive sets its time-out.
    for (int i = 0; i < 2; ++i) {
        SendBytes(Header(0xAA, 1, 0, 0));
        ReceivePacket(m_pair.client.Get(), buffer, 5);
    }
    EXPECT_EQ(g_timeoutsSet.load(), 4);
}

TEST_F(PacketTest, PacketBufferIsSizedFromTheHeaderAndReused) {
    PacketBuffer buffer;
    const Bytes body = Pattern(300);
    Bytes packet = Header(0xAA, 1, 40, 300);
    packet.insert(packet.end(), body.begin(), body.end());
    SendBytes(packet);
    PacketHeader header = ReceivePacket(m_pair.client.Get(), buffer, 32768, 5);
    EXPECT_EQ(header.bodyLength, 300u);
    EXPECT_EQ(Bytes(buffer.Body().begin(), buffer.Body().end()), body);
    const std::size_t capacity = buffer.Capacity();
    EXPECT_GE(capacity, 300u);
    EXPECT_LT(capacity, 32768u);

    // A smaller body reuses the storage; an empty one leaves an empty body.
    SendBytes(Header(0xAA, 1, 41, 2));
    SendBytes(Bytes{'o', 'k'});
    header = ReceivePacket(m_pair.client.Get(), buffer, 32768, 5);
    EXPECT_EQ(Bytes(buffer.Body().begin(), buffer.Body().end()), (Bytes{'o', 'k'}));
    EXPECT_EQ(buffer.Capacity(), capacity);
    SendBytes(Header(0xAA, 1, 42, 0));
    header = ReceivePacket(m_pair.client.Get(), buffer, 32768, 5);
    EXPECT_EQ(header.type, 42);
    EXPECT_TRUE(buffer.Body().empty());

    // The capacity still bounds the body: one byte more is refused before it is read.
    SendBytes(Header(0xAA, 1, 40, 65));
    EXPECT_EQ(ErrorOf([&] { ReceivePacket(m_pair.client.Get(), buffer, 64, 5); }), "packet error.");
    buffer.Trim(capacity);
    EXPECT_EQ(buffer.Capacity(), capacity);
    buffer.Trim(0);
    EXPECT_EQ(buffer.Capacity(), 0u);
}

TEST_F(PacketTest, BodyLengthEqualToCapacityIsAccepted) {
    Bytes packet = Header(0xAA, 1, 0, 16);
    const Bytes body = Pattern(16);
    packet.insert(packet.end(), body.begin(), body.end());
    SendBytes(packet);
    std::array<std::uint8_t, 16> buffer{};
    EXPECT_EQ(ReceivePacket(m_pair.client.Get(), buffer, 5).bodyLength, 16u);
    EXPECT_TRUE(std::equal(body.begin(), body.end(), buffer.begin()));
}

TEST_F(PacketTest, BodyLongerThanCapacityIsRefusedWithoutReadingIt) {
    Bytes packet = Header(0xAA, 1, 0, 17);
    const Bytes body = Pattern(17);
    packet.insert(packet.end(), body.begin(), body.end());
    SendBytes(packet);
    WaitQueued(static_cast<int>(packet.size()));
    std::array<std::uint8_t, 16> buffer{};
    EXPECT_EQ(ErrorOf([&] { ReceivePacket(m_pair.client.Get(), buffer, 5); }), "packet error.");

    // The whole body is still waiting in the socket.
    Bytes rest(64);
    EXPECT_EQ(ReceiveRaw(m_pair.client.Get(), rest, MSG_DONTWAIT, 5), 17);
    EXPECT_TRUE(std::equal(body.begin(), body.end(), rest.begin()));
}

TEST_F(PacketTest, WrongMagicIsRefusedAndOtherVersionsAccepted) {
    std::array<std::uint8_t, 16> buffer{};
    SendBytes(Header(0x55, 1, 0, 0));
    EXPECT_EQ(ErrorOf([&] { ReceivePacket(m_pair.client.Get(), buffer, 5); }), "packet error.");

    Bytes packet = Header(0xAA, 7, 33, 1);
    packet.push_back('x');
    SendBytes(packet);
    const PacketHeader header = ReceivePacket(m_pair.client.Get(), buffer, 5);
    EXPECT_EQ(header.version, 7);
    EXPECT_EQ(header.type, 33);
    EXPECT_EQ(buffer[0], 'x');
}

TEST_F(PacketTest, PeerClosingBetweenHeaderAndBodyIsReported) {
    SendBytes(Header(0xAA, 1, 40, 10));
    SendBytes(Bytes{'p', 'a', 'r'});
    m_pair.server.Close();
    std::array<std::uint8_t, 64> buffer{};
    EXPECT_EQ(ErrorOf([&] { ReceivePacket(m_pair.client.Get(), buffer, 5); }),
              "Connection is closed by remote computer.");
}

TEST_F(PacketTest, PeerClosingBeforeAnyByteIsReported) {
    m_pair.server.Close();
    std::array<std::uint8_t, 64> buffer{};
    EXPECT_EQ(ErrorOf([&] { ReceivePacket(m_pair.client.Get(), buffer, 5); }),
              "Connection is closed by remote computer.");
}

TEST_F(PacketTest, ReceiveTimeOutRaisesTheTimedOutText) {
    std::array<std::uint8_t, 64> buffer{};
    EXPECT_EQ(ErrorOf([&] { ReceivePacket(m_pair.client.Get(), buffer, 1); }),
              "connection timed out");
}

TEST_F(PacketTest, ShortBodyIsFollowedByZeros) {
    Bytes packet = Header(0xAA, 1, 40, 9);
    const Bytes body = Pattern(9);
    packet.insert(packet.end(), body.begin(), body.end());
    SendBytes(packet);
    Bytes buffer(4096, 0xCC);
    ReceivePacket(m_pair.client.Get(), buffer, 5);
    EXPECT_TRUE(std::equal(body.begin(), body.end(), buffer.begin()));
    EXPECT_TRUE(std::all_of(buffer.begin() + 9, buffer.end(), [](auto b) { return b == 0; }));
}

TEST_F(PacketTest, TextPacketSendsItsNul) {
    SendTextPacket(m_pair.client.Get(), 1, "abc", 5);
    EXPECT_EQ(ReceiveBytes(12), (Bytes{0xAA, 1, 0, 1, 4, 0, 0, 0, 'a', 'b', 'c', 0}));

    // Only the bytes before an embedded NUL count.
    SendTextPacket(m_pair.client.Get(), 2, std::string_view("ab\0cd", 5), 5);
    EXPECT_EQ(ReceiveBytes(11), (Bytes{0xAA, 1, 0, 2, 3, 0, 0, 0, 'a', 'b', 0}));

    SendPacket(m_pair.client.Get(), 0x105, 5);
    EXPECT_EQ(ReceiveBytes(8), Header(0xAA, 1, 5, 0));
}

TEST_F(PacketTest, LongTextPacketKeepsTheChunkRule) {
    const std::string text(5000, 'q');
    Watch(m_pair.client.Get());
    SendTextPacket(m_pair.client.Get(), 0, text, 5);
    const auto calls = Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].pieces, (std::vector<std::size_t>{8, 4096}));
    // The last chunk carries the rest of the text and its NUL.
    EXPECT_EQ(calls[1].pieces, (std::vector<std::size_t>{904, 1}));

    EXPECT_EQ(ReceiveBytes(8), Header(0xAA, 1, 0, 5001));
    Bytes expected(text.begin(), text.end());
    expected.push_back(0);
    EXPECT_EQ(ReceiveBytes(5001), expected);
}

TEST_F(PacketTest, RelayKeepsTheReceivedHeader) {
    Bytes packet = Header(0xAA, 7, 40, 3);
    packet.insert(packet.end(), {'r', 'e', 'c'});
    SendBytes(packet);
    std::array<std::uint8_t, 64> buffer{};
    const PacketHeader header = ReceivePacket(m_pair.client.Get(), buffer, 5);
    EXPECT_EQ(BodyText(header, buffer), "rec");

    SendHeaderAndBody(m_pair.client.Get(), header, buffer, 5);
    EXPECT_EQ(ReceiveBytes(11), packet);

    EXPECT_THROW(SendHeaderAndBody(m_pair.client.Get(), header, std::span(buffer).first(2), 5),
                 std::invalid_argument);
}

TEST_F(PacketTest, TextAndRelayedPacketLeaveTogetherWithTheSameBytes) {
    const Bytes record = Pattern(150);
    const PacketHeader header = PacketHeader::For(40, 150);
    Watch(m_pair.client.Get());
    SendTextPacketAndRelay(m_pair.client.Get(), 40, "00000007", header, record, 5);
    auto calls = Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].pieces, (std::vector<std::size_t>{8, 8, 1, 8, 150}));
    Bytes expected = Header(0xAA, 1, 40, 9);
    expected.insert(expected.end(), {'0', '0', '0', '0', '0', '0', '0', '7', 0});
    const Bytes second = Header(0xAA, 1, 40, 150);
    expected.insert(expected.end(), second.begin(), second.end());
    expected.insert(expected.end(), record.begin(), record.end());
    EXPECT_EQ(ReceiveBytes(expected.size()), expected);

    // Bodies that do not fit into one chunk together go as the two packets, chunk rule kept.
    const Bytes large = Pattern(5000);
    Watch(m_pair.client.Get());
    SendTextPacketAndRelay(m_pair.client.Get(), 40, "00000007", PacketHeader::For(40, 5000), large,
                           5);
    calls = Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].pieces, (std::vector<std::size_t>{8, 8, 1}));
    EXPECT_EQ(calls[1].pieces, (std::vector<std::size_t>{8, 4096}));
    EXPECT_EQ(calls[2].pieces, (std::vector<std::size_t>{904}));
    EXPECT_EQ(ReceiveBytes(17).size(), 17u);
    EXPECT_EQ(ReceiveBytes(8), Header(0xAA, 1, 40, 5000));
    EXPECT_EQ(ReceiveBytes(5000), large);

    EXPECT_THROW(SendTextPacketAndRelay(m_pair.client.Get(), 40, "x", header,
                                        std::span(record).first(10), 5),
                 std::invalid_argument);
}

TEST(BodyText, StopsAtNulOrBodyEnd) {
    const std::array<std::uint8_t, 8> buffer{'a', 'b', 0, 'c', 'd', 'e', 0, 0};
    EXPECT_EQ(BodyText(PacketHeader::For(0, 8), buffer), "ab");
    const std::array<std::uint8_t, 4> full{'w', 'x', 'y', 'z'};
    EXPECT_EQ(BodyText(PacketHeader::For(0, 3), full), "wxy");
    EXPECT_EQ(BodyText(PacketHeader::For(0, 100), full), "wxyz");
}

}  // namespace
}  // namespace talvorine::protocol

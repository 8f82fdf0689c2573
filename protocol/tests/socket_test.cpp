#include "talvorine/protocol/socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <thread>

#include "loopback.h"
#include "talvorine/protocol/net_error.h"

namespace talvorine::protocol {
namespace {

using testing::LoopbackPair;

class SocketTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(StartSockets(), 0); }
    void TearDown() override { StopSockets(); }
};

TEST(SocketErrorText, TableTextsAndNumberFallback) {
    EXPECT_EQ(SocketErrorText(10060), "connection timed out");
    EXPECT_EQ(SocketErrorText(10048), "address already in use");
    EXPECT_EQ(SocketErrorText(11001), "Authoritive: Host not found");
    EXPECT_EQ(SocketErrorText(12345), "error number is 12345");
    EXPECT_EQ(SocketErrorText(0), "error number is 0");
}

TEST(SocketErrorText, PlatformCodesMapOntoTheTable) {
    EXPECT_EQ(MapErrno(EAGAIN), SocketCode::TimedOut);
    EXPECT_EQ(MapErrno(ETIMEDOUT), SocketCode::TimedOut);
    EXPECT_EQ(MapErrno(ECONNRESET), SocketCode::ConnectionReset);
    EXPECT_EQ(MapErrno(ECONNREFUSED), SocketCode::ConnectionRefused);
    EXPECT_EQ(MapErrno(EBADF), SocketCode::NotSocket);
    EXPECT_EQ(MapErrno(EPIPE), SocketCode::Shutdown);
    EXPECT_EQ(MapErrno(ENOMEM), ENOMEM);  // unknown values pass through
    EXPECT_EQ(MapResolverError(EAI_NONAME), 11001);
    EXPECT_EQ(MapResolverError(EAI_AGAIN), 11002);
    EXPECT_EQ(MapResolverError(EAI_FAIL), 11003);
    EXPECT_EQ(MapResolverError(EAI_NODATA), 11004);
}

TEST(SocketErrorText, LastErrorIsPerThread) {
    SetLastSocketError(10054);
    std::thread other([] {
        EXPECT_EQ(LastSocketError(), 0);
        SetLastSocketError(10061);
    });
    other.join();
    EXPECT_EQ(LastSocketErrorText(), "connection reset");
}

TEST_F(SocketTest, ListenOnBusyPortFailsWithAddressInUse) {
    Socket first;
    ASSERT_EQ(ListenOn(first.Ref(), 0), 0);
    const std::uint16_t port = LocalPort(first.Get());
    ASSERT_NE(port, 0);

    Socket second;
    EXPECT_EQ(ListenOn(second.Ref(), port), -1);
    EXPECT_EQ(LastSocketErrorText(), "address already in use");
    EXPECT_TRUE(second.IsOpen());  // stored before the bind failed, so the caller can close it
}

TEST_F(SocketTest, ListenOnPortWithConnectionsInTimeWaitSucceeds) {
    std::uint16_t port = 0;
    {
        LoopbackPair pair;
        port = LocalPort(pair.listener.Get());
        // The server side closes first, which leaves its end of the connection in TIME_WAIT.
        pair.server.Close();
        std::array<std::uint8_t, 1> byte{};
        EXPECT_EQ(ReceiveRaw(pair.client.Get(), byte, 0, 5), 0);
    }
    Socket again;
    EXPECT_EQ(ListenOn(again.Ref(), port), 0) << LastSocketErrorText();
}

TEST_F(SocketTest, ConnectAcceptAndAddresses) {
    sockaddr_in peer{};
    Socket listener;
    ASSERT_EQ(ListenOn(listener.Ref(), 0), 0);
    Socket client;
    ASSERT_EQ(ConnectOrThrow(client.Ref(), "127.0.0.1", LocalPort(listener.Get())), 0);
    Socket accepted(AcceptOn(listener.Get(), &peer));
    ASSERT_TRUE(accepted.IsOpen());
    EXPECT_EQ(peer.sin_family, AF_INET);
    EXPECT_EQ(peer.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    EXPECT_EQ(ntohs(peer.sin_port), LocalPort(client.Get()));
    EXPECT_EQ(PeerAddress(accepted.Get()), htonl(INADDR_LOOPBACK));

    // "localhost" goes through the resolver.
    Socket byName;
    EXPECT_EQ(ConnectTo(byName.Ref(), "localhost", LocalPort(listener.Get())), 0)
        << LastSocketErrorText();
}

TEST_F(SocketTest, ConnectToUnresolvableNameLeavesTheSocket) {
    Socket socket;
    EXPECT_EQ(ConnectTo(socket.Ref(), "no-such-host.invalid", 8000), -1);
    EXPECT_TRUE(socket.IsOpen());
    EXPECT_GE(LastSocketError(), 11001);
    EXPECT_LE(LastSocketError(), 11004);

    Socket again;
    try {
        ConnectOrThrow(again.Ref(), "no-such-host.invalid", 8000);
        FAIL() << "no error raised";
    } catch (const NetError& error) {
        EXPECT_EQ(error.what(), SocketErrorText(LastSocketError()));
    }
}

TEST_F(SocketTest, ConnectToClosedPortIsRefused) {
    std::uint16_t port = 0;
    {
        Socket probe;
        ASSERT_EQ(ListenOn(probe.Ref(), 0), 0);
        port = LocalPort(probe.Get());
    }
    Socket socket;
    EXPECT_EQ(ConnectTo(socket.Ref(), "127.0.0.1", port), -1);
    EXPECT_EQ(LastSocketErrorText(), "connection refused");
}

TEST_F(SocketTest, CloseSocketTwiceIsHarmless) {
    SocketHandle handle = InvalidSocket;
    EXPECT_EQ(CloseSocket(handle), 0);
    EXPECT_EQ(handle, InvalidSocket);

    ASSERT_EQ(ListenOn(handle, 0), 0);
    EXPECT_EQ(CloseSocket(handle), 0);
    EXPECT_EQ(handle, InvalidSocket);
    EXPECT_EQ(CloseSocket(handle), 0);
    EXPECT_EQ(handle, InvalidSocket);
}

TEST_F(SocketTest, ReceiveRawTimesOutAfterAboutTwoSeconds) {
    LoopbackPair pair;
    std::array<std::uint8_t, 16> buffer{};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReceiveRaw(pair.client.Get(), buffer, 0, 2), -1);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(LastSocketError(), SocketCode::TimedOut);
    EXPECT_EQ(LastSocketErrorText(), "connection timed out");
    EXPECT_GE(elapsed.count(), 1.5);
    EXPECT_LE(elapsed.count(), 5.0);
}

TEST_F(SocketTest, ReceiveRawWithoutTimeoutWaitsForData) {
    LoopbackPair pair;
    // A previous time-out on this socket must not linger: 0 means no limit.
    std::array<std::uint8_t, 4> buffer{};
    EXPECT_EQ(ReceiveRaw(pair.client.Get(), buffer, 0, 1), -1);
    std::thread sender([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        const std::array<std::uint8_t, 2> data{'o', 'k'};
        SendOrThrow(pair.server.Get(), data, 5);
    });
    EXPECT_EQ(ReceiveRaw(pair.client.Get(), buffer, 0, 0), 2);
    sender.join();
    EXPECT_EQ(buffer[0], 'o');
}

TEST_F(SocketTest, ReceiveOrThrowOnOrderlyCloseGivesErrorNumberZero) {
    LoopbackPair pair;
    SetLastSocketError(10054);
    pair.server.Close();
    std::array<std::uint8_t, 4> buffer{};
    try {
        ReceiveOrThrow(pair.client.Get(), buffer, 0, 5);
        FAIL() << "no error raised";
    } catch (const NetError& error) {
        EXPECT_STREQ(error.what(), "error number is 0");
    }
}

TEST_F(SocketTest, ShutdownWakesABlockedReceiveWithoutClosing) {
    LoopbackPair pair;
    long result = 1;
    std::thread reader([&] {
        std::array<std::uint8_t, 4> buffer{};
        result = ReceiveRaw(pair.client.Get(), buffer, 0, 0);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ShutdownSocket(pair.client.Get());
    reader.join();
    EXPECT_EQ(result, 0);
    EXPECT_NE(LocalPort(pair.client.Get()), 0);  // the descriptor is still ours
}

TEST_F(SocketTest, SendToClosedPeerFailsWithoutSignal) {
    LoopbackPair pair;
    pair.server.Close();
    std::array<std::uint8_t, 1024> data{};
    long result = 0;
    // The first send may still be accepted; the peer's reset makes a later one fail.
    for (int i = 0; i < 50 && result >= 0; ++i) {
        result = SendRaw(pair.client.Get(), data, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(LastSocketError() == SocketCode::Shutdown ||
                LastSocketError() == SocketCode::ConnectionReset)
        << LastSocketError();
    EXPECT_THROW(SendOrThrow(pair.client.Get(), data, 5), NetError);
}

TEST_F(SocketTest, OwningSocketMovesAndCloses) {
    Socket a;
    ASSERT_EQ(ListenOn(a.Ref(), 0), 0);
    const SocketHandle handle = a.Get();
    Socket b(std::move(a));
    EXPECT_FALSE(a.IsOpen());
    EXPECT_EQ(b.Get(), handle);
    Socket c;
    c = std::move(b);
    EXPECT_EQ(c.Get(), handle);
    EXPECT_EQ(c.Close(), 0);
    EXPECT_FALSE(c.IsOpen());
    EXPECT_EQ(LocalPort(handle), 0);  // really closed
}

TEST(SocketHelpers, SystemErrorTextDescribesErrno) {
    errno = ENOENT;
    EXPECT_EQ(SystemErrorText(), "No such file or directory");
}

TEST(SocketHelpers, IsDirectory) {
    EXPECT_TRUE(IsDirectory("/"));
    EXPECT_FALSE(IsDirectory("/proc/self/status"));
    EXPECT_FALSE(IsDirectory("/no/such/path"));
}

}  // namespace
}  // namespace talvorine::protocol

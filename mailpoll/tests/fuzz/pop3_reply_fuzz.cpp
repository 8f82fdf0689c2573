// The POP3 session's reply reader on arbitrary server output: a peer on loopback sends the
// input as everything the server says and closes; the session logs in, asks for the
// statistics, sizes and headers, and must fail cleanly wherever the replies stop making sense.
// The header field reader gets the same bytes as a header.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <thread>

#include "talvorine/mailpoll/pop3_session.h"
#include "talvorine/protocol/socket.h"

namespace mp = talvorine::mailpoll;
namespace pr = talvorine::protocol;

namespace {

struct Listener {
    Listener() {
        pr::StartSockets();
        if (pr::ListenOn(socket, 0, 16) != 0) {
            std::abort();
        }
        // Only loopback clients reach it in practice; the port is the kernel's choice.
        port = pr::LocalPort(socket);
    }
    pr::SocketHandle socket = pr::InvalidSocket;
    std::uint16_t port = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Listener listener;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)mp::Pop3Session::HeaderField(text, "Subject");
    (void)mp::Pop3Session::HeaderField(text, "Received", 1);

    std::thread server([&] {
        sockaddr_in peer{};
        pr::SocketHandle client = pr::AcceptOn(listener.socket, &peer);
        if (client == pr::InvalidSocket) {
            return;
        }
        std::size_t sent = 0;
        while (sent < size) {
            const long n = ::send(client, data + sent, size - sent, MSG_NOSIGNAL);
            if (n <= 0) {
                break;
            }
            sent += static_cast<std::size_t>(n);
        }
        pr::CloseSocket(client);
    });
    {
        mp::Pop3Session session;
        session.SetReplyTimeout(std::chrono::milliseconds(200));
        session.SetReplyLimit(1 << 20);
        if (session.Connect("127.0.0.1", "user", "password", listener.port)) {
            if (const auto statistics = session.Statistics()) {
                const std::uint32_t last = statistics->count < 3 ? statistics->count : 3;
                for (std::uint32_t i = 1; i <= last; ++i) {
                    (void)session.MessageSize(i);
                    (void)session.MessageHeader(i);
                }
            }
            session.Disconnect();
        }
    }
    server.join();
    return 0;
}

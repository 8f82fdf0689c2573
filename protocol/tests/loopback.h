#pragma once
// A connected pair of real TCP sockets on 127.0.0.1, on a port the kernel picked.

#include <gtest/gtest.h>

#include "talvorine/protocol/socket.h"

namespace talvorine::protocol::testing {

struct LoopbackPair {
    Socket listener;
    Socket client;
    Socket server;

    LoopbackPair() {
        EXPECT_EQ(ListenOn(listener.Ref(), 0), 0) << LastSocketErrorText();
        EXPECT_EQ(ConnectTo(client.Ref(), "127.0.0.1", LocalPort(listener.Get())), 0)
            << LastSocketErrorText();
        server = Socket(AcceptOn(listener.Get(), nullptr));
        EXPECT_TRUE(server.IsOpen()) << LastSocketErrorText();
    }
};

}  // namespace talvorine::protocol::testing

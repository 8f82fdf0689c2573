#pragma once
// Connections that have not logged in yet (session port) or whose one request has not arrived
// yet (account port). Each has a deadline for its whole request, so a peer that trickles a
// byte now and then cannot keep one open; and their number is capped overall and per source
// address. A new connection over a cap displaces the oldest waiting one of its own address
// (or, over the overall cap, of the address with the most), so a flood from one place only
// ever displaces itself and a real user who sends a whole login at once gets in.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace talvorine::server {

class WaitingConnections {
public:
    using Clock = std::chrono::steady_clock;

    struct Limits {
        std::size_t total = 256;
        std::size_t perAddress = 64;
        Clock::duration deadline = std::chrono::seconds(30);
    };
    // Limits for an open-file limit: the two ports' waiting connections together take at most
    // half of the descriptors, so logged-in sessions (two each) always find some.
    static Limits ForOpenFileLimit(std::uint64_t openFiles);

    enum class Outcome : int { Waiting, Done, TimedOut, Displaced };

    // One waiting connection; its thread holds it until its request is complete.
    class Entry {
    public:
        Outcome Result() const;

    private:
        friend class WaitingConnections;
        std::uint32_t address = 0;
        Clock::time_point deadline;
        std::function<void()> wake;  // interrupts the connection's blocking calls
        std::atomic<Outcome> outcome{Outcome::Waiting};
    };
    using Ticket = std::shared_ptr<Entry>;

    explicit WaitingConnections(Limits limits) : m_limits(limits) {}

    // Registers a connection from `address` (network byte order); `wake` is called (under
    // this object's lock) when its deadline passes or it is displaced. Displacing counts as
    // one refusal.
    Ticket Admit(std::uint32_t address, std::function<void()> wake);
    // The request is complete: the connection no longer waits. Harmless when already out.
    void Leave(const Ticket& ticket);
    // A further whole-request deadline from now (the bytes of an icon upload).
    void Rearm(const Ticket& ticket, Clock::time_point now = Clock::now());
    // Wakes every connection whose deadline has passed.
    void Expire(Clock::time_point now = Clock::now());
    // Refusals since the last call.
    std::size_t TakeRefusals();
    std::size_t Count() const;

private:
    void Remove(const Ticket& ticket, Outcome outcome);
    void DisplaceOldest(std::uint32_t address);

    Limits m_limits;
    mutable std::mutex m_mutex;   // a leaf but for the wake calls (a session's socket mutex)
    std::list<Ticket> m_entries;  // oldest first
    std::unordered_map<std::uint32_t, std::size_t> m_perAddress;
    std::size_t m_refusals = 0;
};

}  // namespace talvorine::server

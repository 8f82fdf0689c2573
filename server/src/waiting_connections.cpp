#include "waiting_connections.h"

#include <algorithm>
#include <utility>

namespace talvorine::server {

WaitingConnections::Limits WaitingConnections::ForOpenFileLimit(std::uint64_t openFiles) {
    Limits limits;
    limits.total = static_cast<std::size_t>(std::clamp<std::uint64_t>(openFiles / 4, 16, 1024));
    limits.perAddress = std::max<std::size_t>(4, limits.total / 4);
    return limits;
}

WaitingConnections::Outcome WaitingConnections::Entry::Result() const {
    return outcome.load();
}

WaitingConnections::Ticket WaitingConnections::Admit(std::uint32_t address,
                                                     std::function<void()> wake) {
    auto ticket = std::make_shared<Entry>();
    ticket->address = address;
    ticket->deadline = Clock::now() + m_limits.deadline;
    ticket->wake = std::move(wake);
    std::lock_guard lock(m_mutex);
    if (m_perAddress[address] >= m_limits.perAddress) {
        DisplaceOldest(address);
    } else if (m_entries.size() >= m_limits.total) {
        const auto busiest =
            std::max_element(m_perAddress.begin(), m_perAddress.end(),
                             [](const auto& a, const auto& b) { return a.second < b.second; });
        DisplaceOldest(busiest->first);
    }
    m_entries.push_back(ticket);
    ++m_perAddress[address];
    return ticket;
}

void WaitingConnections::DisplaceOldest(std::uint32_t address) {
    const auto oldest = std::find_if(m_entries.begin(), m_entries.end(),
                                     [&](const Ticket& t) { return t->address == address; });
    if (oldest == m_entries.end()) {
        return;
    }
    const Ticket ticket = *oldest;
    Remove(ticket, Outcome::Displaced);
    ++m_refusals;
    ticket->wake();
}

void WaitingConnections::Remove(const Ticket& ticket, Outcome outcome) {
    if (ticket->outcome.load() != Outcome::Waiting) {
        return;
    }
    ticket->outcome.store(outcome);
    m_entries.remove(ticket);
    if (auto count = m_perAddress.find(ticket->address); count != m_perAddress.end()) {
        if (--count->second == 0) {
            m_perAddress.erase(count);
        }
    }
}

void WaitingConnections::Leave(const Ticket& ticket) {
    if (!ticket) {
        return;
    }
    std::lock_guard lock(m_mutex);
    Remove(ticket, Outcome::Done);
}

void WaitingConnections::Rearm(const Ticket& ticket, Clock::time_point now) {
    if (!ticket) {
        return;
    }
    std::lock_guard lock(m_mutex);
    if (ticket->outcome.load() == Outcome::Waiting) {
        ticket->deadline = now + m_limits.deadline;
    }
}

void WaitingConnections::Expire(Clock::time_point now) {
    std::lock_guard lock(m_mutex);
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        const Ticket ticket = *it++;
        if (ticket->deadline <= now) {
            Remove(ticket, Outcome::TimedOut);
            ticket->wake();
        }
    }
}

std::size_t WaitingConnections::TakeRefusals() {
    std::lock_guard lock(m_mutex);
    return std::exchange(m_refusals, 0);
}

std::size_t WaitingConnections::Count() const {
    std::lock_guard lock(m_mutex);
    return m_entries.size();
}

}  // namespace talvorine::server

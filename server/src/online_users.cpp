#include "online_users.h"

#include "session.h"

namespace talvorine::server {

bool OnlineUsers::TryInsert(const std::shared_ptr<Session>& session) {
    std::lock_guard lock(m_mutex);
    return m_users.try_emplace(session->UserId(), session).second;
}

std::shared_ptr<Session> OnlineUsers::Find(std::string_view userId) const {
    const std::string key(userId);
    std::lock_guard lock(m_mutex);
    const auto found = m_users.find(key);
    return found == m_users.end() ? nullptr : found->second;
}

bool OnlineUsers::Remove(const Session& session) {
    std::lock_guard lock(m_mutex);
    const auto found = m_users.find(session.UserId());
    if (found == m_users.end() || found->second.get() != &session) {
        return false;
    }
    m_users.erase(found);
    return true;
}

std::vector<std::shared_ptr<Session>> OnlineUsers::Snapshot() const {
    std::lock_guard lock(m_mutex);
    std::vector<std::shared_ptr<Session>> sessions;
    sessions.reserve(m_users.size());
    for (const auto& entry : m_users) {
        sessions.push_back(entry.second);
    }
    return sessions;
}

void OnlineUsers::Clear() {
    std::unordered_map<std::string, std::shared_ptr<Session>> released;
    {
        std::lock_guard lock(m_mutex);
        released.swap(m_users);
    }
    // The sessions may be destroyed here, outside the lock.
}

std::size_t OnlineUsers::Size() const {
    std::lock_guard lock(m_mutex);
    return m_users.size();
}

}  // namespace talvorine::server

#pragma once
// The users who are online: a map from UserId to the session that holds it. The mutex is held
// only for the map operation itself, never across a network call or a notification lock.

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace talvorine::server {

class Session;

class OnlineUsers {
public:
    // Puts the session in under its user ID unless another session holds that ID; the check
    // and the insert are one step, so two logins with one ID cannot both get in.
    bool TryInsert(const std::shared_ptr<Session>& session);
    std::shared_ptr<Session> Find(std::string_view userId) const;
    // Removes the entry for the session's ID only while it still belongs to that session.
    bool Remove(const Session& session);
    std::vector<std::shared_ptr<Session>> Snapshot() const;
    void Clear();
    std::size_t Size() const;

private:
    mutable std::mutex m_mutex;  // OnlineUsersMutex
    std::unordered_map<std::string, std::shared_ptr<Session>> m_users;
};

}  // namespace talvorine::server

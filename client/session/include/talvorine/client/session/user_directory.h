#pragma once
// The registered users as the server lists them: the search, one user's profile and one of a
// user's pictures. Each request runs on its own account connection (the server's port + 1,
// one request, closed after the exchange), so none of them waits for the request connection.
// Failures throw AccountRequestError with the text to show: the server's refusal, a socket
// error text, or "Incorrect packet received".

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "talvorine/client/session/account_requests.h"
#include "talvorine/protocol/catalogue.h"

namespace talvorine::client::session {

// The search lists at most this many users.
inline constexpr int MaxSearchRows = 100;

// Request 60: the listed users in the server's order. `onRow` sees each row as it arrives
// (the caller's list fills while the rest is read). The first reply that is not a row ends
// the list.
std::vector<protocol::SearchRow> SearchUsers(
    const AccountServer& server, const protocol::SearchRequest& request,
    const std::function<void(const protocol::SearchRow&)>& onRow = {});

// Request 52: another user's profile (password bytes zero).
protocol::UserProfile GetUserInfo(const AccountServer& server, std::string_view userId);

}  // namespace talvorine::client::session

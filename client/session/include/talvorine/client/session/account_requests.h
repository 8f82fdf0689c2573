#pragma once
// The account connection: one request to the server's port + 1 per connection (new account,
// import, profile change, password change). Failures throw AccountRequestError with the text
// to show: the server's refusal, a socket error text, or "Incorrect packet received".

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "talvorine/protocol/catalogue.h"

namespace talvorine::client::session {

class AccountRequestError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct AccountServer {
    std::string server;
    std::uint16_t port = 8000;  // the session port; requests go to port + 1
};

// Request 50: a new id and its initial password.
protocol::AccountCredentials RequestNewAccount(const AccountServer& server);
// Request 51: the profile of an existing account (password field zero).
protocol::UserProfile ImportAccount(const AccountServer& server, std::string_view userId,
                                    std::string_view password);
// Request 53: the profile with the owner's password in it.
void ChangeUserInfo(const AccountServer& server, const protocol::UserProfile& profile);
// Request 54.
void ChangePassword(const AccountServer& server, std::string_view userId,
                    std::string_view oldPassword, std::string_view newPassword);

}  // namespace talvorine::client::session

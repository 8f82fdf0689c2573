#pragma once
// What the user wizard and the information sheets ask of the main window: where the server
// is, which account is in use, and the contact list they add to or rename in. Every call runs
// on the user-interface thread.

#include <QWidget>
#include <functional>
#include <optional>
#include <string>

#include "talvorine/client/session/account_requests.h"
#include "talvorine/protocol/catalogue.h"

namespace talvorine::client::ui::directory {

struct DirectoryServices {
    // The parent of the wizard and of message boxes (the main window).
    QWidget* dialogParent = nullptr;
    std::function<session::AccountServer()> server;
    // The account in use ("" when none): its files and its own profile.
    std::function<std::string()> accountId;
    // True when the user is anywhere on the contact list.
    std::function<bool(const std::string& userId)> isListed;
    // Writes the user into `group` and appends it to the list; the system's error text when
    // that fails.
    std::function<std::optional<std::string>(const std::string& group,
                                             const protocol::SearchRow& row)>
        addContact;
    // The contact's picture files changed: load them again.
    std::function<void(const std::string& userId)> picturesChanged;
    std::function<void()> wakeStatusPoll;
    // Replaces the nickname the list shows (when it differs); false when the contact is not on
    // the list any more.
    std::function<bool(const std::string& userId, const std::string& nickname)> setListedNickname;
    // The own profile was saved (the window shows the new nickname); may be empty.
    std::function<void(const protocol::UserProfile& profile)> ownProfileSaved;
    // Asks for the own password before a save ("Input Password"); nullopt on Cancel. Empty:
    // the real dialog.
    std::function<std::optional<std::string>(QWidget* parent, const std::string& userId)>
        askPassword;
};

}  // namespace talvorine::client::ui::directory

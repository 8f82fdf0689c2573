#pragma once
// What the chat and file-transfer windows need from the main window: the server session for
// their requests, the own account, contacts' nicknames, the receiving options and the event
// sounds. The main window fills it in; tests fill it with their own parts.

#include <functional>
#include <string>
#include <string_view>

#include "talvorine/client/session/data_ports.h"
#include "talvorine/client/session/server_session.h"

namespace talvorine::client::ui {

struct PeerServices {
    session::RequestChannel* channel = nullptr;  // the request connection (request 45 and 46)
    std::function<bool()> connected;
    std::function<bool()> quitting;
    std::function<std::string()> accountId;    // the own UserId
    std::function<std::string()> ownNickname;  // the speaker of the own chat lines
    // The contact's nickname, or the id itself when the user is not a contact.
    std::function<std::string(std::string_view userId)> nicknameOf;
    std::function<session::FileReceiveOptions()> receiveOptions;
    std::function<void(int eventNumber)> playSound;

    bool Connected() const { return connected && connected(); }
    bool Quitting() const { return quitting && quitting(); }
    std::string NicknameOf(std::string_view userId) const {
        return nicknameOf ? nicknameOf(userId) : std::string(userId);
    }
    void Play(int eventNumber) const {
        if (playSound) {
            playSound(eventNumber);
        }
    }
};

// Waits for a worker while the window thread keeps serving its events (the worker may be
// handing something over to it).
void WaitServingEvents(session::Worker& worker);

}  // namespace talvorine::client::ui

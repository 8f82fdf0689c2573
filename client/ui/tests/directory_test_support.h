#pragma once
// The user wizard's and the information sheet's tests: the main window's side played by a
// real contact list (loaded from a temporary client folder) and its group commands, and
// message boxes answered from a script.

#include <QApplication>
#include <QMessageBox>
#include <mutex>
#include <string>
#include <vector>

#include "dialog_test_support.h"
#include "talvorine/client/data/contact_list.h"
#include "talvorine/client/ui/contacts/group_commands.h"
#include "talvorine/client/ui/directory/directory_services.h"
#include "talvorine/testing/qt_test_support.h"

namespace talvorine::client::ui::directory::testing {

using ScriptedBox = ::talvorine::testing::CaughtBox;

// The message boxes `action` opens, answered in turn from `answers` (the last one repeats).
inline std::vector<ScriptedBox> AnswerInTurn(
    const std::function<void()>& action, std::initializer_list<QMessageBox::StandardButton> answers,
    const std::function<void(std::size_t)>& onBox = {}) {
    return ::talvorine::testing::AnswerBoxesInTurn(action, answers, onBox);
}

inline std::vector<QString> Texts(const std::vector<ScriptedBox>& boxes) {
    std::vector<QString> texts;
    for (const auto& box : boxes) {
        texts.push_back(box.text);
    }
    return texts;
}

// The account `accountId`'s contact list in the temporary client folder, and services that
// add to it, rename in it and count what the window was asked.
class ListServices {
public:
    ListServices(std::string accountId, session::AccountServer server)
        : m_accountId(std::move(accountId)), commands(list, mutex) {
        list.Load(m_accountId);
        services.dialogParent = &parent;
        services.server = [server] { return server; };
        services.accountId = [this] { return m_accountId; };
        services.isListed = [this](const std::string& id) {
            return list.FindContact(id).has_value();
        };
        services.addContact = [this](const std::string& group,
                                     const protocol::SearchRow& row) -> std::optional<std::string> {
            const auto result =
                commands.AddContact(list.FindGroup(group), row.userId, row.nickname, row.email);
            return result.ok ? std::nullopt : std::optional<std::string>(result.text);
        };
        services.picturesChanged = [this](const std::string& id) { reloaded.push_back(id); };
        services.wakeStatusPoll = [this] { ++wakes; };
        services.setListedNickname = [this](const std::string& id, const std::string& nickname) {
            const auto position = list.FindContact(id);
            if (!position) {
                return false;
            }
            list.SetNickname(*position, nickname);
            return true;
        };
        services.askPassword = [this](QWidget*, const std::string&) {
            ++passwordQuestions;
            return password;
        };
    }

    std::string Nickname(const std::string& id) const {
        const auto position = list.FindContact(id);
        return position ? list.Entry(*position)->nickname : std::string();
    }

    std::string m_accountId;
    QWidget parent;
    data::ContactList list;
    std::mutex mutex;
    contacts::GroupCommands commands;
    DirectoryServices services;
    std::vector<std::string> reloaded;
    int wakes = 0;
    int passwordQuestions = 0;
    std::optional<std::string> password;
};

}  // namespace talvorine::client::ui::directory::testing

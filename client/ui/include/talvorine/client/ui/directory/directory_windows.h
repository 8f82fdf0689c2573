#pragma once
// The user wizard and the information sheets of one main window: at most one sheet per
// UserId (opening it again brings it to the front), the own profile's sheet among them.

#include <QPointer>
#include <map>
#include <string>

#include "talvorine/client/ui/directory/directory_services.h"
#include "talvorine/client/ui/directory/sheet_view_user_info.h"

namespace talvorine::client::ui::directory {

class DirectoryWindows {
public:
    explicit DirectoryWindows(DirectoryServices services);
    ~DirectoryWindows();
    DirectoryWindows(const DirectoryWindows&) = delete;
    DirectoryWindows& operator=(const DirectoryWindows&) = delete;

    DirectoryServices& Services() { return m_services; }

    // "Add User...": the modal wizard adding into `group`, repeated while "I want to add more
    // users" is ticked.
    void RunUserWizard(const std::string& group);
    // "Info...": the contact's sheet.
    CSheetViewUserInfo* OpenUserInfo(const std::string& contactId);
    // "View / Change My Info...": the own sheet; nullptr when no account is in use.
    CSheetViewUserInfo* OpenOwnInfo();
    CSheetViewUserInfo* Sheet(const std::string& userId) const;
    // Another account: every sheet closes.
    void CloseAll();

private:
    CSheetViewUserInfo* Open(const std::string& userId, infopages::InfoMode mode);

    DirectoryServices m_services;
    std::map<std::string, QPointer<CSheetViewUserInfo>> m_sheets;
};

}  // namespace talvorine::client::ui::directory

#include "talvorine/client/ui/directory/directory_windows.h"

#include "talvorine/client/ui/directory/dlg_uw.h"

namespace talvorine::client::ui::directory {

DirectoryWindows::DirectoryWindows(DirectoryServices services) : m_services(std::move(services)) {}

DirectoryWindows::~DirectoryWindows() {
    CloseAll();
}

void DirectoryWindows::RunUserWizard(const std::string& group) {
    CDlgUW wizard(m_services, group, m_services.dialogParent);
    wizard.exec();
}

CSheetViewUserInfo* DirectoryWindows::OpenUserInfo(const std::string& contactId) {
    return Open(contactId, infopages::InfoMode::Contact);
}

CSheetViewUserInfo* DirectoryWindows::OpenOwnInfo() {
    const std::string own = m_services.accountId ? m_services.accountId() : std::string();
    if (own.empty()) {
        return nullptr;
    }
    return Open(own, infopages::InfoMode::Own);
}

CSheetViewUserInfo* DirectoryWindows::Sheet(const std::string& userId) const {
    const auto found = m_sheets.find(userId);
    return found == m_sheets.end() ? nullptr : found->second.data();
}

CSheetViewUserInfo* DirectoryWindows::Open(const std::string& userId, infopages::InfoMode mode) {
    CSheetViewUserInfo* sheet = Sheet(userId);
    if (sheet == nullptr) {
        sheet = new CSheetViewUserInfo(m_services, mode, userId, m_services.dialogParent);
        m_sheets[userId] = sheet;
    }
    sheet->show();
    sheet->raise();
    sheet->activateWindow();
    return sheet;
}

void DirectoryWindows::CloseAll() {
    for (auto& [id, sheet] : m_sheets) {
        if (sheet && sheet->Busy()) {
            sheet->close();  // put off until its request returns
        } else {
            delete sheet.data();
        }
    }
    m_sheets.clear();
}

}  // namespace talvorine::client::ui::directory

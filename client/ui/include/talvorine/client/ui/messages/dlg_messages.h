#pragma once
// The "Messages" window of one contact: the pages "Received" (first) and "Sent", each built
// and filled the first time it is selected, and "Close". One window per contact; its
// placement is kept in the section "MessageHistory".

#include <QDialog>

#include "talvorine/client/ui/messages/messages_list_page.h"

class QTabWidget;

namespace talvorine::client::ui {

class CDlgMessages : public QDialog {
    Q_OBJECT
public:
    explicit CDlgMessages(MessagesWindowServices services, QWidget* parent = nullptr);
    ~CDlgMessages() override;

    const std::string& ContactId() const { return m_services.contactId; }
    // Selects a page (building and filling it the first time).
    void ShowPage(MessagesPageKind kind);
    // A message from the contact has been stored: the received page lists it.
    void MessageArrived();
    // A message to the contact has been stored: the sent page lists it.
    void MessageSent();

    // The page, nullptr while it has not been built.
    CMessagesListPage* Page(MessagesPageKind kind) const;
    QTabWidget* Tabs() const { return m_tabs; }

private:
    void TabSelected(int tab);

    MessagesWindowServices m_services;
    QTabWidget* m_tabs;
    CMessagesListPage* m_received = nullptr;
    CMessagesListPage* m_sent = nullptr;
};

}  // namespace talvorine::client::ui

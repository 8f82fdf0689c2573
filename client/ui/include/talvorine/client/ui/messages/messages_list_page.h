#pragma once
// One page of the "Messages" window: the received or the sent messages of the contact in a
// list (newest first, read a page at a time as it is scrolled), a splitter, and the shown
// message in a read-only rich pane. Its splitter position, column widths and word wrap are
// kept in the section "ReceivedMessageHistory" or "SentMessageHistory".

#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "talvorine/client/data/client_settings.h"
#include "talvorine/client/ui/messages/messages_page.h"

class QCheckBox;
class QMenu;
class QPushButton;
class QSplitter;
class QTextBrowser;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class QUrl;

namespace talvorine::client::ui {

// What a reply hands to the "Send Message" window: the contact and the shown message, whose
// text the window quotes.
struct MessageReply {
    std::string contactId;
    std::string nickname;
    std::string plainText;  // the shown message without formatting ("" when none is shown)
    std::string rtfText;    // the shown message's RTF ("" when it is plain text or none)
};

// What the "Messages" window needs from the main window.
struct MessagesWindowServices {
    std::string accountId;
    std::string contactId;
    std::string nickname;
    std::mutex* historyLock = nullptr;      // the receiving path's history lock
    std::shared_ptr<UnreadCounter> unread;  // the contact's unread count in the contact list
    // The client's settings at this moment ("Mark as read", its interval, "Close message
    // viewer on reply").
    std::function<data::ClientSettings()> settings;
    // Opens the "Send Message" window in reply mode; without it "Reply" is not offered.
    std::function<void(const MessageReply&)> reply;
    // Opens a link that IsOpenableLink allows (the desktop's browser or mail program).
    std::function<void(const QUrl&)> openLink;
};

class CMessagesListPage : public QWidget {
    Q_OBJECT
public:
    CMessagesListPage(MessagesPageKind kind, const MessagesWindowServices& services,
                      QWidget* parent);
    ~CMessagesListPage() override;

    // Lists the store (the first time the page is selected).
    void Fill();
    bool Filled() const { return m_filled; }
    // Takes the messages the store gained since it was read, at the top (received ones unread).
    void MessageArrived();

    MessagesPage& Page() { return m_page; }
    QTreeWidget* List() const { return m_list; }
    QTextBrowser* Pane() const { return m_pane; }
    QTimer* MarkTimer() const { return m_markTimer; }
    QSplitter* Splitter() const { return m_splitter; }

    // The commands of the buttons and menus.
    void Reply();
    void DeleteSelected();
    void DeleteAll();
    void Compact();
    void CopyMessage();
    void MarkSelected(bool read);
    // The list's context menu as it would pop up now (for the pictures and tests).
    std::unique_ptr<QMenu> BuildListMenu();
    std::unique_ptr<QMenu> BuildPaneMenu();

signals:
    // Reply was chosen with "Close message viewer on reply" on.
    void closeWanted();

private:
    void SaveLayout();
    void AddItems(std::size_t from, std::size_t to);
    void UpdateItem(std::size_t row);
    void FetchMoreIfAtEnd();
    bool AskSkip(std::uint32_t record);
    void ShowCurrent();
    void MarkCurrentRead();
    void LinkClicked(const QUrl& url);
    std::vector<std::size_t> SelectedRows() const;
    int CurrentRow() const;
    void SelectRow(int row);
    void UpdateButtons();

    const MessagesWindowServices& m_services;
    MessagesPage m_page;
    std::string_view m_section;
    bool m_filled = false;
    std::optional<MessageText> m_shown;
    QTreeWidget* m_list;
    QTextBrowser* m_pane;
    QSplitter* m_splitter;
    QPushButton* m_reply = nullptr;
    QPushButton* m_delete;
    QPushButton* m_deleteAll;
    QPushButton* m_compact;
    QCheckBox* m_wordWrap;
    QTimer* m_markTimer;
};

}  // namespace talvorine::client::ui

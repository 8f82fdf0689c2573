#pragma once
// The chat history window of one contact (caption "Chat"): one row per chat request with its
// answer, the "Chat Details" of a row, delete and delete all. Its column widths and placement
// are kept in the section "ChatHistory".

#include <QDialog>

#include "talvorine/client/ui/chat/chat_history.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

namespace talvorine::client::ui {

class CDlgChatHistory : public QDialog {
    Q_OBJECT
public:
    CDlgChatHistory(ChatHistory history, QWidget* parent = nullptr);
    ~CDlgChatHistory() override;

    const std::string& PeerId() const { return m_history.PeerId(); }
    const ChatHistory& History() const { return m_history; }

    // The buttons' commands.
    void DeleteSelected();
    void DeleteAll();
    void ShowDetails();

private:
    void Fill();
    void UpdateButtons();
    int SelectedRow() const;

    ChatHistory m_history;
    QTreeWidget* m_list;
    QPushButton* m_delete;
    QPushButton* m_details;
    QPushButton* m_deleteAll;
};

// "Chat Details": the request, its answer and the transcript of one row, stepping through the
// list with "<< Previous" and "Next >>".
class CDlgChatDetails : public QDialog {
    Q_OBJECT
public:
    CDlgChatDetails(const ChatHistory& history, std::size_t row, QWidget* parent = nullptr);

    std::size_t Row() const { return m_row; }
    void Previous();
    void Next();

private:
    void Show(std::size_t row);

    const ChatHistory& m_history;
    std::size_t m_row = 0;
    QLineEdit* m_type;
    QLineEdit* m_dateTime;
    QLabel* m_status;
    QPlainTextEdit* m_text;
    QPushButton* m_previous;
    QPushButton* m_next;
};

}  // namespace talvorine::client::ui

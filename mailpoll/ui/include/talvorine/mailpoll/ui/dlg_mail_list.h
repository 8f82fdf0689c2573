#pragma once
// The headers of one account's waiting mail, newest first, and the deletion of all or the
// selected messages by a DeleteWorker.

#include <QDialog>
#include <functional>
#include <vector>

#include "talvorine/mailpoll/delete_worker.h"
#include "talvorine/mailpoll/mail_checker.h"

class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace talvorine::mailpoll::ui {

class CDlgMailList : public QDialog, private DeleteObserver {
    Q_OBJECT
public:
    // `stopRetrieval` stops the header-fetching check (the server keeps the mailbox locked
    // while it runs, so deleting waits for it to end).
    CDlgMailList(MailAccount account, std::function<void()> stopRetrieval,
                 QWidget* parent = nullptr);
    ~CDlgMailList() override;

    // From the main window as the check goes on.
    void SetMessageCount(std::uint32_t count);
    void AddHeader(const MailHeaderItem& item);
    void RetrievalFinished();

    bool IsDeleting() const { return m_worker.IsRunning(); }
    void DeleteAll();
    void DeleteSelected();

    void reject() override;

    // "From" wholly enclosed in "<" and ">" is shown without them; sizes in kilobytes.
    static QString ShownFrom(const QString& from);
    static QString ShownSize(std::uint32_t bytes);

private:
    void DeleteItems(std::vector<QTreeWidgetItem*> items);
    void UpdateCaption();
    void DeleteProgress(const std::string& text) override;
    void MessageDeleted(std::size_t position) override;
    void DeleteFinished(bool ok, const std::string& text) override;
    template <typename Call>
    void OnWindowThread(Call call);

    MailAccount m_account;
    std::function<void()> m_stopRetrieval;
    DeleteWorker m_worker;
    std::vector<QTreeWidgetItem*> m_deleting;
    std::uint32_t m_count = 0;
    QLabel* m_caption;
    QTreeWidget* m_list;
    QPushButton* m_deleteSelected;
    QPushButton* m_deleteAll;
    QPushButton* m_close;
};

}  // namespace talvorine::mailpoll::ui

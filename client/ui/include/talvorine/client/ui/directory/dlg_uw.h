#pragma once
// CDlgUW, the user wizard: "Search Condition" (CDlgUWSelect), "Search Result" (CDlgUWResult,
// which searches and adds the chosen users to a group) and CDlgUWFinish ("I want to add
// more users"). The search and the picture downloads run off the window thread under a wait
// cursor; the rules live in directory_rules.h.

#include <QWizard>
#include <QWizardPage>
#include <string>
#include <vector>

#include "talvorine/client/ui/directory/directory_rules.h"
#include "talvorine/client/ui/directory/directory_services.h"

class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QRadioButton;
class QTreeWidget;

namespace talvorine::client::ui::directory {

class CDlgUWSelect : public QWizardPage {
    Q_OBJECT
public:
    explicit CDlgUWSelect(QWidget* parent = nullptr);
    SearchCondition Condition() const;
    void SetCategory(SearchCategory category);
    QLineEdit* Field(SearchCategory category) const;
    QRadioButton* CategoryButton(SearchCategory category) const;
    QRadioButton* ExactButton() const { return m_exact; }
    // The chosen category's field takes the focus, so the user types at once.
    void initializePage() override;
    // "Next": an empty condition asks first.
    bool validatePage() override;

private:
    void EnableFields();

    QButtonGroup* m_categories;
    QRadioButton* m_byId;
    QRadioButton* m_byNickname;
    QRadioButton* m_byEmail;
    QLineEdit* m_id;
    QLineEdit* m_nickname;
    QLineEdit* m_email;
    QRadioButton* m_inclusive;
    QRadioButton* m_exact;
};

class CDlgUWResult : public QWizardPage {
    Q_OBJECT
public:
    CDlgUWResult(DirectoryServices& services, std::string group, CDlgUWSelect& select,
                 QWidget* parent = nullptr);
    // Clears the list and searches from a one-shot timer.
    void initializePage() override;
    // "Next": adds the selected users; false keeps the page.
    bool validatePage() override;
    // The search itself (the timer calls it); on failure the box, then back to the condition.
    void RunSearch();
    QTreeWidget* List() const { return m_list; }
    bool Searching() const { return m_searching; }
    const std::vector<protocol::SearchRow>& Rows() const { return m_rows; }

private:
    void AppendRow(const protocol::SearchRow& row);
    std::vector<protocol::SearchRow> SelectedRows() const;
    void FetchPictures(const std::string& userId);

    DirectoryServices& m_services;
    std::string m_group;
    CDlgUWSelect& m_select;
    QTreeWidget* m_list;
    std::vector<protocol::SearchRow> m_rows;
    bool m_searching = false;
};

class CDlgUWFinish : public QWizardPage {
    Q_OBJECT
public:
    explicit CDlgUWFinish(QWidget* parent = nullptr);
    QCheckBox* AddMoreBox() const { return m_addMore; }

private:
    QCheckBox* m_addMore;
};

class CDlgUW : public QWizard {
    Q_OBJECT
public:
    enum PageId { SelectPage, ResultPage, FinishPage };
    // Adds into `group` (never "Strangers": the menu refuses that before).
    CDlgUW(DirectoryServices& services, std::string group, QWidget* parent = nullptr);
    CDlgUWSelect& Select() const { return *m_select; }
    CDlgUWResult& Result() const { return *m_result; }
    CDlgUWFinish& Finish() const { return *m_finish; }
    // "Finish": wakes the status poll; with "add more" ticked the wizard starts again.
    void accept() override;

private:
    DirectoryServices& m_services;
    CDlgUWSelect* m_select;
    CDlgUWResult* m_result;
    CDlgUWFinish* m_finish;
};

}  // namespace talvorine::client::ui::directory

#pragma once
// The user page: search the account table by id, name or e-mail (optionally online users
// only), and show, enable, disable or delete the chosen account.

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QWidget>
#include <array>

#include "talvorine/admin/ui/message_box.h"
#include "talvorine/admin/user_directory.h"

namespace talvorine::admin::ui {

inline constexpr std::string_view NoSelectionText = "Please select a user firstly!";
// The list's columns, from one text split at the commas.
inline constexpr std::string_view ColumnTitles = "id,Nick Name,Real Name,Email,Department,Status";
inline constexpr int StatusColumn = 5;

class CPropertyPageUsers : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* HelpTopic = "usermanagement.htm";
    // `directory` may be closed: the commands then do nothing.
    CPropertyPageUsers(UserDirectory& directory, Opener opener, QWidget* parent = nullptr);

    // The buttons' commands.
    void Search();
    void ToggleDisabled();
    void DeleteSelected();
    void ShowDetail();

    std::array<int, 6> ColumnWidths() const;
    // The width a column has when none was kept: the text "00000000" plus 10.
    int DefaultColumnWidth() const;
    QTreeWidget* List() const { return m_list; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QTreeWidgetItem* Selected() const;
    // The selected row when a command can act on it; says so when nothing is selected.
    QTreeWidgetItem* ChosenAccount();
    static std::string IdOf(const QTreeWidgetItem* row);
    void SelectionChanged();
    void ShowToggleAs(bool disabledRow);

    UserDirectory& m_directory;
    Opener m_opener;
    std::array<QRadioButton*, 3> m_categories;
    std::array<QLineEdit*, 3> m_texts;
    QCheckBox* m_onlineOnly;
    QTreeWidget* m_list;
    QPushButton* m_detail;
    QPushButton* m_toggle;
    QPushButton* m_delete;
    QLabel* m_status;
};

}  // namespace talvorine::admin::ui

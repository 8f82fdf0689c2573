#pragma once
// "Select Login Account": the accounts on this machine, the password and "&Save password".
// OK stores "CurrentID" and the password (an empty one when the box is clear) and makes the
// choice the current account.

#include <QDialog>
#include <vector>

#include "talvorine/client/data/accounts.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace talvorine::client::ui {

class CDlgSelectAccount : public QDialog {
    Q_OBJECT
public:
    CDlgSelectAccount(data::CurrentAccount& current, QWidget* parent = nullptr);

public slots:
    void accept() override;

private:
    void Selected(int index);

    data::CurrentAccount& m_current;
    std::vector<data::AccountChoice> m_choices;
    QComboBox* m_account;
    QLineEdit* m_password;
    QCheckBox* m_save;
};

}  // namespace talvorine::client::ui

#pragma once
// "Change Password" of the current account. The server checks the old password; after a
// change the new one becomes the current password, and the remembered one too when the user
// had chosen to remember it.

#include <QDialog>

#include "talvorine/client/data/accounts.h"
#include "talvorine/client/data/client_settings.h"

class QLineEdit;

namespace talvorine::client::ui {

class CDlgChangePassword : public QDialog {
    Q_OBJECT
public:
    CDlgChangePassword(const data::ClientSettings& settings, data::CurrentAccount& current,
                       QWidget* parent = nullptr);

public slots:
    void accept() override;

private:
    const data::ClientSettings& m_settings;
    data::CurrentAccount& m_current;
    QLineEdit* m_old;
    QLineEdit* m_new;
    QLineEdit* m_confirm;
};

}  // namespace talvorine::client::ui

#pragma once
// The account editor: title, server, user name, password, port and reply time-out, with the
// refusals of empty fields and of a title another account has.

#include <QDialog>
#include <optional>

#include "talvorine/mailpoll/mail_checker.h"

class QLineEdit;
class QSpinBox;

namespace talvorine::mailpoll::ui {

class CDlgMailAccount : public QDialog {
    Q_OBJECT
public:
    // `editing` is the index of the account edited, nullopt for a new one (port 110, time-out 60).
    CDlgMailAccount(const MailChecker& checker, std::optional<std::size_t> editing,
                    QWidget* parent = nullptr);

    MailAccount Account() const;

    void accept() override;

private:
    const MailChecker& m_checker;
    std::optional<std::size_t> m_editing;
    QLineEdit* m_title;
    QLineEdit* m_server;
    QLineEdit* m_account;
    QLineEdit* m_password;
    QSpinBox* m_port;
    QSpinBox* m_timeout;
};

}  // namespace talvorine::mailpoll::ui

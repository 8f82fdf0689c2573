#pragma once
// "Account Wizard": puts an account on this machine, either a new id the server hands out or
// an existing one proved by its password. Pages: CDlgAWSelect, CDlgAWInfo, CDlgAWPassword,
// CDlgAWFinish. Each page's request runs off the window thread; Finish writes the .UID file,
// the remembered password and "CurrentID".

#include <QWizard>
#include <QWizardPage>

#include "talvorine/client/data/accounts.h"
#include "talvorine/client/data/client_settings.h"
#include "talvorine/client/session/account_requests.h"
#include "talvorine/protocol/catalogue.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace talvorine::client::ui {

class SoundPlayer;

// What the pages share.
struct AccountWizardState {
    bool importing = false;
    std::string userId;
    std::string password;  // what the server holds now
    // The whole profile: an imported account keeps the fields the wizard does not edit.
    protocol::UserProfile profile;
    bool created = false;         // the server made a new id for this wizard
    bool passwordChosen = false;  // the user's own password replaced the initial one
};

class CDlgAW : public QWizard {
    Q_OBJECT
public:
    enum PageId { SelectPage, InfoPage, PasswordPage, FinishPage };

    CDlgAW(data::ClientSettings& settings, data::CurrentAccount& current, SoundPlayer& player,
           QWidget* parent = nullptr);

    AccountWizardState& State() { return m_state; }
    data::ClientSettings& Settings() { return m_settings; }
    data::CurrentAccount& Current() { return m_current; }
    SoundPlayer& Player() { return m_player; }
    session::AccountServer Server() const;

public slots:
    void reject() override;

private:
    data::ClientSettings& m_settings;
    data::CurrentAccount& m_current;
    SoundPlayer& m_player;
    AccountWizardState m_state;
};

class CDlgAWSelect : public QWizardPage {
    Q_OBJECT
public:
    explicit CDlgAWSelect(CDlgAW& wizard);
    bool isComplete() const override;
    bool validatePage() override;

private:
    void ModeChanged();
    void OpenNetworkSettings();

    CDlgAW& m_wizard;
    QRadioButton* m_apply;
    QRadioButton* m_import;
    QLineEdit* m_id;
    QLineEdit* m_password;
    QPushButton* m_network;
};

class CDlgAWInfo : public QWizardPage {
    Q_OBJECT
public:
    explicit CDlgAWInfo(CDlgAW& wizard);
    void initializePage() override;
    bool validatePage() override;

private:
    CDlgAW& m_wizard;
    QLabel* m_yourId;
    QLineEdit* m_nickname;
    QLineEdit* m_realName;
    QComboBox* m_gender;
    QLineEdit* m_email;
};

class CDlgAWPassword : public QWizardPage {
    Q_OBJECT
public:
    explicit CDlgAWPassword(CDlgAW& wizard);
    bool validatePage() override;

private:
    CDlgAW& m_wizard;
    QLineEdit* m_password;
    QLineEdit* m_confirm;
};

class CDlgAWFinish : public QWizardPage {
    Q_OBJECT
public:
    explicit CDlgAWFinish(CDlgAW& wizard);
    bool validatePage() override;

private:
    CDlgAW& m_wizard;
};

}  // namespace talvorine::client::ui

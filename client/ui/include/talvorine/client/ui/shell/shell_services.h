#pragma once
// What the main window and the program's start-up ask of the client's dialogs, its event
// sounds and its help. The program hands in the real dialogs (MakeShellServices); tests hand
// in scripted ones. Every call runs on the user-interface thread; the dialogs are modal.

#include <memory>
#include <string_view>

#include "talvorine/client/data/accounts.h"
#include "talvorine/client/data/client_settings.h"

class QWidget;

namespace talvorine::client::ui {

class ShellServices {
public:
    virtual ~ShellServices() = default;

    // "Account Wizard" (CDlgAW). True when it ended with Finish: the .UID file, the remembered
    // password and "CurrentID" are written and `current` holds the new account.
    virtual bool RunAccountWizard(QWidget* parent, data::ClientSettings& settings,
                                  data::CurrentAccount& current) = 0;
    // "Select Login Account" (CDlgSelectAccount). True on OK: "CurrentID" and the password
    // are stored and `current` holds the chosen id and the typed password.
    virtual bool SelectAccount(QWidget* parent, data::CurrentAccount& current) = 0;
    // The options sheet: "Options" with its five pages, or "Network Settings" with the Network
    // page alone. True on OK; `settings` then holds the pages' values (written at exit).
    virtual bool EditOptions(QWidget* parent, data::ClientSettings& settings, bool networkOnly) = 0;
    // "Change Password" for `current`, whose password follows a successful change.
    virtual void ChangePassword(QWidget* parent, const data::ClientSettings& settings,
                                data::CurrentAccount& current) = 0;
    // "Away Mode"; true when confirmed (the away text is then written to "Status"/"Away").
    virtual bool ConfirmAwayMode(QWidget* parent) = 0;
    // "Shut Down ?"; true for OK. Writes "Shut Down"/"Prompt" as the inverse of its check box
    // whichever button closed it. The caller asks only while "Prompt" is not 0.
    virtual bool ConfirmShutDown(QWidget* parent) = 0;
    // The about box.
    virtual void ShowAbout(QWidget* parent) = 0;
    // Opens a help topic ("index.htm", "awaymodedialog.htm", ...) in the desktop's browser;
    // shows the designed failure text when that fails.
    virtual void ShowHelp(QWidget* parent, std::string_view topic) = 0;
    // Plays an event sound (65000 .. 65008) as `settings` say; silence, never an error, without
    // an audio device or a sound file.
    virtual void PlayEventSound(const data::ClientSettings& settings, int eventNumber) = 0;
};

// The real dialogs, sounds and help of the program.
std::unique_ptr<ShellServices> MakeShellServices();

}  // namespace talvorine::client::ui

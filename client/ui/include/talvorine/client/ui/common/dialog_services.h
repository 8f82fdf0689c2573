#pragma once
// The real dialogs, sounds and help behind ShellServices.

#include "talvorine/client/ui/common/fade_in.h"
#include "talvorine/client/ui/common/sound_player.h"
#include "talvorine/client/ui/shell/shell_services.h"

namespace talvorine::client::ui {

class DialogServices : public ShellServices {
public:
    DialogServices();

    bool RunAccountWizard(QWidget* parent, data::ClientSettings& settings,
                          data::CurrentAccount& current) override;
    bool SelectAccount(QWidget* parent, data::CurrentAccount& current) override;
    bool EditOptions(QWidget* parent, data::ClientSettings& settings, bool networkOnly) override;
    void ChangePassword(QWidget* parent, const data::ClientSettings& settings,
                        data::CurrentAccount& current) override;
    bool ConfirmAwayMode(QWidget* parent) override;
    bool ConfirmShutDown(QWidget* parent) override;
    void ShowAbout(QWidget* parent) override;
    void ShowHelp(QWidget* parent, std::string_view topic) override;
    void PlayEventSound(const data::ClientSettings& settings, int eventNumber) override;

    SoundPlayer& Player() { return m_player; }

private:
    // Dialogs without settings of their own fade as the settings last handed in say.
    void Remember(const data::ClientSettings& settings);

    SoundPlayer m_player;
    FadeSettings m_fade;
};

}  // namespace talvorine::client::ui

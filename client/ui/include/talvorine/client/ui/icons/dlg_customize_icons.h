#pragma once
// CDlgCustomizeIcons: the "Customize Icons" dialog. It shows a user's current pictures, lets
// the user choose a new file per state through CBmpDialog, and on "Update" either uploads the
// own pictures to the server (each on its own account connection, then copied into the
// account's Icons folder) or copies files as a contact's local pictures. The transfers run off
// the window thread under the progress windows "Uploading Icons" and "Copying Icon Files".

#include <QDialog>
#include <array>
#include <filesystem>
#include <string>

#include "talvorine/client/session/account_requests.h"
#include "talvorine/client/ui/icons/user_pictures.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace talvorine::client::ui::icons {

struct CustomizeTarget {
    enum class Mode { Upload, Local };
    Mode mode = Mode::Local;
    std::string accountId;  // the logged-in account, whose Icons folder holds the files
    std::string ownerId;    // whose pictures: the account itself (Upload) or a contact (Local)
    std::string password;   // Upload: the account's password
    session::AccountServer server;
};

class CDlgCustomizeIcons : public QDialog {
    Q_OBJECT
public:
    // `stockFolder`: where the chooser starts; `showPreview`: the chooser's "Show Preview",
    // kept by the caller for the program run.
    CDlgCustomizeIcons(CustomizeTarget target, std::filesystem::path stockFolder, bool& showPreview,
                       QWidget* parent);

    // The chooser's result for `slot`: validated, shown and previewed, or refused with its
    // message and the focus on the field. False when refused.
    bool Choose(int slot, const QString& path);
    // "Update".
    void Update();

    QString CurrentText(int slot) const;
    bool CurrentHasPicture(int slot) const;
    QString ChosenPath(int slot) const;
    bool ChosenHasPicture(int slot) const;
    QLineEdit* PathField(int slot) const { return m_paths[static_cast<std::size_t>(slot)]; }

private:
    void ShowCurrent();
    void Browse(int slot);
    bool UploadChosen(const std::array<std::string, PictureSlots>& chosen);
    bool CopyChosen(const std::array<std::string, PictureSlots>& chosen);

    CustomizeTarget m_target;
    std::filesystem::path m_stockFolder;
    bool& m_showPreview;
    std::array<QLabel*, PictureSlots> m_currentPictures{};
    std::array<QLabel*, PictureSlots> m_currentTexts{};
    std::array<QLineEdit*, PictureSlots> m_paths{};
    std::array<QLabel*, PictureSlots> m_newPictures{};
    QPushButton* m_update = nullptr;
};

}  // namespace talvorine::client::ui::icons

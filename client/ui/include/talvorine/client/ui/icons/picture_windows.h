#pragma once
// The windows' side of users' pictures: the progress window that the upload, the copy and the
// download show, the download of a contact's pictures with its report, and the reset. The work
// itself runs off the window thread (wait cursor; the windows keep drawing); the rules are in
// user_pictures.h.
//
// After UpdateUserPictures, ResetPictures and a copy the caller reloads the contact's pictures
// (CContactListBar::ReloadPictures), so the list draws the new ones at once.

#include <QDialog>
#include <QPointer>
#include <filesystem>
#include <string>
#include <string_view>

#include "talvorine/client/ui/icons/user_pictures.h"

class QLabel;
class QProgressBar;

namespace talvorine::client::ui::icons {

namespace PictureCaption {
inline constexpr std::string_view Uploading = "Uploading Icons";
inline constexpr std::string_view Copying = "Copying Icon Files";
inline constexpr std::string_view Downloading = "Updating User Icons";
}  // namespace PictureCaption

// A small window-modal progress window: one line of text and a bar of `steps` steps. It has no
// buttons: the work it shows ends by itself (each transfer within its time-out).
class CDlgIconProgress : public QDialog {
    Q_OBJECT
public:
    CDlgIconProgress(std::string_view caption, int steps, QWidget* parent);
    // A progress window shown at once that deletes itself when closed; the pointer tells
    // whether it is still there.
    static QPointer<CDlgIconProgress> Open(std::string_view caption, int steps, QWidget* parent);
    // Closes `progress` if it is still there.
    static void Finish(const QPointer<CDlgIconProgress>& progress);
    // Shows `line` and marks the steps before `step` done.
    void SetStep(int step, const QString& line);
    QString Line() const;
    int Done() const;

private:
    QLabel* m_line;
    QProgressBar* m_bar;
};

// The System Menu's command for the own pictures.
inline constexpr std::string_view CustomizeMyIconsMenu = "Customize My Icons...";

enum class FailureReport { Show, Silent };

// Downloads the contact's three pictures (DownloadUserPictures) under a progress window; the
// "Failed to create directory" and "Failed to update" texts are always shown, the list of
// pictures that could not be updated only with FailureReport::Show. The user wizard adds
// contacts with FailureReport::Silent.
PictureDownload UpdateUserPictures(QWidget* parent, const session::AccountServer& server,
                                   std::string_view accountId, std::string_view contactId,
                                   std::string_view nickname, FailureReport report);

// The ready-made pictures where the file chooser starts: the client folder's "Icons", into
// which the pictures shipped with the client are copied when missing there.
std::filesystem::path StockPicturesFolder();

// "Reset to Default": deletes the owner's picture files; each file that stays is reported.
void ResetPictures(QWidget* parent, std::string_view accountId, std::string_view ownerId);

}  // namespace talvorine::client::ui::icons

// Shows the user picture windows with prepared data, for scripts/screenshots.sh:
//   icons_gallery customize|upload|chooser|uploading|copying|downloading|report
// The data lives in a temporary client folder of its own (with the shipped ready-made
// pictures); the program ends by itself after 30 seconds or on SIGTERM.

#include <stdlib.h>

#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QTimer>
#include <filesystem>

#include "dialog_test_support.h"
#include "talvorine/client/data/accounts.h"
#include "talvorine/client/ui/common/message_box.h"
#include "talvorine/client/ui/icons/bmp_dialog.h"
#include "talvorine/client/ui/icons/dlg_customize_icons.h"
#include "talvorine/client/ui/icons/picture_windows.h"

using namespace talvorine::client;
using namespace talvorine::client::ui::icons;

namespace {

constexpr const char* Own = "10000001";
constexpr const char* Bob = "20000002";

std::filesystem::path Stock(const char* name) {
    return StockPicturesFolder() / (std::string(name) + ".bmp");
}

}  // namespace

int main(int argc, char** argv) {
    const std::string scene = argc > 1 ? argv[1] : "customize";
    const talvorine::client::ui::testing::TempClientHome home;
    QApplication application(argc, argv);
    talvorine::client::ui::testing::QuitOnTerminate(application);

    // Bob has his own Normal and N/A pictures; Away is the built-in one.
    const auto icons = *PicturesFolder(Own);
    data::EnsureFolder(icons);
    CopyPictureFile(Stock("Smile"), PictureFile(icons, Bob, 0));
    CopyPictureFile(Stock("Busy"), PictureFile(icons, Bob, 2));

    CustomizeTarget target;
    target.mode = scene == "upload" ? CustomizeTarget::Mode::Upload : CustomizeTarget::Mode::Local;
    target.accountId = Own;
    target.ownerId = scene == "upload" ? Own : Bob;
    bool showPreview = true;
    std::unique_ptr<QWidget> window;
    if (scene == "customize" || scene == "upload") {
        auto dialog = std::make_unique<CDlgCustomizeIcons>(target, StockPicturesFolder(),
                                                           showPreview, nullptr);
        dialog->Choose(1, QString::fromStdString(Stock("Asleep").string()));
        if (scene == "customize") {
            dialog->Choose(2, QString::fromStdString(Stock("Late Clock").string()));
        }
        window = std::move(dialog);
    } else if (scene == "chooser") {
        auto chooser = std::make_unique<CBmpDialog>(nullptr, ChooserFilter(0), "bmp",
                                                    QString::fromStdString(StockPicturesFolder()),
                                                    showPreview);
        chooser->selectFile(QString::fromStdString(Stock("Sun").string()));
        chooser->Preview(QString::fromStdString(Stock("Sun").string()));
        chooser->resize(720, 560);
        window = std::move(chooser);
    } else if (scene == "uploading" || scene == "copying" || scene == "downloading") {
        const std::string_view caption = scene == "uploading" ? PictureCaption::Uploading
                                         : scene == "copying" ? PictureCaption::Copying
                                                              : PictureCaption::Downloading;
        auto progress =
            std::make_unique<CDlgIconProgress>(caption, scene == "downloading" ? 6 : 3, nullptr);
        progress->SetStep(scene == "downloading" ? 1 : 1,
                          scene == "downloading" ? "Updating 'Away' icon of Bob..." : "Asleep.bmp");
        window = std::move(progress);
    } else if (scene == "report") {
        PictureDownload download;
        download.failures = {"Customized icon not found", "", "Customized icon not found"};
        auto box = std::make_unique<QMessageBox>(
            QMessageBox::Warning, ui::ToQString(ui::ProductName),
            ui::DisplayText(DownloadReport(download)), QMessageBox::Ok);
        window = std::move(box);
    }
    if (!window) {
        return 2;
    }
    window->move(120, 80);
    window->show();
    QTimer::singleShot(30000, &application, &QApplication::quit);
    const int result = application.exec();
    window.reset();
    return result;
}

#include "talvorine/client/ui/icons/picture_windows.h"

#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QVBoxLayout>

#include "talvorine/client/data/accounts.h"
#include "talvorine/client/ui/common/background_request.h"
#include "talvorine/client/ui/common/message_box.h"
#include "talvorine/client/ui/common/shipped_data.h"

namespace talvorine::client::ui::icons {

CDlgIconProgress::CDlgIconProgress(std::string_view caption, int steps, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName("iconProgress");
    setWindowTitle(ToQString(caption));
    setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(this);
    m_line = new QLabel(this);
    m_line->setObjectName("progressLine");
    m_line->setMinimumWidth(fontMetrics().averageCharWidth() * 48);
    m_line->setTextFormat(Qt::PlainText);
    m_bar = new QProgressBar(this);
    m_bar->setObjectName("progressBar");
    m_bar->setRange(0, steps);
    m_bar->setValue(0);
    m_bar->setTextVisible(false);
    m_bar->setAccessibleName(ToQString(caption));
    layout->addWidget(m_line);
    layout->addWidget(m_bar);
    setFixedHeight(sizeHint().height());
}

QPointer<CDlgIconProgress> CDlgIconProgress::Open(std::string_view caption, int steps,
                                                  QWidget* parent) {
    auto* progress = new CDlgIconProgress(caption, steps, parent);
    progress->setAttribute(Qt::WA_DeleteOnClose);
    progress->show();
    return progress;
}

void CDlgIconProgress::Finish(const QPointer<CDlgIconProgress>& progress) {
    if (progress) {
        progress->SetStep(progress->m_bar->maximum(), progress->Line());
        progress->close();
    }
}

void CDlgIconProgress::SetStep(int step, const QString& line) {
    m_line->setText(line);
    m_bar->setValue(std::min(step, m_bar->maximum()));
}

QString CDlgIconProgress::Line() const {
    return m_line->text();
}

int CDlgIconProgress::Done() const {
    return m_bar->value();
}

PictureDownload UpdateUserPictures(QWidget* parent, const session::AccountServer& server,
                                   std::string_view accountId, std::string_view contactId,
                                   std::string_view nickname, FailureReport report) {
    PictureDownload download;
    {
        const QPointer<CDlgIconProgress> shown =
            CDlgIconProgress::Open(PictureCaption::Downloading, DownloadSteps, parent);
        const std::string account(accountId), contact(contactId), name(nickname);
        const auto failure = RunBackgroundRequest(nullptr, [&] {
            download = DownloadUserPictures(server, account, contact, name,
                                            [shown](int step, const std::string& line) {
                                                // The worker hands the line over; the window may be
                                                // gone by then.
                                                QMetaObject::invokeMethod(
                                                    shown.data(),
                                                    [shown, step, text = ToQString(line)] {
                                                        if (shown) {
                                                            shown->SetStep(step, text);
                                                        }
                                                    },
                                                    Qt::QueuedConnection);
                                            });
        });
        if (failure) {
            download.fatal = FormatText(PictureText::UpdateFailed, {*failure});
        }
        CDlgIconProgress::Finish(shown);
    }
    if (!download.fatal.empty()) {
        ShowError(parent, ToQString(download.fatal));
    } else if (report == FailureReport::Show) {
        const std::string text = DownloadReport(download);
        if (!text.empty()) {
            ShowWarning(parent, ToQString(text));
        }
    }
    return download;
}

std::filesystem::path StockPicturesFolder() {
    const std::filesystem::path folder = data::AccountRoot() / "Icons";
    // Without shipped pictures the chooser still starts there (an empty folder).
    if (const auto shipped = ShippedDataFolder("Icons")) {
        CopyMissingFiles(*shipped, folder);
    }
    return folder;
}

void ResetPictures(QWidget* parent, std::string_view accountId, std::string_view ownerId) {
    for (const std::string& failure : ResetUserPictures(accountId, ownerId)) {
        ShowWarning(parent, ToQString(failure));
    }
}

}  // namespace talvorine::client::ui::icons

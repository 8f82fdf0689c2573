#include "talvorine/client/ui/icons/dlg_customize_icons.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QThread>
#include <QToolButton>
#include <QVBoxLayout>
#include <cerrno>

#include "talvorine/client/data/accounts.h"
#include "talvorine/client/session/picture_requests.h"
#include "talvorine/client/ui/common/background_request.h"
#include "talvorine/client/ui/common/help.h"
#include "talvorine/client/ui/common/message_box.h"
#include "talvorine/client/ui/icons/bmp_dialog.h"
#include "talvorine/client/ui/icons/picture_windows.h"
#include "talvorine/protocol/socket.h"

namespace talvorine::client::ui::icons {

namespace fs = std::filesystem;

namespace {

constexpr const char* StateLabels[PictureSlots] = {"Normal:", "Away:", "N/A:"};
constexpr const char* StateKeys[PictureSlots] = {"Normal", "Away", "NA"};

QPixmap PictureOf(const QString& path) {
    QImageReader reader(path, "BMP");
    reader.setDecideFormatFromContent(false);
    return QPixmap::fromImage(reader.read());
}

QLabel* PictureBox(QWidget* parent, const QString& name) {
    auto* box = new QLabel(parent);
    box->setObjectName(name);
    box->setFixedSize(PictureSide + 4, PictureSide + 4);
    box->setAlignment(Qt::AlignCenter);
    box->setFrameShape(QFrame::StyledPanel);
    return box;
}

}  // namespace

CDlgCustomizeIcons::CDlgCustomizeIcons(CustomizeTarget target, fs::path stockFolder,
                                       bool& showPreview, QWidget* parent)
    : QDialog(parent),
      m_target(std::move(target)),
      m_stockFolder(std::move(stockFolder)),
      m_showPreview(showPreview) {
    setObjectName("customizeIcons");
    setWindowTitle(QStringLiteral("Customize Icons"));
    auto* layout = new QVBoxLayout(this);

    auto* current = new QGroupBox(QStringLiteral("Current icons"), this);
    current->setObjectName("currentIcons");
    auto* currentGrid = new QGridLayout(current);
    auto* chosen = new QGroupBox(QStringLiteral("Select new icons"), this);
    chosen->setObjectName("selectNewIcons");
    auto* chosenGrid = new QGridLayout(chosen);
    for (int slot = 0; slot < PictureSlots; ++slot) {
        const auto index = static_cast<std::size_t>(slot);
        const QString key = QString::fromLatin1(StateKeys[slot]);
        currentGrid->addWidget(new QLabel(QString::fromLatin1(StateLabels[slot]), current), slot,
                               0);
        m_currentPictures[index] = PictureBox(current, "current" + key + "Picture");
        currentGrid->addWidget(m_currentPictures[index], slot, 1);
        m_currentTexts[index] = new QLabel(current);
        m_currentTexts[index]->setObjectName("current" + key);
        m_currentTexts[index]->setTextFormat(Qt::PlainText);
        m_currentTexts[index]->setMinimumWidth(fontMetrics().averageCharWidth() * 40);
        m_currentTexts[index]->setTextInteractionFlags(Qt::TextSelectableByMouse);
        currentGrid->addWidget(m_currentTexts[index], slot, 2);

        auto* label = new QLabel(QString::fromLatin1(StateLabels[slot]), chosen);
        chosenGrid->addWidget(label, slot, 0);
        m_paths[index] = new QLineEdit(chosen);
        m_paths[index]->setObjectName("new" + key);
        m_paths[index]->setMinimumWidth(fontMetrics().averageCharWidth() * 40);
        label->setBuddy(m_paths[index]);
        chosenGrid->addWidget(m_paths[index], slot, 1);
        auto* browse = new QToolButton(chosen);
        browse->setObjectName("browse" + key);
        browse->setText(QStringLiteral("..."));
        browse->setAccessibleName(QStringLiteral("..."));
        connect(browse, &QToolButton::clicked, this, [this, slot] { Browse(slot); });
        chosenGrid->addWidget(browse, slot, 2);
        m_newPictures[index] = PictureBox(chosen, "new" + key + "Picture");
        chosenGrid->addWidget(m_newPictures[index], slot, 3);
        // A typed path has no preview until it is chosen again or checked by "Update".
        connect(m_paths[index], &QLineEdit::textEdited, this,
                [this, index] { m_newPictures[index]->clear(); });
    }
    chosenGrid->setColumnStretch(1, 1);
    layout->addWidget(current);
    layout->addWidget(chosen);

    auto* tips = new QLabel(QStringLiteral("1. All icons must be 32x32 pixels bitmap file\n"
                                           "2. To make you icons transparent, you must use the "
                                           "color\nRGB(255, 0, 255) as the backgroud."),
                            this);
    tips->setObjectName("tips");
    layout->addWidget(tips);

    auto* buttons = new QDialogButtonBox(this);
    m_update = buttons->addButton(QStringLiteral("Update"), QDialogButtonBox::AcceptRole);
    m_update->setObjectName("update");
    m_update->setDefault(true);
    QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
    cancel->setObjectName("cancel");
    connect(m_update, &QPushButton::clicked, this, &CDlgCustomizeIcons::Update);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    layout->addWidget(buttons);
    AddHelpKey(this, [] { return HelpTopic::CustomizeIcons; });
    ShowCurrent();
}

void CDlgCustomizeIcons::ShowCurrent() {
    const auto folder = PicturesFolder(m_target.accountId);
    for (int slot = 0; slot < PictureSlots; ++slot) {
        const auto index = static_cast<std::size_t>(slot);
        const fs::path file = folder ? PictureFile(*folder, m_target.ownerId, slot) : fs::path();
        if (folder && !CheckPictureFile(file)) {
            const QString path = QString::fromStdString(file.string());
            m_currentTexts[index]->setText(path);
            m_currentPictures[index]->setPixmap(PictureOf(path));
        } else {
            m_currentTexts[index]->setText(ToQString(PictureText::Default));
            m_currentPictures[index]->clear();
        }
    }
}

void CDlgCustomizeIcons::Browse(int slot) {
    const auto index = static_cast<std::size_t>(slot);
    QString folder = QString::fromStdString(m_stockFolder.string());
    if (const QString typed = m_paths[index]->text(); !typed.isEmpty()) {
        folder = QFileInfo(typed).absolutePath();
    }
    CBmpDialog chooser(this, ChooserFilter(slot), "bmp", folder, m_showPreview);
    const QString path = chooser.ChooseFile();
    if (!path.isEmpty()) {
        Choose(slot, path);
    }
}

bool CDlgCustomizeIcons::Choose(int slot, const QString& path) {
    const auto index = static_cast<std::size_t>(slot);
    if (const auto reason = CheckPictureFile(path.toStdString())) {
        ShowWarning(this, ToQString(ChooserRefusal(slot, *reason)));
        m_paths[index]->setFocus();
        return false;
    }
    m_paths[index]->setText(path);
    m_newPictures[index]->setPixmap(PictureOf(path));
    return true;
}

void CDlgCustomizeIcons::Update() {
    std::array<std::string, PictureSlots> chosen;
    for (int slot = 0; slot < PictureSlots; ++slot) {
        chosen[static_cast<std::size_t>(slot)] =
            m_paths[static_cast<std::size_t>(slot)]->text().trimmed().toStdString();
    }
    if (const auto refusal = CheckChosenPictures(chosen)) {
        ShowWarning(this, ToQString(refusal->text));
        m_paths[static_cast<std::size_t>(refusal->slot)]->setFocus();
        return;
    }
    const bool done =
        m_target.mode == CustomizeTarget::Mode::Upload ? UploadChosen(chosen) : CopyChosen(chosen);
    if (done) {
        accept();
    }
}

bool CDlgCustomizeIcons::UploadChosen(const std::array<std::string, PictureSlots>& chosen) {
    // Every file is read first: one that cannot be read, or is too large for the transfer,
    // keeps the dialog open before anything is sent.
    std::array<std::vector<std::uint8_t>, PictureSlots> bytes;
    int count = 0;
    for (int slot = 0; slot < PictureSlots; ++slot) {
        const auto index = static_cast<std::size_t>(slot);
        if (chosen[index].empty()) {
            continue;
        }
        PictureBytes read = ReadOwnPicture(chosen[index]);
        if (!read.error.empty()) {
            ShowWarning(this, ToQString(UpdateRefusal(slot, read.error)));
            m_paths[index]->setFocus();
            return false;
        }
        bytes[index] = std::move(read.bytes);
        ++count;
    }
    const auto folder = PicturesFolder(m_target.accountId);

    bool failed = false;
    const QPointer<CDlgIconProgress> shown =
        CDlgIconProgress::Open(PictureCaption::Uploading, count, this);
    int step = 0;
    for (int slot = 0; slot < PictureSlots; ++slot) {
        const auto index = static_cast<std::size_t>(slot);
        if (chosen[index].empty()) {
            continue;
        }
        const fs::path source(chosen[index]);
        if (shown) {
            shown->SetStep(step, QString::fromStdString(source.filename().string()));
        }
        std::string sendError, copyError;
        const auto failure = RunBackgroundRequest(nullptr, [&] {
            QThread::msleep(200);
            try {
                session::UploadPicture(m_target.server, m_target.ownerId, m_target.password, slot,
                                       bytes[index]);
            } catch (const std::exception& e) {
                sendError = e.what();
            }
            if (sendError.empty()) {
                if (!folder || !data::EnsureFolder(*folder)) {
                    copyError = protocol::SystemErrorText();
                } else if (auto copied = CopyPictureFile(
                               source, PictureFile(*folder, m_target.ownerId, slot))) {
                    copyError = *copied;
                }
            }
            QThread::msleep(200);
        });
        if (failure) {
            sendError = *failure;
        }
        if (!sendError.empty()) {
            ShowError(this, ToQString(FormatText(PictureText::SendFailed,
                                                 {source.filename().string(), sendError})));
            failed = true;
        } else if (!copyError.empty()) {
            ShowWarning(this, ToQString(std::string(PictureText::LocalUpdateFailed) + copyError));
            failed = true;
        }
        ++step;
        if (shown) {
            shown->SetStep(step, shown->Line());
        }
    }
    CDlgIconProgress::Finish(shown);
    ShowCurrent();
    return !failed;
}

bool CDlgCustomizeIcons::CopyChosen(const std::array<std::string, PictureSlots>& chosen) {
    const auto folder = PicturesFolder(m_target.accountId);
    if (!data::IsValidId(m_target.ownerId)) {
        errno = EINVAL;  // a name that would leave the Icons folder
    }
    if (!folder || !data::IsValidId(m_target.ownerId) || !data::EnsureFolder(*folder)) {
        ShowWarning(this, ToQString(std::string(PictureText::CreateFolderFailed) +
                                    protocol::SystemErrorText()));
        return false;
    }
    int count = 0;
    for (const auto& path : chosen) {
        count += path.empty() ? 0 : 1;
    }
    const QPointer<CDlgIconProgress> shown =
        CDlgIconProgress::Open(PictureCaption::Copying, count, this);
    int step = 0;
    for (int slot = 0; slot < PictureSlots; ++slot) {
        const auto index = static_cast<std::size_t>(slot);
        if (chosen[index].empty()) {
            continue;
        }
        const fs::path target = PictureFile(*folder, m_target.ownerId, slot);
        if (shown) {
            shown->SetStep(step,
                           QString::fromStdString(fs::path(chosen[index]).filename().string()));
        }
        std::optional<std::string> error;
        if (const auto failure = RunBackgroundRequest(
                nullptr, [&] { error = CopyPictureFile(chosen[index], target); })) {
            error = *failure;
        }
        ++step;
        if (error &&
            !AskYesNo(this, ToQString(FormatText(PictureText::CopyFailed,
                                                 {chosen[index], target.string(), *error})))) {
            break;
        }
    }
    CDlgIconProgress::Finish(shown);
    // The copied pictures are the contact's now, also when the user stopped part-way.
    return true;
}

QString CDlgCustomizeIcons::CurrentText(int slot) const {
    return m_currentTexts[static_cast<std::size_t>(slot)]->text();
}

bool CDlgCustomizeIcons::CurrentHasPicture(int slot) const {
    const QPixmap pixmap = m_currentPictures[static_cast<std::size_t>(slot)]->pixmap();
    return !pixmap.isNull();
}

QString CDlgCustomizeIcons::ChosenPath(int slot) const {
    return m_paths[static_cast<std::size_t>(slot)]->text();
}

bool CDlgCustomizeIcons::ChosenHasPicture(int slot) const {
    return !m_newPictures[static_cast<std::size_t>(slot)]->pixmap().isNull();
}

}  // namespace talvorine::client::ui::icons

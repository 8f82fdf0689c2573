#include "talvorine/client/ui/options/option_pages.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>
#include <filesystem>

#include "talvorine/client/ui/common/fields.h"
#include "talvorine/client/ui/common/help.h"
#include "talvorine/client/ui/common/message_box.h"
#include "talvorine/client/ui/common/sound_player.h"

namespace talvorine::client::ui {

namespace Limit = data::SettingLimits;

int InRangeOr(long long value, int min, int max, int fallback) {
    return value >= min && value <= max ? static_cast<int>(value) : fallback;
}

namespace {

QSpinBox* MakeSpin(QWidget* parent, const char* name, int min, int max, int value) {
    auto* spin = new QSpinBox(parent);
    spin->setObjectName(name);
    spin->setRange(min, max);
    spin->setValue(value);
    return spin;
}

QCheckBox* MakeCheck(QWidget* parent, const char* name, const QString& text, bool checked) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(name);
    box->setChecked(checked);
    return box;
}

}  // namespace

bool COptionPage::ValidateSpin(QSpinBox* spin) {
    if (!spin->isEnabled() || spin->hasAcceptableInput()) {
        return true;
    }
    ShowWarning(
        this,
        tr("Please enter an integer between %1 and %2.").arg(spin->minimum()).arg(spin->maximum()));
    spin->setFocus();
    spin->selectAll();
    return false;
}

// ---- General

CDlgOptionGeneral::CDlgOptionGeneral(const data::ClientSettings& s, QWidget* parent)
    : COptionPage(parent) {
    setObjectName("CDlgOptionGeneral");
    const auto defaults = data::ClientSettings::Defaults();
    m_popupViewer =
        MakeCheck(this, "popupViewer",
                  tr("Automatically popup message &viewer upon incoming message"), s.popupViewer);
    m_closeViewer =
        MakeCheck(this, "closeViewerOnReply", tr("&Close message viewer if \"Reply\" is clicked"),
                  s.closeViewerOnReply);
    m_minimizeOnSend =
        MakeCheck(this, "minimizeOnSend", tr("&Minimize send message dialog while sending"),
                  s.minimizeOnSend);
    m_markAsRead = MakeCheck(this, "markAsRead", tr("Mark message as read &after displaying for"),
                             s.markAsRead);
    m_markInterval = MakeSpin(this, "markAsReadInterval", Limit::MarkAsReadIntervalMin,
                              Limit::MarkAsReadIntervalMax,
                              InRangeOr(s.markAsReadInterval, Limit::MarkAsReadIntervalMin,
                                        Limit::MarkAsReadIntervalMax, defaults.markAsReadInterval));
    m_markInterval->setAccessibleName(tr("Mark message as read after displaying for (seconds)"));
    auto* seconds = new QLabel(tr("second(s)"), this);
    m_windowAnimation =
        MakeCheck(this, "windowAnimation", tr("Enable &windows animation"), s.windowAnimation);
    m_pageAnimation = MakeCheck(this, "propertyPageAnimation", tr("Enable PropertyPages animation"),
                                s.propertyPageAnimation);
    m_animationTime = new QSlider(Qt::Horizontal, this);
    m_animationTime->setObjectName("animationTime");
    m_animationTime->setRange(static_cast<int>(Limit::AnimationTimeMin),
                              static_cast<int>(Limit::AnimationTimeMax));
    m_animationTime->setTickInterval(100);
    m_animationTime->setSingleStep(100);
    m_animationTime->setPageStep(100);
    m_animationTime->setTickPosition(QSlider::TicksBelow);
    m_animationTime->setValue(InRangeOr(s.animationTime, static_cast<int>(Limit::AnimationTimeMin),
                                        static_cast<int>(Limit::AnimationTimeMax),
                                        static_cast<int>(defaults.animationTime)));
    m_animationTime->setAccessibleName(tr("Animation time"));
    auto* fast = new QLabel(tr("fast"), this);
    auto* slow = new QLabel(tr("slow"), this);

    auto* markRow = new QHBoxLayout;
    markRow->addWidget(m_markAsRead);
    markRow->addWidget(m_markInterval);
    markRow->addWidget(seconds);
    markRow->addStretch();
    auto* sliderRow = new QHBoxLayout;
    sliderRow->addSpacing(20);
    sliderRow->addWidget(fast);
    sliderRow->addWidget(m_animationTime, 1);
    sliderRow->addWidget(slow);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_popupViewer);
    layout->addWidget(m_closeViewer);
    layout->addWidget(m_minimizeOnSend);
    layout->addLayout(markRow);
    layout->addWidget(m_windowAnimation);
    layout->addWidget(m_pageAnimation);
    layout->addLayout(sliderRow);
    layout->addStretch();

    connect(m_markAsRead, &QCheckBox::toggled, m_markInterval, &QWidget::setEnabled);
    m_markInterval->setEnabled(m_markAsRead->isChecked());
    // Fading cannot be drawn on a palette display.
    const QScreen* screen = QApplication::primaryScreen();
    if (screen != nullptr && screen->depth() <= 8) {
        for (QWidget* widget :
             {static_cast<QWidget*>(m_windowAnimation), static_cast<QWidget*>(m_pageAnimation),
              static_cast<QWidget*>(m_animationTime)}) {
            widget->setEnabled(false);
        }
    }
}

std::string_view CDlgOptionGeneral::HelpTopicName() const {
    return HelpTopic::OptionsGeneral;
}

bool CDlgOptionGeneral::Validate() {
    return ValidateSpin(m_markInterval);
}

void CDlgOptionGeneral::Store(data::ClientSettings& s) const {
    s.popupViewer = m_popupViewer->isChecked();
    s.closeViewerOnReply = m_closeViewer->isChecked();
    s.minimizeOnSend = m_minimizeOnSend->isChecked();
    s.markAsRead = m_markAsRead->isChecked();
    s.markAsReadInterval = m_markInterval->value();
    s.windowAnimation = m_windowAnimation->isChecked();
    s.propertyPageAnimation = m_pageAnimation->isChecked();
    s.animationTime = static_cast<std::uint32_t>(m_animationTime->value());
}

// ---- Network

CDlgOptionNetwork::CDlgOptionNetwork(const data::ClientSettings& s, QWidget* parent)
    : COptionPage(parent) {
    setObjectName("CDlgOptionNetwork");
    const auto defaults = data::ClientSettings::Defaults();
    m_server = new QLineEdit(ToQString(s.server), this);
    m_server->setObjectName("server");
    LimitUtf8(m_server, Limit::ServerMaxLength);
    m_port = MakeSpin(this, "port", Limit::PortMin, Limit::PortMax,
                      InRangeOr(s.port, Limit::PortMin, Limit::PortMax, defaults.port));
    m_reconnect =
        MakeCheck(this, "reconnect", tr("&Reconnect upon disconnection after:"), s.autoConnect);
    m_interval =
        MakeSpin(this, "connectInterval", Limit::ConnectIntervalMin, Limit::ConnectIntervalMax,
                 InRangeOr(s.connectInterval, Limit::ConnectIntervalMin, Limit::ConnectIntervalMax,
                           defaults.connectInterval));
    m_interval->setAccessibleName(tr("Reconnect upon disconnection after (s)"));
    m_intervalUnit = new QLabel(tr("(s)"), this);

    auto* form = new QFormLayout;
    form->addRow(BuddyLabel(tr("&Server:"), m_server), m_server);
    form->addRow(BuddyLabel(tr("&Port:"), m_port), m_port);
    auto* reconnectRow = new QHBoxLayout;
    reconnectRow->addWidget(m_reconnect);
    reconnectRow->addWidget(m_interval);
    reconnectRow->addWidget(m_intervalUnit);
    reconnectRow->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(reconnectRow);
    layout->addStretch();

    const auto enableInterval = [this](bool on) {
        m_interval->setEnabled(on);
        m_intervalUnit->setEnabled(on);
    };
    connect(m_reconnect, &QCheckBox::toggled, this, enableInterval);
    enableInterval(m_reconnect->isChecked());
}

std::string_view CDlgOptionNetwork::HelpTopicName() const {
    return HelpTopic::OptionsNetwork;
}

bool CDlgOptionNetwork::Validate() {
    if (!ValidateSpin(m_port) || !ValidateSpin(m_interval)) {
        return false;
    }
    const auto trimmed = data::TrimServerAddress(ToStdString(m_server->text()));
    if (!trimmed) {
        ShowError(this, ToQString(data::InvalidServerAddressText));
        m_server->setFocus();
        return false;
    }
    m_server->setText(ToQString(*trimmed));
    return true;
}

void CDlgOptionNetwork::Store(data::ClientSettings& s) const {
    s.server = ToStdString(m_server->text().trimmed());
    s.port = m_port->value();
    s.autoConnect = m_reconnect->isChecked();
    s.connectInterval = m_interval->value();
}

// ---- Contact list

CDlgOptionContactList::CDlgOptionContactList(const data::ClientSettings& s, QWidget* parent)
    : COptionPage(parent) {
    setObjectName("CDlgOptionContactList");
    m_alwaysOnTop = MakeCheck(this, "alwaysOnTop", tr("&Always on top"), s.alwaysOnTop);
    m_autoPopup = MakeCheck(this, "autoPopup", tr("&Auto popup contact list upon incoming message"),
                            s.autoPopup);
    m_taskbarStyle =
        MakeCheck(this, "taskbarStyle", tr("Enable Windows taskbar style"), s.taskbarStyle);
    m_autoHide = MakeCheck(this, "autoHide", tr("&Auto hide"), s.autoHide);
    auto* layout = new QVBoxLayout(this);
    for (QWidget* box : {m_alwaysOnTop, m_autoPopup, m_taskbarStyle, m_autoHide}) {
        layout->addWidget(box);
    }
    layout->addStretch();
}

std::string_view CDlgOptionContactList::HelpTopicName() const {
    return HelpTopic::OptionsContactList;
}

void CDlgOptionContactList::Store(data::ClientSettings& s) const {
    s.alwaysOnTop = m_alwaysOnTop->isChecked();
    s.autoPopup = m_autoPopup->isChecked();
    s.taskbarStyle = m_taskbarStyle->isChecked();
    s.autoHide = m_autoHide->isChecked();
}

// ---- Sounds

CDlgOptionEvents::CDlgOptionEvents(const data::ClientSettings& s, SoundPlayer& player,
                                   QWidget* parent)
    : COptionPage(parent), m_player(player), m_entries(s.sounds), m_defaults(s.defaultSounds) {
    setObjectName("CDlgOptionEvents");
    // Settings made by hand may lack the default table; "&Reset all" still needs it.
    if (m_defaults == decltype(m_defaults){}) {
        m_defaults = data::DefaultSoundEntries();
    }
    m_events = new QListWidget(this);
    m_events->setObjectName("events");
    m_events->setAccessibleName(tr("Events"));
    for (const auto& event : data::SoundEvents) {
        m_events->addItem(ToQString(event.name));
    }
    m_play = MakeCheck(this, "playSound", tr("&Play sound"), false);
    m_file = new QLineEdit(this);
    m_file->setObjectName("soundFile");
    m_file->setAccessibleName(tr("Sound file"));
    m_browse = new QPushButton(tr("Browse"), this);
    m_browse->setObjectName("browse");
    m_playButton = new QPushButton(tr("Play"), this);
    m_playButton->setObjectName("play");
    m_noSound = MakeCheck(this, "noSound", tr("Disable all sounds"), s.noSound);
    auto* reset = new QPushButton(tr("&Reset all"), this);
    reset->setObjectName("resetAll");

    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(m_file, 1);
    fileRow->addWidget(m_browse);
    fileRow->addWidget(m_playButton);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_noSound);
    bottom->addStretch();
    bottom->addWidget(reset);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_events, 1);
    layout->addWidget(m_play);
    layout->addLayout(fileRow);
    layout->addLayout(bottom);

    connect(m_events, &QListWidget::currentRowChanged, this, [this](int row) {
        KeepEntry(m_shown);
        ShowEntry(row);
    });
    connect(m_play, &QCheckBox::toggled, this, &CDlgOptionEvents::UpdateEnabling);
    connect(m_file, &QLineEdit::textChanged, this, &CDlgOptionEvents::UpdateEnabling);
    connect(m_browse, &QPushButton::clicked, this, &CDlgOptionEvents::Browse);
    connect(m_playButton, &QPushButton::clicked, this, &CDlgOptionEvents::PlaySelected);
    connect(reset, &QPushButton::clicked, this, &CDlgOptionEvents::ResetAll);
    m_events->setCurrentRow(0);
}

std::string_view CDlgOptionEvents::HelpTopicName() const {
    return HelpTopic::OptionsSounds;
}

void CDlgOptionEvents::KeepEntry(int row) {
    if (row >= 0 && row < static_cast<int>(m_entries.size())) {
        m_entries[static_cast<std::size_t>(row)] = {m_play->isChecked(),
                                                    ToStdString(m_file->text())};
    }
}

void CDlgOptionEvents::ShowEntry(int row) {
    m_shown = row;
    if (row < 0 || row >= static_cast<int>(m_entries.size())) {
        return;
    }
    const auto& entry = m_entries[static_cast<std::size_t>(row)];
    m_play->setChecked(entry.play);
    m_file->setText(ToQString(entry.file));
    UpdateEnabling();
}

void CDlgOptionEvents::UpdateEnabling() {
    const bool play = m_play->isChecked();
    m_file->setEnabled(play);
    m_browse->setEnabled(play);
    m_playButton->setEnabled(play && !m_file->text().isEmpty());
}

void CDlgOptionEvents::Browse() {
    QFileDialog dialog(this, tr("Browse"), m_file->text(),
                       tr("Sound Files(*.wav);;All Files(*.*)"));
    dialog.setDefaultSuffix(QStringLiteral("wav"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        m_file->setText(dialog.selectedFiles().first());
    }
}

void CDlgOptionEvents::PlaySelected() {
    m_player.Play(ToStdString(m_file->text()));
}

void CDlgOptionEvents::ResetAll() {
    m_entries = m_defaults;
    ShowEntry(m_events->currentRow());
}

void CDlgOptionEvents::Store(data::ClientSettings& s) const {
    auto entries = m_entries;
    if (m_shown >= 0 && m_shown < static_cast<int>(entries.size())) {
        entries[static_cast<std::size_t>(m_shown)] = {m_play->isChecked(),
                                                      ToStdString(m_file->text())};
    }
    s.sounds = entries;
    s.noSound = m_noSound->isChecked();
}

// ---- File transfer

CDlgOptionFile::CDlgOptionFile(const data::ClientSettings& s, QWidget* parent)
    : COptionPage(parent) {
    setObjectName("CDlgOptionFile");
    m_autoAccept =
        MakeCheck(this, "autoAccept", tr("&Auto accept"), s.acceptMode == data::AcceptMode::Accept);
    m_autoDecline = MakeCheck(this, "autoDecline", tr("Auto decline"),
                              s.acceptMode == data::AcceptMode::Decline);
    connect(m_autoAccept, &QCheckBox::toggled, this, [this](bool on) {
        if (on) {
            m_autoDecline->setChecked(false);
        }
    });
    connect(m_autoDecline, &QCheckBox::toggled, this, [this](bool on) {
        if (on) {
            m_autoAccept->setChecked(false);
        }
    });
    m_path = new QLineEdit(ToQString(s.filePath), this);
    m_path->setObjectName("path");
    LimitUtf8(m_path, Limit::FilePathMaxLength);
    auto* browse = new QPushButton(tr("..."), this);
    browse->setObjectName("browseFolder");
    browse->setAccessibleName(tr("Select Default Folder"));
    connect(browse, &QPushButton::clicked, this, &CDlgOptionFile::BrowseFolder);
    m_useUserName =
        MakeCheck(this, "useUserName", tr("&Use user name as sub-directory"), s.useUserName);

    auto* group = new QGroupBox(tr("If the file exists"), this);
    auto* buttons = new QButtonGroup(this);
    auto* groupLayout = new QHBoxLayout(group);
    const char* names[] = {"overwrite", "rename", "promptMe"};
    const QString texts[] = {tr("&Overwrite"), tr("Rename"), tr("&Prompt me")};
    const int mode = InRangeOr(static_cast<int>(s.overwriteMode), 0, 2,
                               static_cast<int>(data::OverwriteMode::Rename));
    for (int i = 0; i < 3; ++i) {
        auto* radio = new QRadioButton(texts[i], group);
        radio->setObjectName(names[i]);
        radio->setChecked(i == mode);
        buttons->addButton(radio, i);
        groupLayout->addWidget(radio);
        m_overwrite[static_cast<std::size_t>(i)] = radio;
    }

    auto* pathLabel = BuddyLabel(tr("&Default saving folder:"), m_path);
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(m_path, 1);
    pathRow->addWidget(browse);
    auto* acceptRow = new QHBoxLayout;
    acceptRow->addWidget(m_autoAccept);
    acceptRow->addWidget(m_autoDecline);
    acceptRow->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(acceptRow);
    layout->addWidget(pathLabel);
    layout->addLayout(pathRow);
    layout->addWidget(m_useUserName);
    layout->addWidget(group);
    layout->addStretch();
}

std::string_view CDlgOptionFile::HelpTopicName() const {
    return HelpTopic::OptionsFileTransfer;
}

void CDlgOptionFile::BrowseFolder() {
    // The folder may not exist yet (it is made on the first transfer): start in the nearest
    // one that does, rather than in a name the dialog would refuse.
    std::filesystem::path start = ToStdString(m_path->text());
    std::error_code ec;
    while (!start.empty() && !std::filesystem::is_directory(start, ec) &&
           start != start.parent_path()) {
        start = start.parent_path();
    }
    QFileDialog dialog(this, tr("Select Default Folder"), QString::fromStdString(start.string()));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setLabelText(QFileDialog::FileName, tr("Select a folder:"));
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        m_path->setText(
            dialog.selectedFiles().first().left(static_cast<int>(Limit::FilePathMaxLength)));
    }
}

void CDlgOptionFile::Store(data::ClientSettings& s) const {
    s.acceptMode = m_autoAccept->isChecked()    ? data::AcceptMode::Accept
                   : m_autoDecline->isChecked() ? data::AcceptMode::Decline
                                                : data::AcceptMode::Ask;
    s.filePath = ToStdString(m_path->text());
    s.useUserName = m_useUserName->isChecked();
    for (std::size_t i = 0; i < m_overwrite.size(); ++i) {
        if (m_overwrite[i]->isChecked()) {
            s.overwriteMode = static_cast<data::OverwriteMode>(i);
        }
    }
}

}  // namespace talvorine::client::ui

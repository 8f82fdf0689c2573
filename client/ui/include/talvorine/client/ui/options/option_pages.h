#pragma once
// The five pages of the options sheet. Each starts from the settings it is given (a stored
// value outside its page's range shows the default instead), refuses to be left while a value
// is not acceptable, and copies its values back on OK.

#include <QWidget>
#include <array>
#include <string_view>

#include "talvorine/client/data/client_settings.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSlider;
class QSpinBox;

namespace talvorine::client::ui {

class SoundPlayer;

// The value the page shows for a stored value: itself when within [min, max], else the default.
int InRangeOr(long long value, int min, int max, int fallback);

class COptionPage : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    virtual std::string_view HelpTopicName() const = 0;
    virtual QString Title() const = 0;
    // Leaving the page: false (after telling the user what is wrong) keeps it shown.
    virtual bool Validate() { return true; }
    virtual void Store(data::ClientSettings& settings) const = 0;

protected:
    // The standard range check of a number field: an empty or partial entry is refused.
    bool ValidateSpin(QSpinBox* spin);
};

class CDlgOptionGeneral : public COptionPage {
    Q_OBJECT
public:
    CDlgOptionGeneral(const data::ClientSettings& settings, QWidget* parent = nullptr);
    std::string_view HelpTopicName() const override;
    QString Title() const override { return tr("General"); }
    bool Validate() override;
    void Store(data::ClientSettings& settings) const override;

private:
    QCheckBox* m_popupViewer;
    QCheckBox* m_closeViewer;
    QCheckBox* m_minimizeOnSend;
    QCheckBox* m_markAsRead;
    QSpinBox* m_markInterval;
    QCheckBox* m_windowAnimation;
    QCheckBox* m_pageAnimation;
    QSlider* m_animationTime;
};

class CDlgOptionNetwork : public COptionPage {
    Q_OBJECT
public:
    CDlgOptionNetwork(const data::ClientSettings& settings, QWidget* parent = nullptr);
    std::string_view HelpTopicName() const override;
    QString Title() const override { return tr("Network"); }
    bool Validate() override;
    void Store(data::ClientSettings& settings) const override;

private:
    QLineEdit* m_server;
    QSpinBox* m_port;
    QCheckBox* m_reconnect;
    QSpinBox* m_interval;
    QLabel* m_intervalUnit;
};

class CDlgOptionContactList : public COptionPage {
    Q_OBJECT
public:
    CDlgOptionContactList(const data::ClientSettings& settings, QWidget* parent = nullptr);
    std::string_view HelpTopicName() const override;
    QString Title() const override { return tr("Contact List"); }
    void Store(data::ClientSettings& settings) const override;

private:
    QCheckBox* m_alwaysOnTop;
    QCheckBox* m_autoPopup;
    QCheckBox* m_taskbarStyle;
    QCheckBox* m_autoHide;
};

class CDlgOptionEvents : public COptionPage {
    Q_OBJECT
public:
    CDlgOptionEvents(const data::ClientSettings& settings, SoundPlayer& player,
                     QWidget* parent = nullptr);
    std::string_view HelpTopicName() const override;
    QString Title() const override { return tr("Sounds"); }
    void Store(data::ClientSettings& settings) const override;

    // "&Reset all": the nine default entries into the working copy.
    void ResetAll();
    void PlaySelected();

private:
    void ShowEntry(int row);
    void KeepEntry(int row);
    void UpdateEnabling();
    void Browse();

    SoundPlayer& m_player;
    std::array<data::SoundEntry, data::SoundEventCount> m_entries;
    std::array<data::SoundEntry, data::SoundEventCount> m_defaults;
    int m_shown = -1;
    QListWidget* m_events;
    QCheckBox* m_play;
    QLineEdit* m_file;
    QPushButton* m_browse;
    QPushButton* m_playButton;
    QCheckBox* m_noSound;
};

class CDlgOptionFile : public COptionPage {
    Q_OBJECT
public:
    CDlgOptionFile(const data::ClientSettings& settings, QWidget* parent = nullptr);
    std::string_view HelpTopicName() const override;
    QString Title() const override { return tr("File Transfer"); }
    void Store(data::ClientSettings& settings) const override;

private:
    void BrowseFolder();

    QCheckBox* m_autoAccept;
    QCheckBox* m_autoDecline;
    QLineEdit* m_path;
    QCheckBox* m_useUserName;
    std::array<QRadioButton*, 3> m_overwrite{};
};

}  // namespace talvorine::client::ui

#pragma once
// The server page: port, data source name (with the data source dialog behind "..."), the
// server's address, its running state with Start/Stop and a progress bar.

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>
#include <memory>

#include "talvorine/admin/admin_settings.h"
#include "talvorine/admin/server_control.h"

namespace talvorine::admin::ui {

inline constexpr std::string_view RunningText =
    "Talvorine Messenger Server is running now. Click Stop button to stop it.";
inline constexpr std::string_view StoppedText =
    "Talvorine Messenger Server is stopped now. Click Start button to Start it.";
inline constexpr std::string_view OperationFailureText = "Service operation failure!";

class CPropertyPageServer : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* HelpTopic = "servercontrol.htm";
    CPropertyPageServer(const ServerSettings& settings, QWidget* parent = nullptr);
    ~CPropertyPageServer() override;

    // Port and data source name back into the record; a port that is no number becomes 0,
    // which the record refuses.
    void Take(ServerSettings& settings) const;

    // The commands of the buttons.
    void StartOrStop();
    void EditDataSource();
    // Shows the running state as the server reports it now.
    void RefreshState();
    bool ShowsRunning() const { return m_running; }
    QLineEdit* PortField() const { return m_port; }

    // The installer library the data source dialog loads (tests name a missing one).
    void SetInstallerLibrary(std::string library) { m_installerLibrary = std::move(library); }

private:
    class Progress;
    QLineEdit* m_port;
    QLineEdit* m_dataSourceName;
    QLineEdit* m_address;
    QLabel* m_picture;
    QLabel* m_status;
    QPushButton* m_startStop;
    QProgressBar* m_progress;
    std::unique_ptr<ServerControl> m_control;
    std::string m_installerLibrary;
    bool m_running = false;
};

}  // namespace talvorine::admin::ui

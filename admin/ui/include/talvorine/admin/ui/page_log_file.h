#pragma once
// The log page: the server's existing log files (view, delete) and the log switches.

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QWidget>
#include <filesystem>

#include "talvorine/admin/admin_settings.h"
#include "talvorine/admin/ui/message_box.h"

namespace talvorine::admin::ui {

inline constexpr std::string_view NoLogFileText = "Please select a log file!";
inline constexpr std::string_view DeleteLogQuestion = "Are you sure to delete this log file?";
inline constexpr std::string_view DeleteLogFailedText =
    "This file does not exist or is open for normal I/O.";

class CPropertyPageLogFile : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* HelpTopic = "logconfiguration.htm";
    CPropertyPageLogFile(const ServerSettings& settings, Opener opener, QWidget* parent = nullptr);

    // The switches, the day count (0 when it is no number) and the checks back into the record.
    void Take(ServerSettings& settings) const;

    void View();
    void DeleteSelected();
    QLineEdit* DaysField() const { return m_days; }

private:
    std::filesystem::path m_serverFolder;
    Opener m_opener;
    QComboBox* m_files;
    QCheckBox* m_enable;
    QCheckBox* m_autoClear;
    QLineEdit* m_days;
    QListWidget* m_events;
};

}  // namespace talvorine::admin::ui

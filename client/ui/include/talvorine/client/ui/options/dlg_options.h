#pragma once
// The options sheet: "Options" with the General, Network, Contact List, Sounds and File
// Transfer pages, or "Network Settings" with the Network page alone. No Apply button; on OK
// every page copies its values into the sheet's settings (written to the registry at exit).

#include <QDialog>
#include <vector>

#include "talvorine/client/data/client_settings.h"
#include "talvorine/client/ui/common/fade_in.h"

class QTabWidget;

namespace talvorine::client::ui {

class COptionPage;
class SoundPlayer;

class CDlgOptions : public QDialog {
    Q_OBJECT
public:
    CDlgOptions(const data::ClientSettings& settings, bool networkOnly, SoundPlayer& player,
                QWidget* parent = nullptr);

    // The settings with the pages' values (after OK).
    const data::ClientSettings& Settings() const { return m_settings; }
    COptionPage* CurrentPage() const;
    // Shows the page `index` unless the current page refuses to be left.
    bool ShowPage(int index);

public slots:
    void accept() override;

private:
    data::ClientSettings m_settings;
    QTabWidget* m_tabs;
    std::vector<COptionPage*> m_pages;
    int m_current = 0;
};

}  // namespace talvorine::client::ui

#pragma once
// "User Information": an account's profile on the three information pages, in a modal sheet
// without Apply. The pages are read-only: nothing typed here would be stored.

#include <QDialog>
#include <QTabWidget>

#include "talvorine/admin/ui/message_box.h"
#include "talvorine/protocol/catalogue.h"

namespace talvorine::admin::ui {

class CSheetUserInformation : public QDialog {
    Q_OBJECT
public:
    CSheetUserInformation(const protocol::UserProfile& profile, Opener opener,
                          QWidget* parent = nullptr);
    QTabWidget* Pages() const { return m_pages; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    Opener m_opener;
    QTabWidget* m_pages;
};

}  // namespace talvorine::admin::ui

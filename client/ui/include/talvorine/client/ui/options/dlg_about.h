#pragma once
// The about box: the product's name and version, and links to the maker's web site and to a
// new mail to the support address (subject: the product name).

#include <QDialog>
#include <QString>

namespace talvorine::client::ui {

QString AboutWebSite();
QString AboutSupportMail();  // "mailto:<address>?subject=Talvorine Messenger"

class CDlgAbout : public QDialog {
    Q_OBJECT
public:
    explicit CDlgAbout(QWidget* parent = nullptr);
};

}  // namespace talvorine::client::ui

#pragma once
// The three user information pages: "Basic" (CPageInfoBasic), "Communication"
// (CPageInfoComm) and "More" (CPageInfoMore). Each fills its controls from a UserProfile and
// takes them back into one, cut to the record's field widths.
//
// Contact mode shows another user's profile: every field read-only, the lists disabled, and
// buttons beside the e-mail and home page that open them. Own mode edits one's own profile:
// fields editable, the two buttons hidden. The administration program's label variant names
// three communication fields differently.

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <optional>

#include "talvorine/protocol/catalogue.h"

namespace talvorine::infopages {

enum class InfoMode { Contact, Own };
enum class LabelVariant { Client, Admin };

// Opens a target in the desktop's programs; true when it could. Tests give their own.
using UrlOpener = std::function<bool(const QUrl&)>;
UrlOpener DesktopUrlOpener();

// "mailto:<address>?subject=Hi!"; nullopt for an empty address.
std::optional<QUrl> MailTarget(const QString& address);
// The home page as a web address ("www.example.org" is taken as http); nullopt for an empty
// text and for any target that is not http: or https: (a file, a program, a script).
std::optional<QUrl> HomePageTarget(const QString& text);

class CPageInfoBasic : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* HelpTopic = "basicdialog.htm";
    explicit CPageInfoBasic(InfoMode mode, QWidget* parent = nullptr);

    void Fill(const protocol::UserProfile& profile);
    void Take(protocol::UserProfile& profile) const;

    // The birthday controls (public for tests and the sheet's focus rules).
    QComboBox* MonthList() const { return m_month; }
    QComboBox* DayList() const { return m_day; }
    QSpinBox* YearField() const { return m_year; }
    QLineEdit* NicknameField() const { return m_nickname; }

private:
    void RebuildDays();

    QLineEdit* m_id;
    QLineEdit* m_realName;
    QLineEdit* m_nickname;
    QComboBox* m_gender;
    QComboBox* m_month;
    QComboBox* m_day;
    QSpinBox* m_year;
};

class CPageInfoComm : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* HelpTopic = "communicationdialog.htm";
    CPageInfoComm(InfoMode mode, LabelVariant labels, UrlOpener opener = DesktopUrlOpener(),
                  QWidget* parent = nullptr);

    void Fill(const protocol::UserProfile& profile);
    void Take(protocol::UserProfile& profile) const;

    // The buttons' commands: open the target, or beep when there is none.
    void SendMail();
    void OpenHomePage();

private:
    UrlOpener m_opener;
    QLineEdit* m_email;
    QLineEdit* m_address;
    QLineEdit* m_city;
    QLineEdit* m_state;
    QLineEdit* m_country;
    QLineEdit* m_zip;
    QLineEdit* m_phone;
    QLineEdit* m_fax;
    QLineEdit* m_mobile;
    QLineEdit* m_pager;
    QLineEdit* m_homePage;
};

class CPageInfoMore : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* HelpTopic = "moredialog.htm";
    explicit CPageInfoMore(InfoMode mode, QWidget* parent = nullptr);

    void Fill(const protocol::UserProfile& profile);
    void Take(protocol::UserProfile& profile) const;

private:
    QLineEdit* m_company;
    QLineEdit* m_department;
    QLineEdit* m_position;
    QLineEdit* m_occupation;
    QPlainTextEdit* m_description;
};

}  // namespace talvorine::infopages

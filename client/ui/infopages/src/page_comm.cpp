#include <QApplication>
#include <QHBoxLayout>

#include "page_fields.h"

namespace talvorine::infopages {

using detail::AddField;
using detail::Shown;
using detail::Stored;
namespace width = detail::width;

namespace {

// A field with its open button beside it; the button is hidden in own mode.
QLineEdit* AddFieldWithButton(QFormLayout* form, const QString& label, const char* name,
                              std::size_t size, InfoMode mode, const QString& buttonText,
                              const char* buttonName, QWidget* page,
                              const std::function<void()>& onClick) {
    QLineEdit* edit = detail::MakeField(page, name, size, mode);
    auto* line = new QHBoxLayout;
    line->addWidget(edit);
    auto* button = new QPushButton(buttonText, page);
    button->setObjectName(QString::fromLatin1(buttonName));
    button->setAutoDefault(false);
    button->setVisible(mode == InfoMode::Contact);
    QObject::connect(button, &QPushButton::clicked, page, onClick);
    line->addWidget(button);
    auto* caption = new QLabel(label, page);
    caption->setBuddy(edit);
    form->addRow(caption, line);
    return edit;
}

}  // namespace

CPageInfoComm::CPageInfoComm(InfoMode mode, LabelVariant labels, UrlOpener opener, QWidget* parent)
    : QWidget(parent), m_opener(std::move(opener)) {
    bool admin = labels == LabelVariant::Admin;
    auto* form = new QFormLayout(this);
    m_email =
        AddFieldWithButton(form, QStringLiteral("&E-mail:"), "email", width::Long, mode,
                           QStringLiteral("Send &mail"), "sendMail", this, [this] { SendMail(); });
    m_address =
        AddField(form, admin ? QStringLiteral("Street &Addr:") : QStringLiteral("Street &Address:"),
                 "address", width::Long, mode);
    m_city = AddField(form, QStringLiteral("&City:"), "city", width::Name, mode);
    m_state = AddField(form, QStringLiteral("&State:"), "state", width::Name, mode);
    m_country = AddField(form, QStringLiteral("C&ountry:"), "country", width::Name, mode);
    m_zip = AddField(form, QStringLiteral("&ZIP:"), "zip", width::Zip, mode);
    m_phone = AddField(form, QStringLiteral("&Phone:"), "phone", width::Phone, mode);
    m_fax = AddField(form, QStringLiteral("&Fax:"), "fax", width::Phone, mode);
    m_mobile = AddField(form, admin ? QStringLiteral("&Mobile:") : QStringLiteral("&Cell phone:"),
                        "mobilePhone", width::Phone, mode);
    m_pager = AddField(form, admin ? QStringLiteral("&Beep pager:") : QStringLiteral("&Pager:"),
                       "beepPager", width::Phone, mode);
    m_homePage = AddFieldWithButton(form, QStringLiteral("&Home Page:"), "homePage", width::Long,
                                    mode, QStringLiteral("&Visit"), "visitHomePage", this,
                                    [this] { OpenHomePage(); });
}

void CPageInfoComm::SendMail() {
    auto target = MailTarget(m_email->text());
    if (!target || !m_opener || !m_opener(*target)) {
        QApplication::beep();
    }
}

void CPageInfoComm::OpenHomePage() {
    auto target = HomePageTarget(m_homePage->text());
    if (!target || !m_opener || !m_opener(*target)) {
        QApplication::beep();
    }
}

void CPageInfoComm::Fill(const protocol::UserProfile& profile) {
    m_email->setText(Shown(profile.email));
    m_address->setText(Shown(profile.address));
    m_city->setText(Shown(profile.city));
    m_state->setText(Shown(profile.state));
    m_country->setText(Shown(profile.country));
    m_zip->setText(Shown(profile.zip));
    m_phone->setText(Shown(profile.phone));
    m_fax->setText(Shown(profile.fax));
    m_mobile->setText(Shown(profile.mobilePhone));
    m_pager->setText(Shown(profile.beepPager));
    m_homePage->setText(Shown(profile.homePage));
}

void CPageInfoComm::Take(protocol::UserProfile& profile) const {
    profile.email = Stored(m_email->text(), width::Long);
    profile.address = Stored(m_address->text(), width::Long);
    profile.city = Stored(m_city->text(), width::Name);
    profile.state = Stored(m_state->text(), width::Name);
    profile.country = Stored(m_country->text(), width::Name);
    profile.zip = Stored(m_zip->text(), width::Zip);
    profile.phone = Stored(m_phone->text(), width::Phone);
    profile.fax = Stored(m_fax->text(), width::Phone);
    profile.mobilePhone = Stored(m_mobile->text(), width::Phone);
    profile.beepPager = Stored(m_pager->text(), width::Phone);
    profile.homePage = Stored(m_homePage->text(), width::Long);
}

}  // namespace talvorine::infopages

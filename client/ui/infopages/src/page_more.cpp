#include <QVBoxLayout>

#include "page_fields.h"

namespace talvorine::infopages {

using detail::AddField;
using detail::Shown;
using detail::Stored;
namespace width = detail::width;

CPageInfoMore::CPageInfoMore(InfoMode mode, QWidget* parent) : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    column->addLayout(form);
    m_company = AddField(form, QStringLiteral("&Company:"), "company", width::Company, mode);
    m_department = AddField(form, QStringLiteral("&Department:"), "department", width::Name, mode);
    m_position = AddField(form, QStringLiteral("&Position:"), "position", width::Name, mode);
    m_occupation = AddField(form, QStringLiteral("&Occupation:"), "occupation", width::Name, mode);
    m_description = new QPlainTextEdit(this);
    m_description->setObjectName(QStringLiteral("description"));
    m_description->setReadOnly(mode == InfoMode::Contact);
    auto* caption = new QLabel(QStringLiteral("Additional Info"), this);
    caption->setBuddy(m_description);
    m_description->setAccessibleName(caption->text());
    column->addWidget(caption);
    column->addWidget(m_description, 1);
}

void CPageInfoMore::Fill(const protocol::UserProfile& profile) {
    m_company->setText(Shown(profile.company));
    m_department->setText(Shown(profile.department));
    m_position->setText(Shown(profile.position));
    m_occupation->setText(Shown(profile.occupation));
    m_description->setPlainText(Shown(profile.description));
}

void CPageInfoMore::Take(protocol::UserProfile& profile) const {
    profile.company = Stored(m_company->text(), width::Company);
    profile.department = Stored(m_department->text(), width::Name);
    profile.position = Stored(m_position->text(), width::Name);
    profile.occupation = Stored(m_occupation->text(), width::Name);
    profile.description = Stored(m_description->toPlainText(), width::Long);
}

}  // namespace talvorine::infopages

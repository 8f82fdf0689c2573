#include <QDate>
#include <QHBoxLayout>
#include <QSignalBlocker>

#include "page_fields.h"
#include "talvorine/client/ui/infopages/birthday.h"

namespace talvorine::infopages {

using detail::AddField;
using detail::Shown;
using detail::Stored;

namespace {

int CurrentYear() {
    return QDate::currentDate().year();
}

// The year control's lowest value stands for an unset year and shows "----".
constexpr int UnsetYear = FirstBirthYear - 1;

QLabel* Caption(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

}  // namespace

CPageInfoBasic::CPageInfoBasic(InfoMode mode, QWidget* parent) : QWidget(parent) {
    auto* form = new QFormLayout(this);
    m_id = AddField(form, QStringLiteral("&ID:"), "id", detail::width::Id, mode);
    m_id->setReadOnly(true);  // the account's identity never changes here
    m_realName =
        AddField(form, QStringLiteral("&Real name:"), "realName", detail::width::Name, mode);
    m_nickname =
        AddField(form, QStringLiteral("&Nickname:"), "nickname", detail::width::Name, mode);

    m_gender = new QComboBox(this);
    m_gender->setObjectName(QStringLiteral("gender"));
    m_gender->addItems(
        {QStringLiteral("Not Specified"), QStringLiteral("Male"), QStringLiteral("Female")});
    form->addRow(Caption(QStringLiteral("&Gender:"), m_gender, this), m_gender);

    m_month = new QComboBox(this);
    m_month->setObjectName(QStringLiteral("month"));
    m_month->addItem(QStringLiteral("--"));
    for (int month = 1; month <= 12; ++month) {
        m_month->addItem(QString::number(month));
    }
    m_day = new QComboBox(this);
    m_day->setObjectName(QStringLiteral("day"));
    m_day->addItem(QStringLiteral("--"));
    m_year = new QSpinBox(this);
    m_year->setObjectName(QStringLiteral("year"));
    m_year->setRange(UnsetYear, CurrentYear());
    m_year->setSpecialValueText(QStringLiteral("----"));
    m_year->setValue(UnsetYear);
    auto* birthday = new QHBoxLayout;
    birthday->addWidget(Caption(QStringLiteral("&Month"), m_month, this));
    birthday->addWidget(m_month);
    birthday->addWidget(Caption(QStringLiteral("&Day"), m_day, this));
    birthday->addWidget(m_day);
    birthday->addWidget(Caption(QStringLiteral("&Year"), m_year, this));
    birthday->addWidget(m_year);
    birthday->addStretch();
    form->addRow(QString(), birthday);
    RebuildDays();

    connect(m_month, &QComboBox::currentIndexChanged, this, [this] { RebuildDays(); });
    connect(m_year, &QSpinBox::valueChanged, this, [this] { RebuildDays(); });

    bool editable = mode == InfoMode::Own;
    for (QWidget* control : {static_cast<QWidget*>(m_gender), static_cast<QWidget*>(m_month),
                             static_cast<QWidget*>(m_day), static_cast<QWidget*>(m_year)}) {
        control->setEnabled(editable);
    }
}

void CPageInfoBasic::RebuildDays() {
    int year = m_year->value() == UnsetYear ? 0 : m_year->value();
    int days = DaysInMonth(m_month->currentIndex(), year);
    if (m_day->count() - 1 == days) {
        return;
    }
    int selected = m_day->currentIndex();
    QSignalBlocker quiet(m_day);
    m_day->clear();
    m_day->addItem(QStringLiteral("--"));
    for (int day = 1; day <= days; ++day) {
        m_day->addItem(QString::number(day));
    }
    m_day->setCurrentIndex(selected > days ? days : std::max(selected, 0));
}

void CPageInfoBasic::Fill(const protocol::UserProfile& profile) {
    m_id->setText(Shown(profile.userId));
    m_realName->setText(Shown(profile.realName));
    m_nickname->setText(Shown(profile.nickname));
    bool numeric = false;
    int gender = Shown(profile.gender).trimmed().toInt(&numeric);
    m_gender->setCurrentIndex(numeric && gender >= 0 && gender <= 2 ? gender : 0);

    Birthday birthday = ParseBirthday(profile.birthday, CurrentYear());
    m_year->setValue(birthday.year == 0 ? UnsetYear : birthday.year);
    m_month->setCurrentIndex(birthday.month);
    RebuildDays();
    m_day->setCurrentIndex(birthday.day < m_day->count() ? birthday.day : 0);
}

void CPageInfoBasic::Take(protocol::UserProfile& profile) const {
    profile.realName = Stored(m_realName->text(), detail::width::Name);
    profile.nickname = Stored(m_nickname->text(), detail::width::Name);
    profile.gender = std::to_string(std::max(m_gender->currentIndex(), 0));
    Birthday birthday;
    birthday.year = m_year->value() == UnsetYear ? 0 : m_year->value();
    birthday.month = std::max(m_month->currentIndex(), 0);
    birthday.day = std::max(m_day->currentIndex(), 0);
    profile.birthday = FormatBirthday(birthday);
}

}  // namespace talvorine::infopages

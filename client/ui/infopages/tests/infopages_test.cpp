// The three information pages offscreen: both modes, both label variants, the birthday
// controls and the open buttons.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDate>
#include <QLabel>
#include <cstdlib>
#include <vector>

#include "talvorine/client/ui/infopages/birthday.h"
#include "talvorine/client/ui/infopages/info_pages.h"

namespace talvorine::infopages {
namespace {

protocol::UserProfile SampleProfile() {
    protocol::UserProfile p;
    p.userId = "10000042";
    p.realName = "Ana Lima";
    p.nickname = "ana";
    p.gender = "2";
    p.birthday = "1990/05/07";
    p.email = "ana@example.org";
    p.address = "1 Rua Nova";
    p.city = "Porto";
    p.state = "PT-13";
    p.country = "Portugal";
    p.zip = "4000-001";
    p.phone = "+351 22 000 0000";
    p.fax = "+351 22 000 0001";
    p.mobilePhone = "+351 91 000 0000";
    p.beepPager = "77";
    p.homePage = "https://example.org/ana";
    p.company = "Talvorine";
    p.department = "Sales";
    p.position = "Lead";
    p.occupation = "Engineer";
    p.description = "First line\nsecond line";
    return p;
}

template <typename T>
T* Child(QWidget& page, const char* name) {
    T* child = page.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
}

QStringList Items(QComboBox* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i) {
        items << list->itemText(i);
    }
    return items;
}

TEST(BirthdayTest, DaysFollowMonthsAndLeapYears) {
    EXPECT_EQ(DaysInMonth(2, 1900), 28);
    EXPECT_EQ(DaysInMonth(2, 2000), 29);
    EXPECT_EQ(DaysInMonth(2, 2024), 29);
    EXPECT_EQ(DaysInMonth(2, 2023), 28);
    EXPECT_EQ(DaysInMonth(2, 0), 29);  // an empty year counts as a leap year
    EXPECT_EQ(DaysInMonth(4, 2001), 30);
    EXPECT_EQ(DaysInMonth(11, 2001), 30);
    EXPECT_EQ(DaysInMonth(12, 2001), 31);
    EXPECT_EQ(DaysInMonth(0, 2001), 31);
}

TEST(BirthdayTest, ReadsZeroAndBlankPaddedFormsAndWritesZeros) {
    int last = QDate::currentDate().year();
    for (const char* text : {"1990/05/07", "1990/ 5/ 7"}) {
        Birthday b = ParseBirthday(text, last);
        EXPECT_EQ(b.year, 1990) << text;
        EXPECT_EQ(b.month, 5) << text;
        EXPECT_EQ(b.day, 7) << text;
    }
    EXPECT_EQ(FormatBirthday({1990, 5, 7}), "1990/05/07");
    EXPECT_EQ(FormatBirthday({}), "----/--/--");
    EXPECT_EQ(FormatBirthday({2010, 0, 3}), "2010/--/03");
    // A year after 2001 is a valid birth year and survives a round trip.
    EXPECT_EQ(FormatBirthday(ParseBirthday("2015/12/31", last)), "2015/12/31");
    // Out of range or not numbers: unset, the other parts kept.
    Birthday odd = ParseBirthday("1899/13/07", last);
    EXPECT_EQ(odd.year, 0);
    EXPECT_EQ(odd.month, 0);
    EXPECT_EQ(odd.day, 7);
    EXPECT_EQ(ParseBirthday(std::to_string(last + 1) + "/01/01", last).year, 0);
    EXPECT_EQ(ParseBirthday("----/--/--", last).month, 0);
    EXPECT_EQ(ParseBirthday("garbage", last).year, 0);
}

TEST(InfoPagesTest, ContactModeIsReadOnlyAndKeepsEveryField) {
    std::vector<QUrl> opened;
    UrlOpener opener = [&](const QUrl& url) {
        opened.push_back(url);
        return true;
    };
    CPageInfoBasic basic(InfoMode::Contact);
    CPageInfoComm comm(InfoMode::Contact, LabelVariant::Client, opener);
    CPageInfoMore more(InfoMode::Contact);
    protocol::UserProfile profile = SampleProfile();
    basic.Fill(profile);
    comm.Fill(profile);
    more.Fill(profile);

    for (QWidget* page : {static_cast<QWidget*>(&basic), static_cast<QWidget*>(&comm),
                          static_cast<QWidget*>(&more)}) {
        for (QLineEdit* edit : page->findChildren<QLineEdit*>()) {
            if (edit->parent() == page) {
                EXPECT_TRUE(edit->isReadOnly()) << edit->objectName().toStdString();
            }
        }
    }
    EXPECT_FALSE(Child<QComboBox>(basic, "gender")->isEnabled());
    EXPECT_FALSE(Child<QComboBox>(basic, "month")->isEnabled());
    EXPECT_FALSE(Child<QComboBox>(basic, "day")->isEnabled());
    EXPECT_FALSE(Child<QSpinBox>(basic, "year")->isEnabled());
    EXPECT_TRUE(Child<QPlainTextEdit>(more, "description")->isReadOnly());
    EXPECT_EQ(Child<QComboBox>(basic, "gender")->currentText(), "Female");
    EXPECT_EQ(Child<QSpinBox>(basic, "year")->text(), "1990");

    protocol::UserProfile back;
    back.userId = profile.userId;
    basic.Take(back);
    comm.Take(back);
    more.Take(back);
    back.password = profile.password;
    EXPECT_EQ(back.Encode(), profile.Encode());

    comm.SendMail();
    comm.OpenHomePage();
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0].toString(), "mailto:ana@example.org?subject=Hi!");
    EXPECT_EQ(opened[1].toString(), "https://example.org/ana");
}

TEST(InfoPagesTest, OwnModeEditsAndHidesTheOpenButtons) {
    CPageInfoBasic basic(InfoMode::Own);
    CPageInfoComm comm(InfoMode::Own, LabelVariant::Client, {});
    basic.Fill(SampleProfile());
    comm.Fill(SampleProfile());
    EXPECT_FALSE(Child<QLineEdit>(basic, "nickname")->isReadOnly());
    EXPECT_TRUE(Child<QLineEdit>(basic, "id")->isReadOnly());
    EXPECT_TRUE(Child<QComboBox>(basic, "month")->isEnabled());
    EXPECT_FALSE(Child<QPushButton>(comm, "sendMail")->isVisibleTo(&comm));
    EXPECT_FALSE(Child<QPushButton>(comm, "visitHomePage")->isVisibleTo(&comm));

    // A text longer than its field is cut to the field less its terminator, never inside a
    // character.
    Child<QLineEdit>(basic, "nickname")->setMaxLength(200);
    Child<QLineEdit>(basic, "nickname")->setText(QString(70, QChar(0x00E9)));
    Child<QLineEdit>(comm, "zip")->setText("12345678901234567890");
    protocol::UserProfile taken;
    basic.Take(taken);
    comm.Take(taken);
    EXPECT_EQ(taken.nickname.size(), 64u);
    EXPECT_EQ(QString::fromUtf8(taken.nickname.c_str()), QString(32, QChar(0x00E9)));
    EXPECT_EQ(taken.zip, "1234567890123456");
}

TEST(InfoPagesTest, LabelVariantsNameTheCommunicationFields) {
    auto labels = [](LabelVariant variant) {
        CPageInfoComm page(InfoMode::Contact, variant, {});
        QStringList texts;
        for (QLabel* label : page.findChildren<QLabel*>()) {
            texts << label->text();
        }
        return texts;
    };
    QStringList client = labels(LabelVariant::Client);
    QStringList admin = labels(LabelVariant::Admin);
    for (const char* text : {"Street &Address:", "&Cell phone:", "&Pager:"}) {
        EXPECT_TRUE(client.contains(text)) << text;
        EXPECT_FALSE(admin.contains(text)) << text;
    }
    for (const char* text : {"Street &Addr:", "&Mobile:", "&Beep pager:"}) {
        EXPECT_TRUE(admin.contains(text)) << text;
        EXPECT_FALSE(client.contains(text)) << text;
    }
    EXPECT_TRUE(admin.contains("&E-mail:"));
    EXPECT_TRUE(admin.contains("&Home Page:"));
}

TEST(InfoPagesTest, BirthdayControlsOfferTheTwentyNinthOnlyInLeapYears) {
    CPageInfoBasic page(InfoMode::Own);
    QComboBox* month = page.MonthList();
    QComboBox* day = page.DayList();
    QSpinBox* year = page.YearField();
    EXPECT_EQ(Items(month).front(), "--");
    EXPECT_EQ(month->count(), 13);

    year->setValue(2000);
    month->setCurrentIndex(2);
    EXPECT_EQ(day->count(), 30);  // "--" and 1..29
    day->setCurrentIndex(29);
    year->setValue(1900);
    EXPECT_EQ(day->count(), 29);
    EXPECT_EQ(day->currentText(), "28");  // the 29th no longer exists: the last day
    month->setCurrentIndex(3);
    EXPECT_EQ(day->count(), 32);
    EXPECT_EQ(day->currentText(), "28");  // kept
    month->setCurrentIndex(4);
    EXPECT_EQ(day->count(), 31);

    // Every year from 1900 to this one, and "----" below.
    EXPECT_EQ(year->minimum() + 1, 1900);
    EXPECT_EQ(year->maximum(), QDate::currentDate().year());
    year->setValue(year->minimum());
    EXPECT_EQ(year->text(), "----");

    // A birth year after 2001 is shown and saved as it is.
    protocol::UserProfile profile;
    profile.birthday = "2012/02/29";
    page.Fill(profile);
    EXPECT_EQ(year->text(), "2012");
    EXPECT_EQ(day->currentText(), "29");
    protocol::UserProfile back;
    page.Take(back);
    EXPECT_EQ(back.birthday, "2012/02/29");

    profile.birthday = "1850/ 7/ 4";
    page.Fill(profile);
    EXPECT_EQ(year->text(), "----");
    EXPECT_EQ(month->currentText(), "7");
    EXPECT_EQ(day->currentText(), "4");
    page.Take(back);
    EXPECT_EQ(back.birthday, "----/07/04");
}

TEST(InfoPagesTest, OpenButtonsOpenOnlyMailAndWebTargets) {
    EXPECT_FALSE(MailTarget(""));
    EXPECT_EQ(MailTarget(" bo@example.org ")->scheme(), "mailto");
    EXPECT_EQ(HomePageTarget("www.example.org")->toString(), "http://www.example.org");
    EXPECT_EQ(HomePageTarget("HTTPS://example.org/x")->scheme(), "https");
    for (const char* refused : {"", "file:///etc/passwd", "javascript:alert(1)",
                                "ftp://example.org", "/usr/bin/xterm", "smb://host/share"}) {
        EXPECT_FALSE(HomePageTarget(refused)) << refused;
    }

    std::vector<QUrl> opened;
    CPageInfoComm page(InfoMode::Contact, LabelVariant::Admin, [&](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    protocol::UserProfile profile;
    profile.homePage = "file:///etc/passwd";
    page.Fill(profile);
    page.SendMail();      // empty: only a beep
    page.OpenHomePage();  // not a web page: only a beep
    EXPECT_TRUE(opened.empty());
}

}  // namespace
}  // namespace talvorine::infopages

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

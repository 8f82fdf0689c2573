// The group bar offscreen: the menu in its three places, the blink, status reports, drag and
// drop in the model, floating contacts and their places, large icons, and the commands that
// ask through dialogs and boxes.

#include <gtest/gtest.h>

#include <QAction>
#include <QDialog>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QToolButton>

#include "contacts_test_support.h"
#include "talvorine/client/data/client_settings.h"
#include "talvorine/client/ui/contacts/contact_list_bar.h"
#include "talvorine/client/ui/contacts/floating_contact.h"
#include "talvorine/platform/private_profile.h"
#include "talvorine/testing/qt_test_support.h"
#include "test_folders.h"

namespace talvorine::client::ui::contacts {
namespace {

using data::testing::TempHome;
using platform::PrivateProfile;
using talvorine::testing::AnswerBoxes;
using testing::RecordingHost;
namespace T = data::ContactListText;

constexpr const char* Own = "10000001";
constexpr const char* Bob = "20000002";
constexpr const char* Carol = "20000003";
constexpr const char* Dave = "20000004";

// Runs `action`; every modal dialog or box it opens is handed to `handle` once.
void DriveModals(const std::function<void()>& action, const std::function<void(QWidget*)>& handle) {
    QTimer timer;
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal != nullptr && !modal->property("handled").toBool()) {
            modal->setProperty("handled", true);
            handle(modal);
        }
    });
    timer.start();
    action();
    timer.stop();
}

std::vector<std::string> Texts(const QMenu& menu) {
    std::vector<std::string> texts;
    for (QAction* action : menu.actions()) {
        if (!action->isSeparator()) {
            texts.push_back(action->text().toStdString());
        }
    }
    return texts;
}

QAction* Find(const QMenu& menu, const char* text) {
    for (QAction* action : menu.actions()) {
        if (action->text() == QString::fromLatin1(text)) {
            return action;
        }
    }
    return nullptr;
}

class BarTest : public TempHome {
protected:
    void SetUp() override {
        TempHome::SetUp();
        data::ContactListStore store(Own);
        ASSERT_TRUE(store.AddGroup("Friends"));
        ASSERT_TRUE(store.AddGroup("Work"));
        ASSERT_TRUE(store.AddGroup("Strangers"));
        ASSERT_TRUE(store.AddContact("Friends", Bob, "Bob", "bob@example.com"));
        ASSERT_TRUE(store.AddContact("Friends", Carol, "Carol", ""));
        ASSERT_TRUE(store.AddContact("Work", Dave, "Dave", "not an address"));
        host.window.setGeometry(100, 100, 200, 400);
        bar = std::make_unique<CContactListBar>(list, listMutex, host, &host.window);
        bar->setGeometry(0, 0, 200, 400);
        host.window.show();
    }
    void TearDown() override {
        bar.reset();
        TempHome::TearDown();
    }
    void Load() {
        bar->LoadList(Own);
        bar->OpenGroup(0);
    }
    data::ContactEntry* Entry(const char* id) { return list.Entry(*list.FindContact(id)); }
    std::filesystem::path Folder() const { return Home() / "Users" / Own; }
    QPoint GlobalCentre(QRect rect) const { return bar->mapToGlobal(rect.center()); }

    RecordingHost host;
    data::ContactList list;
    std::mutex listMutex;
    std::unique_ptr<CContactListBar> bar;
};

TEST_F(BarTest, TheMenuInItsThreePlaces) {
    // No group at all (nothing loaded).
    auto none = bar->BuildContextMenu(QPoint(50, 50));
    EXPECT_EQ(Texts(*none), (std::vector<std::string>{"User", "Add User...", "Large Icons", "Group",
                                                      "Add Group...", "Delete Group",
                                                      "Rename Group...", "Refresh User Status"}));
    for (const char* greyed :
         {"Add User...", "Delete Group", "Rename Group...", "Refresh User Status"}) {
        EXPECT_FALSE(Find(*none, greyed)->isEnabled()) << greyed;
    }
    EXPECT_TRUE(Find(*none, "Add Group...")->isEnabled());
    EXPECT_TRUE(Find(*none, "Large Icons")->isEnabled());
    // Items as wide as their text plus two check marks and 8 pixels, at least 16 high.
    none->ensurePolished();
    const QRect addGroup = none->actionGeometry(Find(*none, "Add Group..."));
    EXPECT_GE(addGroup.width(), none->fontMetrics().horizontalAdvance("Add Group...") + 8);
    EXPECT_GE(addGroup.height(), 16);

    Load();
    auto onContact = bar->BuildContextMenu(bar->ItemRect(0).center());
    EXPECT_EQ(Texts(*onContact),
              (std::vector<std::string>{
                  "Contact", "Message...", "Chat...", "File Transfer...", "E-mail", "HomePage",
                  "History", "Message History...", "Chat History...", "FileTransfer History...",
                  "User", "Add User...", "Delete User", "Rename User", "Info...", "Floating on",
                  "User Icons", "Large Icons", "Refresh User Status"}));
    for (const char* pictured : {"Message...", "Chat...", "Delete User", "Refresh User Status"}) {
        EXPECT_FALSE(Find(*onContact, pictured)->icon().isNull()) << pictured;
    }
    EXPECT_TRUE(Find(*onContact, "File Transfer...")->icon().isNull());
    EXPECT_FALSE(Find(*onContact, "Floating on")->isChecked());
    Find(*onContact, "Message...")->trigger();
    EXPECT_EQ(host.calls.back(), std::string("message:") + Bob);

    auto onEmpty = bar->BuildContextMenu(QPoint(20, bar->height() - 3 * bar->HeaderHeight() - 5));
    EXPECT_EQ(Texts(*onEmpty), (std::vector<std::string>{
                                   "User", "Add User...", "Large Icons", "Group", "Add Group...",
                                   "Delete Group", "Rename Group...", "Refresh User Status"}));
    EXPECT_TRUE(Find(*onEmpty, "Delete Group")->isEnabled());
    EXPECT_TRUE(Find(*onEmpty, "Refresh User Status")->isEnabled());
    host.connected = false;
    EXPECT_FALSE(Find(*bar->BuildContextMenu(QPoint(20, 100)), "Refresh User Status")->isEnabled());
}

TEST_F(BarTest, LayoutStacksHeadersAroundTheOpenGroupAndTheArrowsFollowTheItems) {
    Load();
    const int header = bar->HeaderHeight();
    EXPECT_EQ(bar->HeaderRect(0).top(), 0);
    EXPECT_EQ(bar->HeaderRect(2).bottom(), bar->height() - 1);
    EXPECT_EQ(bar->HeaderRect(1).top(), bar->height() - 2 * header);
    EXPECT_EQ(bar->ItemRect(0).top(), header);
    EXPECT_EQ(bar->HeaderButton(1)->text(), "Work");
    EXPECT_FALSE(bar->ScrollUpButton()->isEnabled());
    EXPECT_FALSE(bar->ScrollDownButton()->isEnabled());
    bar->resize(200, 3 * header + SmallItemHeight + 5);  // room for one item
    EXPECT_TRUE(bar->ScrollDownButton()->isEnabled());
    bar->ScrollLines(1);
    EXPECT_EQ(bar->FirstVisibleItem(), 1);
    EXPECT_TRUE(bar->ScrollUpButton()->isEnabled());
    EXPECT_FALSE(bar->ScrollDownButton()->isEnabled());
    bar->HeaderButton(1)->click();
    EXPECT_EQ(bar->OpenGroupIndex(), 1);
    EXPECT_EQ(bar->FirstVisibleItem(), 0);
}

TEST_F(BarTest, TheBlinkRepaintsOnlyTheItemsWhosePictureChanged) {
    Load();
    Entry(Bob)->IncrementUnread();
    bar->BlinkTick();
    const bool firstPhase = bar->BlinkOn();
    EXPECT_EQ(bar->LastBlinkRepaints(), std::vector<std::string>{Bob});
    EXPECT_EQ(bar->DrawnPicture(Bob), firstPhase ? PictureKind::Unread : PictureKind::None);
    EXPECT_EQ(bar->DrawnPicture(Carol), PictureKind::Normal);
    EXPECT_FALSE(bar->HeaderButton(0)->icon().isNull()) << "the group flashes";
    EXPECT_TRUE(bar->HeaderButton(1)->icon().isNull());
    EXPECT_EQ(host.unreadStates, std::vector<bool>{true});
    bar->BlinkTick();
    EXPECT_EQ(bar->LastBlinkRepaints(), std::vector<std::string>{Bob});
    EXPECT_EQ(bar->FirstUnreadContact(), std::optional<std::string>(Bob));

    bar->SelectContact(Carol);
    QKeyEvent up(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
    QApplication::sendEvent(bar.get(), &up);
    EXPECT_EQ(bar->SelectedContact(), std::optional<std::string>(Bob));
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(bar.get(), &enter);
    EXPECT_EQ(host.calls.back(), std::string("messages:") + Bob) << "unread: the Messages window";
    bar->ActivateContact(Carol);
    EXPECT_EQ(host.calls.back(), std::string("message:") + Carol);

    Entry(Bob)->DecrementUnread();
    bar->UnreadChanged();
    bar->BlinkTick();
    EXPECT_TRUE(bar->LastBlinkRepaints().empty());
    EXPECT_EQ(bar->DrawnPicture(Bob), PictureKind::Normal);
    EXPECT_TRUE(bar->HeaderButton(0)->icon().isNull());
    EXPECT_EQ(host.unreadStates, (std::vector<bool>{true, false}));
}

TEST_F(BarTest, ArrivalSoundOnlyAfterTheFirstReportAndOfflineWhileDisconnected) {
    Load();
    bar->LoggedIn();
    bar->HandleStatusReport(Bob, 2);
    EXPECT_TRUE(bar->DrawnOnline(Bob));
    EXPECT_TRUE(host.sounds.empty());
    EXPECT_EQ(bar->ArrivalCounter(Bob), 0);
    bar->HandleStatusReport(Carol, 1);
    bar->HandleStatusReport(Carol, 3);
    EXPECT_EQ(host.sounds, std::vector<int>{data::SoundEvent::UserOnline});
    EXPECT_EQ(bar->ArrivalCounter(Carol), ArrivalTicks("Carol"));
    EXPECT_EQ(bar->DrawnPicture(Carol), PictureKind::Away);
    ASSERT_TRUE(talvorine::testing::PumpUntil(
        [&] { return bar->ArrivalCounter(Carol) < ArrivalTicks("Carol") - 2; }));

    host.connected = false;
    bar->HandleStatusReport(Bob, 1);
    EXPECT_FALSE(bar->DrawnOnline(Bob));
    EXPECT_EQ(Entry(Bob)->status, 2) << "the stored status is kept";
    bar->HandleStatusReport("29999999", 2);  // gone from the list: nothing happens
}

TEST_F(BarTest, PicturesOwnWithMagentaTransparentBuiltInOtherwiseAndGreyOffline) {
    std::filesystem::create_directories(Folder() / "Icons");
    QImage own(32, 32, QImage::Format_RGB32);
    own.fill(QColor(255, 0, 255));
    for (int y = 8; y < 24; ++y) {
        for (int x = 8; x < 24; ++x) {
            own.setPixelColor(x, y, QColor(200, 0, 0));
        }
    }
    ASSERT_TRUE(own.save(
        QString::fromStdString((Folder() / "Icons" / (std::string(Bob) + "-1.bmp")).string()),
        "BMP"));
    Load();
    bar->LoggedIn();
    bar->HandleStatusReport(Bob, 2);
    QImage drawn = bar->CurrentPicture(Bob, true).toImage();
    EXPECT_EQ(qAlpha(drawn.pixel(0, 0)), 0) << "magenta is transparent";
    EXPECT_EQ(QColor(drawn.pixel(16, 16)), QColor(200, 0, 0));
    bar->HandleStatusReport(Bob, 3);  // no own Away picture: the built-in one
    drawn = bar->CurrentPicture(Bob, false).toImage();
    EXPECT_EQ(drawn.size(), QSize(16, 16));
    bar->HandleStatusReport(Bob, 1);
    bar->HandleStatusReport(Bob, 2);
    host.connected = false;
    bar->HandleStatusReport(Bob, 1);
    const QColor grey = bar->CurrentPicture(Bob, true).toImage().pixelColor(16, 16);
    EXPECT_TRUE(grey.red() == grey.green() && grey.green() == grey.blue()) << "offline is grey";
    const QString tip = bar->TooltipText(Bob);
    EXPECT_EQ(
        tip,
        QString("Bob (%1)\n\nEmail: bob@example.com\nPhone: \nPager: \nCell Phone: ").arg(Bob));
}

TEST_F(BarTest, DragAndDropMovesInTheModelWithTheDesignedRefusals) {
    Load();
    const auto refused =
        AnswerBoxes([&] { bar->DropContact(Bob, GlobalCentre(bar->HeaderRect(2)), QPoint(2, 2)); });
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0].text.toStdString(), T::CannotMoveUserToGroup);
    EXPECT_EQ(*list.FindContact(Bob), (data::ContactPosition{0, 0}));

    bar->DropContact(Bob, GlobalCentre(bar->HeaderRect(1)), QPoint(2, 2));
    EXPECT_EQ(*list.FindContact(Bob), (data::ContactPosition{1, 1}));
    EXPECT_EQ(bar->OpenGroupIndex(), 1);
    EXPECT_EQ(bar->SelectedContact(), std::optional<std::string>(Bob));
    // In front of Dave within the open group.
    bar->DropContact(Bob, GlobalCentre(bar->ItemRect(0)), QPoint(2, 2));
    EXPECT_EQ(*list.FindContact(Bob), (data::ContactPosition{1, 0}));
    EXPECT_TRUE(PrivateProfile(Folder() / "Groups.dat").ReadSection("Work") ==
                std::vector<std::string>{std::string(Dave) + "="})
        << "nothing is written before the save";

    // Headers: onto the one right after is no change; onto an earlier one moves in front.
    bar->MoveGroupBefore(0, 1);
    EXPECT_EQ(list.Group(0).name, "Friends");
    bar->MoveGroupBefore(1, 0);
    EXPECT_EQ(list.Group(0).name, "Work");
    EXPECT_EQ(bar->HeaderButton(0)->text(), "Work");
    EXPECT_EQ(bar->OpenGroupIndex(), 0) << "the open group moved with its header";

    // Out of the window: a floating contact where the item was grabbed.
    const QPoint outside = host.window.frameGeometry().bottomRight() + QPoint(300, 50);
    bar->DropContact(Carol, outside, QPoint(7, 4));
    FloatingContact* floating = bar->Floating(Carol);
    ASSERT_NE(floating, nullptr);
    EXPECT_EQ(floating->pos(), outside - QPoint(7, 4));
    EXPECT_EQ(floating->windowTitle(), "Carol");
    // Elsewhere in the main window: nothing.
    bar->DropContact(Dave, host.window.frameGeometry().topLeft() + QPoint(1, 1), QPoint());
    EXPECT_EQ(bar->Floating(Dave), nullptr);
}

TEST_F(BarTest, ADragWithTheMouseOpensTheGroupUnderItAndDropsThere) {
    Load();
    const auto send = [&](QEvent::Type type, QPoint point, Qt::MouseButtons buttons) {
        QMouseEvent event(type, point, bar->mapToGlobal(point),
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                          Qt::NoModifier);
        QApplication::sendEvent(bar.get(), &event);
    };
    const QPoint start = bar->ItemRect(0).center();
    const QPoint work = bar->HeaderRect(1).center();
    send(QEvent::MouseButtonPress, start, Qt::LeftButton);
    send(QEvent::MouseMove, start + QPoint(0, 20), Qt::LeftButton);
    send(QEvent::MouseMove, work, Qt::LeftButton);
    EXPECT_EQ(bar->OpenGroupIndex(), 1) << "hovering a header opens its group";
    send(QEvent::MouseButtonRelease, work, Qt::NoButton);
    EXPECT_EQ(*list.FindContact(Bob), (data::ContactPosition{1, 1}));
    EXPECT_EQ(bar->SelectedContact(), std::optional<std::string>(Bob));
}

TEST_F(BarTest, LargeIconsResizeItemsAndFloatingWindowsAndAreKept) {
    Load();
    bar->ShowFloating(Bob);
    FloatingContact* floating = bar->Floating(Bob);
    ASSERT_NE(floating, nullptr);
    EXPECT_EQ(bar->ItemRect(0).height(), 22);
    EXPECT_EQ(floating->height(), FloatingContact::HeightFor(22));
    auto menu = bar->BuildContextMenu(bar->ItemRect(0).center());
    EXPECT_TRUE(Find(*menu, "Floating on")->isChecked());
    Find(*menu, "Large Icons")->trigger();
    EXPECT_TRUE(bar->LargeIcons());
    EXPECT_EQ(bar->ItemRect(0).height(), 40);
    EXPECT_EQ(floating->height(), FloatingContact::HeightFor(40));
    bar.reset();
    EXPECT_EQ(data::WindowSettings("ContactList").GetDword("LargeIcons", 0), 1u);
    bar = std::make_unique<CContactListBar>(list, listMutex, host, &host.window);
    EXPECT_TRUE(bar->LargeIcons());
}

TEST_F(BarTest, FloatingPlacesAreSavedAndAnOffScreenPlaceIsMovedBack) {
    Load();
    bar->ShowFloating(Bob, QPoint(300, 200), 150);
    bar->SaveAndUnloadList();
    PrivateProfile bobFile(Folder() / (std::string(Bob) + ".usr"));
    EXPECT_EQ(bobFile.ReadInt(Bob, "Float On", 0), 1);
    EXPECT_EQ(bobFile.ReadInt(Bob, "x", 0), 300);
    EXPECT_EQ(bobFile.ReadInt(Bob, "y", 0), 200);
    EXPECT_EQ(bobFile.ReadInt(Bob, "Width", 0), 150);
    EXPECT_EQ(
        PrivateProfile(Folder() / (std::string(Carol) + ".usr")).ReadInt(Carol, "Float On", 7), 7)
        << "a contact that never floated gets no values";

    PrivateProfile carolFile(Folder() / (std::string(Carol) + ".usr"));
    ASSERT_TRUE(carolFile.Write(Carol, "Float On", "1"));
    ASSERT_TRUE(carolFile.Write(Carol, "x", "-5000"));
    ASSERT_TRUE(carolFile.Write(Carol, "y", "-5000"));
    ASSERT_TRUE(carolFile.Write(Carol, "Width", "120"));
    Load();
    ASSERT_NE(bar->Floating(Bob), nullptr);
    EXPECT_EQ(bar->Floating(Bob)->geometry(), QRect(300, 200, 150, bar->Floating(Bob)->height()));
    FloatingContact* carol = bar->Floating(Carol);
    ASSERT_NE(carol, nullptr);
    const QRect screen = QGuiApplication::primaryScreen()->virtualGeometry();
    EXPECT_GE(carol->geometry().intersected(screen).width(), 20);
    EXPECT_GE(carol->geometry().intersected(screen).height(), 20);
    EXPECT_EQ(carol->width(), 120);
}

TEST_F(BarTest, GroupCommandsAskAndRefuseThroughTheirDialogs) {
    Load();
    std::vector<std::string> boxes;
    int dialogs = 0;
    const auto answer = [&](const char* typed) {
        return [&, typed](QWidget* modal) {
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                boxes.push_back(box->text().toStdString());
                box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)->click()
                                             : box->accept();
                return;
            }
            auto* dialog = qobject_cast<QDialog*>(modal);
            ++dialogs;
            if (dialogs > 1) {
                dialog->reject();  // back in the name field after the refusal: give up
                return;
            }
            dialog->findChild<QLineEdit*>("name")->setText(QString::fromLatin1(typed));
            dialog->accept();
        };
    };
    bar->SetMenuTarget(std::nullopt, 0);
    DriveModals([&] { bar->AddGroup(); }, answer(" work "));
    EXPECT_EQ(boxes, std::vector<std::string>{std::string(T::GroupAlreadyExists)});
    EXPECT_EQ(dialogs, 2);
    EXPECT_EQ(list.GroupCount(), 3);

    boxes.clear();
    dialogs = 0;
    DriveModals([&] { bar->AddGroup(); }, answer("R&D Family"));
    EXPECT_EQ(list.Group(3).name, "R&D Family");
    EXPECT_EQ(bar->OpenGroupIndex(), 3);
    EXPECT_EQ(bar->HeaderButton(3)->text(), "R&&D Family") << "the \"&\" is no mnemonic";

    boxes.clear();
    bar->SetMenuTarget(std::nullopt, 2);
    DriveModals([&] { bar->RenameGroup(); }, answer("x"));
    DriveModals([&] { bar->DeleteGroup(); }, answer("x"));
    EXPECT_EQ(boxes, (std::vector<std::string>{std::string(T::CannotRenameBuiltInGroup),
                                               std::string(T::CannotDeleteBuiltInGroup)}));
    boxes.clear();
    DriveModals([&] { bar->AddUser(); }, answer("x"));
    EXPECT_EQ(boxes, std::vector<std::string>{std::string(T::CannotAddUserToGroup)});
    bar->SetMenuTarget(std::nullopt, 1);
    bar->AddUser();
    EXPECT_EQ(host.calls.back(), "wizard:Work");

    // Delete "Work", moving Dave to the first offered group ("Friends").
    DriveModals([&] { bar->DeleteGroup(); },
                [&](QWidget* modal) {
                    auto* dialog = qobject_cast<QDialog*>(modal);
                    EXPECT_TRUE(dialog->findChild<QWidget*>("moveUsers")->isEnabled());
                    dialog->accept();
                });
    EXPECT_EQ(list.FindGroup("Work"), -1);
    EXPECT_EQ(list.FindContact(Dave)->group, 0);

    // Delete "Friends" with its members (not moved to "R&D Family"); a floating window goes too.
    bar->ShowFloating(Bob);
    bar->SetMenuTarget(std::nullopt, 0);
    DriveModals([&] { bar->DeleteGroup(); },
                [&](QWidget* modal) {
                    auto* dialog = qobject_cast<QDialog*>(modal);
                    dialog->findChild<QRadioButton*>("deleteUsers")->setChecked(true);
                    dialog->accept();
                });
    EXPECT_EQ(list.GroupCount(), 2);
    EXPECT_FALSE(list.FindContact(Bob));
    EXPECT_FALSE(list.FindContact(Dave));
    EXPECT_EQ(bar->Floating(Bob), nullptr);
    EXPECT_FALSE(std::filesystem::exists(Folder() / (std::string(Dave) + ".usr")));
}

TEST_F(BarTest, ContactCommandsDeleteRenameAndTheirTexts) {
    Load();
    bar->SetMenuTarget(std::string(Carol), 0);
    std::vector<std::string> boxes;
    DriveModals([&] { bar->Email(); },
                [&](QWidget* modal) {
                    boxes.push_back(qobject_cast<QMessageBox*>(modal)->text().toStdString());
                    qobject_cast<QMessageBox*>(modal)->accept();
                });
    DriveModals([&] { bar->HomePage(); },
                [&](QWidget* modal) {
                    boxes.push_back(qobject_cast<QMessageBox*>(modal)->text().toStdString());
                    qobject_cast<QMessageBox*>(modal)->accept();
                });
    EXPECT_EQ(boxes, (std::vector<std::string>{"Carol's E-mail address is not available.",
                                               "Carol's HomePage is not available."}));
    boxes.clear();
    bar->SetMenuTarget(std::string(Dave), 1);
    DriveModals([&] { bar->Email(); },
                [&](QWidget* modal) {
                    boxes.push_back(qobject_cast<QMessageBox*>(modal)->text().toStdString());
                    qobject_cast<QMessageBox*>(modal)->accept();
                });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].find("was not opened"), std::string::npos);

    bar->SetMenuTarget(std::string(Carol), 0);
    DriveModals([&] { bar->RenameUser(); },
                [&](QWidget* modal) {
                    auto* dialog = qobject_cast<QDialog*>(modal);
                    if (dialog == nullptr || qobject_cast<QMessageBox*>(modal) != nullptr) {
                        qobject_cast<QMessageBox*>(modal)->accept();
                        return;
                    }
                    EXPECT_EQ(dialog->windowTitle(), "Change Nickname");
                    dialog->findChild<QLineEdit*>("name")->setText("  Caroline ");
                    dialog->accept();
                });
    EXPECT_EQ(Entry(Carol)->nickname, "Caroline");

    bar->ShowFloating(Carol);
    bar->SelectContact(Carol);
    const auto asked = AnswerBoxes([&] { bar->DeleteUser(); }, QMessageBox::Yes);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text.toStdString(), "Delete user Caroline from your contact list?");
    EXPECT_FALSE(list.FindContact(Carol));
    EXPECT_FALSE(std::filesystem::exists(Folder() / (std::string(Carol) + ".usr")));
    EXPECT_EQ(bar->SelectedContact(), std::optional<std::string>(Bob)) << "the previous one";
}

TEST_F(BarTest, AReceivedMessageFromAStrangerAndAFailedStore) {
    Load();
    {
        std::lock_guard lock(listMutex);
        list.AddContact(list.FindGroup("Strangers"), "29999999", "29999999", 0);
        list.IncrementUnread("29999999");
    }
    session::IncomingMessage message;
    message.senderId = "29999999";
    message.newStranger = true;
    message.stored = false;
    message.storageWarning = "You have received a message, but ...";
    const auto boxes = AnswerBoxes([&] {
        bar->MessageReceived(message);
        talvorine::testing::PumpUntil([] { return false; }, std::chrono::milliseconds(300));
    });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text.toStdString(), message.storageWarning);
    EXPECT_EQ(host.calls.back(), "pass:29999999");
    EXPECT_EQ(bar->FirstUnreadContact(), std::optional<std::string>("29999999"));
    EXPECT_FALSE(bar->HeaderButton(2)->icon().isNull());
}

}  // namespace
}  // namespace talvorine::client::ui::contacts

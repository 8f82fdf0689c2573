// Shows the contact list with prepared data in a real window, for scripts/screenshots.sh:
//   contacts_gallery small|large|menu-contact|menu-empty|menu-nogroup|floating|docked
// The data lives in a temporary client and registry folder of its own; the program ends by
// itself after 30 seconds or on SIGTERM.

#include <stdlib.h>

#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QTimer>
#include <QVBoxLayout>
#include <filesystem>
#include <mutex>

#include "contacts_test_support.h"
#include "dialog_test_support.h"
#include "talvorine/client/data/accounts.h"
#include "talvorine/client/data/client_settings.h"
#include "talvorine/client/ui/contacts/contact_list_bar.h"
#include "talvorine/client/ui/contacts/window_docker.h"

using namespace talvorine::client;
using ui::contacts::CContactListBar;

namespace {

constexpr const char* Own = "10000001";

void Prepare() {
    data::ContactListStore store(Own);
    for (const char* group : {"Friends", "Work", "Family", "Strangers"}) {
        store.AddGroup(group);
    }
    const std::pair<const char*, const char*> friends[] = {
        {"20000002", "Bob Online"},     {"20000003", "Carol Away"},
        {"20000004", "Dave N/A"},       {"20000005", "Eve Offline"},
        {"20000006", "Frank (unread)"}, {"20000007", "Grace with her own picture"}};
    for (const auto& [id, nick] : friends) {
        store.AddContact("Friends", id, nick, std::string(id) + "@example.com");
    }
    store.AddContact("Work", "20000010", "Heidi", "");
    store.AddContact("Work", "20000011", "Ivan", "");
    store.AddContact("Family", "20000012", "Judy", "");
    // Grace's own Normal picture: a blue square on magenta (drawn transparent).
    const auto icons = *data::AccountFolder(Own) / "Icons";
    std::filesystem::create_directories(icons);
    QImage picture(32, 32, QImage::Format_RGB32);
    picture.fill(QColor(255, 0, 255));
    QPainter painter(&picture);
    painter.setBrush(QColor(40, 90, 220));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QRect(4, 4, 24, 24));
    painter.end();
    picture.save(QString::fromStdString((icons / "20000007-1.bmp").string()), "BMP");
}

}  // namespace

int main(int argc, char** argv) {
    const std::string scene = argc > 1 ? argv[1] : "small";
    const talvorine::client::ui::testing::TempClientHome home;
    data::WindowSettings(data::WindowSection::ContactList)
        .SetDword("LargeIcons", scene == "large" ? 1 : 0);

    QApplication application(argc, argv);

    talvorine::client::ui::testing::QuitOnTerminate(application);
    ui::contacts::testing::RecordingHost host;
    host.window.setWindowTitle("Talvorine Messenger");
    host.window.resize(270, 500);
    host.window.move(120, 80);
    auto* layout = new QVBoxLayout(&host.window);
    layout->setContentsMargins(0, 0, 0, 0);
    data::ContactList list;
    std::mutex listMutex;
    auto* bar = new CContactListBar(list, listMutex, host, &host.window);
    layout->addWidget(bar);
    if (scene != "menu-nogroup") {
        Prepare();
        bar->LoadList(Own);
        bar->OpenGroup(0);
        bar->LoggedIn();
        const std::pair<const char*, int> statuses[] = {{"20000002", 2}, {"20000003", 3},
                                                        {"20000004", 4}, {"20000005", 1},
                                                        {"20000006", 2}, {"20000007", 2}};
        for (const auto& [id, status] : statuses) {
            bar->HandleStatusReport(id, status);
        }
        list.IncrementUnread("20000006");
        bar->UnreadChanged();
        // A still picture shows the unread contact in the blink's "on" phase.
        bar->findChild<QTimer*>("blinkTimer")->stop();
        if (!bar->BlinkOn()) {
            bar->BlinkTick();
        }
    }
    host.window.show();

    std::unique_ptr<ui::contacts::WindowDocker> docker;
    std::unique_ptr<QMenu> menu;
    QTimer::singleShot(600, [&] {
        if (scene == "menu-contact") {
            menu = bar->BuildContextMenu(bar->ItemRect(1).center());
            menu->popup(bar->mapToGlobal(bar->ItemRect(1).center()));
        } else if (scene == "menu-empty" || scene == "menu-nogroup") {
            const QPoint point(40, bar->height() - 4 * bar->HeaderHeight() - 10);
            menu = bar->BuildContextMenu(point);
            menu->popup(bar->mapToGlobal(point));
        } else if (scene == "floating") {
            bar->ShowFloating("20000002", host.window.frameGeometry().topRight() + QPoint(40, 60),
                              170);
            bar->ShowFloating("20000005", host.window.frameGeometry().topRight() + QPoint(40, 110),
                              170);
        } else if (scene == "docked") {
            docker = std::make_unique<ui::contacts::WindowDocker>(host.window,
                                                                  data::ClientSettings::Defaults());
            docker->Restore();
            docker->Dock(ui::contacts::DockEdge::Right);
        }
    });
    QTimer::singleShot(30000, &application, &QApplication::quit);
    const int result = application.exec();
    return result;
}

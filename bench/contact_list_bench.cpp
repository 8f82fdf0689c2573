// The contact list window with 1,000 contacts in 20 groups: loading the list (files, unread
// counts, pictures) and drawing the bar; the resident memory the loaded list adds; and the CPU
// an idle window takes per second with the 500 ms blink (some contacts unread) and the 50 ms
// hover timer running (an idle client must not keep a core busy).

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMouseEvent>
#include <QPixmap>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>

#include "talvorine/client/data/contact_list.h"
#include "talvorine/client/ui/contacts/contact_list_bar.h"
#include "talvorine/client/ui/contacts/contact_list_host.h"

namespace {

using namespace talvorine::client;
using ui::contacts::CContactListBar;

constexpr const char* Own = "10000001";
constexpr int Groups = 20;
constexpr int PerGroup = 50;

class QuietHost : public ui::contacts::ContactListHost {
public:
    bool IsConnected() const override { return true; }
    std::string OwnUserId() const override { return Own; }
    void PlayEventSound(int) override {}
    QWidget* DialogParent() override { return &window; }
    QWidget* MainWindow() override { return &window; }
    void OpenSendMessage(const std::string&) override {}
    void OpenReceivedMessages(const std::string&) override {}
    void PassToMessagesWindow(const std::string&, std::span<const std::uint8_t>) override {}
    void OpenChat(const std::string&) override {}
    void OpenFileTransfer(const std::string&) override {}
    void OpenMessageHistory(const std::string&) override {}
    void OpenChatHistory(const std::string&) override {}
    void OpenFileTransferHistory(const std::string&) override {}
    void OpenUserInfo(const std::string&) override {}
    void OpenUserWizard(const std::string&) override {}
    void UpdateUserIcons(const std::string&) override {}
    void CustomizeUserIcons(const std::string&) override {}
    void ResetUserIcons(const std::string&) override {}
    void FilesDropped(const std::string&, const std::vector<std::filesystem::path>&) override {}
    QWidget window;
};

long ResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * ::sysconf(_SC_PAGESIZE) / 1024;
}

double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The account's files: 20 groups of 50 contacts.
void WriteList(const std::filesystem::path& home) {
    data::ContactListStore store(Own);
    for (int g = 0; g < Groups; ++g) {
        const std::string group = "Group " + std::to_string(g + 1);
        store.AddGroup(group);
    }
    data::ContactList list;
    list.Load(Own);
    for (int g = 0; g < Groups; ++g) {
        const int index = list.FindGroup("Group " + std::to_string(g + 1));
        for (int i = 0; i < PerGroup; ++i) {
            const std::string id = std::to_string(20000000 + g * PerGroup + i);
            list.AddContact(index, id, "Contact number " + id, 0);
            store.SetNickname(id, "Contact number " + id);
        }
    }
    list.SaveAndUnload();
    (void)home;
}

struct Fixture {
    Fixture() {
        char pattern[] = "/tmp/talvorine-contacts-bench-XXXXXX";
        folder = ::mkdtemp(pattern);
        std::filesystem::create_directories(folder / "home");
        std::filesystem::create_directories(folder / "registry");
        ::setenv("TALVORINE_CLIENT_HOME", (folder / "home").c_str(), 1);
        ::setenv("TALVORINE_REGISTRY_DIR", (folder / "registry").c_str(), 1);
        WriteList(folder / "home");
    }
    ~Fixture() { std::filesystem::remove_all(folder); }
    std::filesystem::path folder;
};

Fixture& Files() {
    static Fixture fixture;
    return fixture;
}

void BM_LoadAndDraw(benchmark::State& state) {
    Files();
    QuietHost host;
    data::ContactList list;
    std::mutex listMutex;
    CContactListBar bar(list, listMutex, host, &host.window);
    bar.resize(220, 700);
    const long before = ResidentKiB();
    for (auto _ : state) {
        bar.LoadList(Own);
        QPixmap drawn = bar.grab();
        benchmark::DoNotOptimize(drawn);
    }
    state.counters["rss_added_kib"] = static_cast<double>(ResidentKiB() - before);
    state.counters["contacts"] = Groups * PerGroup;
}
BENCHMARK(BM_LoadAndDraw)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_IdleCpuPerSecond(benchmark::State& state) {
    Files();
    QuietHost host;
    data::ContactList list;
    std::mutex listMutex;
    host.window.resize(220, 700);
    CContactListBar bar(list, listMutex, host, &host.window);
    bar.resize(220, 700);
    host.window.show();
    bar.LoadList(Own);
    // Ten unread contacts keep the blink changing pictures; the mouse rests on an item so the
    // hover timer runs.
    const int load = static_cast<int>(state.range(0));
    if (load >= 1) {
        for (int i = 0; i < 10; ++i) {
            list.IncrementUnread(std::to_string(20000000 + i));
        }
        bar.UnreadChanged();
    }
    if (load >= 2) {
        const QPoint item = bar.ItemRect(1).center();
        QCursor::setPos(bar.mapToGlobal(item));
        QMouseEvent move(QEvent::MouseMove, item, bar.mapToGlobal(item), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(&bar, &move);
    }
    for (auto _ : state) {
        const double cpuBefore = CpuSeconds();
        QElapsedTimer wall;
        wall.start();
        QEventLoop idle;
        QTimer::singleShot(5000, &idle, &QEventLoop::quit);
        idle.exec();
        const double seconds = static_cast<double>(wall.elapsed()) / 1000.0;
        state.counters["cpu_ms_per_s"] = (CpuSeconds() - cpuBefore) * 1000.0 / seconds;
    }
}
// 0: nothing unread, mouse away; 1: ten contacts blinking; 2: blinking and the mouse on an item.
BENCHMARK(BM_IdleCpuPerSecond)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2);

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

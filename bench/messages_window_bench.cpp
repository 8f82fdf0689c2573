// The "Messages" window on one contact with 100,000 received messages: opening it (the newest
// page listed, the newest message read and shown), listing the next older page as the list is
// scrolled, and stepping through 1,000 formatted messages as a reader does (each read from the
// store, its RTF read into the pane and its links marked). The RTF codec alone on a page of
// 1,000 messages is rtf_bench's BM_ReadHistoryPage.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QApplication>
#include <QColor>
#include <QScrollBar>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTreeWidget>
#include <filesystem>
#include <mutex>
#include <string>

#include "talvorine/client/data/message_store.h"
#include "talvorine/client/ui/messages/dlg_messages.h"
#include "talvorine/client/ui/rtf/rtf_codec.h"
#include "talvorine/protocol/catalogue.h"

namespace {

using namespace talvorine::client;

constexpr const char* Own = "10000001";
constexpr const char* Peer = "10000002";
constexpr int StoredMessages = 100'000;

// A message as people write one: a bold name, a coloured amount and a link.
std::vector<std::uint8_t> FormattedBody(int n) {
    QTextDocument document;
    QTextCursor cursor(&document);
    QTextCharFormat plain;
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    QTextCharFormat red;
    red.setForeground(QColor(200, 0, 0));
    cursor.insertText(QString("Message %1: the meeting with ").arg(n), plain);
    cursor.insertText(QStringLiteral("Anna Berg"), bold);
    cursor.insertText(QStringLiteral(" moved to room 4.12; the budget is "), plain);
    cursor.insertText(QStringLiteral("1,200"), red);
    cursor.insertText(QStringLiteral(" per head, see https://intranet.example/budget."), plain);
    talvorine::protocol::MessageRecord record;
    record.time = 1'700'000'000u + static_cast<std::uint32_t>(n);
    record.richText = true;
    record.brief = "Message " + std::to_string(n);
    record.body = talvorine::rtf::WriteRtf(document);
    return record.Encode();
}

class TempHome {
public:
    TempHome() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tlv-messages-bench-XXXXXX").string();
        m_root = ::mkdtemp(pattern.data());
        std::filesystem::create_directories(m_root / "registry");
        ::setenv("TALVORINE_CLIENT_HOME", m_root.c_str(), 1);
        ::setenv("TALVORINE_REGISTRY_DIR", (m_root / "registry").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", m_root.c_str(), 1);
        data::MessageStore store = data::MessageStore::Open(Own, data::StoreKind::Received, Peer,
                                                            data::StoreMode::ReadWrite, true);
        for (int n = 0; n < StoredMessages; ++n) {
            store.AppendMessage(FormattedBody(n), n % 3 == 0 ? 1 : 0);
        }
    }
    ~TempHome() {
        std::error_code ignored;
        std::filesystem::remove_all(m_root, ignored);
    }

private:
    std::filesystem::path m_root;
};

ui::MessagesWindowServices Services(std::mutex& lock) {
    ui::MessagesWindowServices services;
    services.accountId = Own;
    services.contactId = Peer;
    services.nickname = "Anna";
    services.historyLock = &lock;
    services.settings = [] {
        data::ClientSettings settings = data::ClientSettings::Defaults();
        settings.markAsRead = false;  // the figures are for reading, not for marking
        return settings;
    };
    return services;
}

void BM_OpenWindowOn100000Messages(benchmark::State& state) {
    std::mutex lock;
    std::size_t listed = 0;
    for (auto _ : state) {
        ui::CDlgMessages window(Services(lock));
        listed = window.Page(ui::MessagesPageKind::Received)->Page().Rows().size();
        benchmark::DoNotOptimize(listed);
    }
    state.counters["stored"] = StoredMessages;
    state.counters["listed"] = static_cast<double>(listed);
}
BENCHMARK(BM_OpenWindowOn100000Messages)->Unit(benchmark::kMillisecond);

void BM_ListNextOlderPage(benchmark::State& state) {
    std::mutex lock;
    ui::CDlgMessages window(Services(lock));
    ui::CMessagesListPage* page = window.Page(ui::MessagesPageKind::Received);
    QScrollBar* bar = page->List()->verticalScrollBar();
    window.resize(520, 520);
    window.show();
    for (auto _ : state) {
        if (!page->Page().CanFetchMore()) {
            state.SkipWithError("the store ran out of pages");
            break;
        }
        bar->setValue(bar->maximum());  // the list reads the next page at its end
        QApplication::processEvents();
    }
    state.counters["rows_per_page"] = ui::MessagesPage::PageSize;
}
BENCHMARK(BM_ListNextOlderPage)->Unit(benchmark::kMillisecond)->Iterations(100);

void BM_Show1000FormattedMessages(benchmark::State& state) {
    std::mutex lock;
    ui::CDlgMessages window(Services(lock));
    ui::CMessagesListPage* page = window.Page(ui::MessagesPageKind::Received);
    window.resize(520, 520);
    window.show();
    QScrollBar* bar = page->List()->verticalScrollBar();
    while (page->List()->topLevelItemCount() < 1000 && page->Page().CanFetchMore()) {
        bar->setValue(bar->maximum());  // the list reads the next page at its end
        QApplication::processEvents();
    }
    QTreeWidget* list = page->List();
    const int rows = std::min(list->topLevelItemCount(), 1000);
    for (auto _ : state) {
        for (int row = 0; row < rows; ++row) {
            list->setCurrentItem(list->topLevelItem(row));
        }
        benchmark::DoNotOptimize(page->Pane()->document()->characterCount());
    }
    state.counters["messages"] = rows;
}
BENCHMARK(BM_Show1000FormattedMessages)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    const TempHome home;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
